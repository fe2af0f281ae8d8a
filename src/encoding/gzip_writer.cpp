// SPDX-License-Identifier: MIT
#include "encoding/gzip_writer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include "oasis/cblock.h"

namespace carvelle {

namespace {

// A piece that does not compress goes out as stored blocks of at most 65535
// bytes, 5 bytes of header each.
constexpr std::size_t kStoredBlock = 65535;
constexpr std::size_t kOutputRoom =
    GzipWriter::kPieceSize + 5 * ((GzipWriter::kPieceSize + kStoredBlock - 1) / kStoredBlock);

// Pieces in flight: one filling, one compressing per worker, and as many
// again compressed and waiting for their turn to be written; 2 MiB each, at
// most 20 of them, so that 16 workers with their compressors stay under
// 50 MiB.
constexpr std::size_t kMaxPieces = 20;
std::size_t ringSize(unsigned threads) {
    if (threads <= 1) return 1;
    return std::min(2 * std::size_t{threads} + 1, kMaxPieces);
}

// ID1 ID2, deflate, no flags, no time, no extra flags, unknown system: the
// same ten bytes on every platform.
constexpr std::uint8_t kHeader[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 0xff};
// The final block: fixed Huffman codes, only the end-of-block code.
constexpr std::uint8_t kLastBlock[2] = {0x03, 0x00};

// CRC-32 arithmetic modulo the reflected polynomial: the CRC of A then B is
// CRC(A) times x^(8 |B|), plus CRC(B).
constexpr std::uint32_t kPolynomial = 0xedb88320u;

std::uint32_t multiplyModP(std::uint32_t a, std::uint32_t b) {
    std::uint32_t m = std::uint32_t{1} << 31;
    std::uint32_t product = 0;
    for (;;) {
        if (a & m) {
            product ^= b;
            if ((a & (m - 1)) == 0) break;
        }
        m >>= 1;
        b = (b & 1) ? (b >> 1) ^ kPolynomial : b >> 1;
    }
    return product;
}

// x^(8 n) modulo the polynomial, by squaring.
std::uint32_t byteShiftModP(std::uint64_t n) {
    std::uint32_t power = std::uint32_t{1} << 30;                    // x^1
    for (int k = 0; k < 3; ++k) power = multiplyModP(power, power);  // x^8
    std::uint32_t result = std::uint32_t{1} << 31;                   // x^0
    for (; n != 0; n >>= 1) {
        if (n & 1) result = multiplyModP(power, result);
        power = multiplyModP(power, power);
    }
    return result;
}

std::uint32_t combineCrc(std::uint32_t first, std::uint32_t second, std::uint64_t secondSize) {
    return multiplyModP(byteShiftModP(secondSize), first) ^ second;
}

// CRC-32 of any length, in steps that every deflate library takes.
std::uint32_t crc32Of(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const std::size_t step = size < kMaxStep ? size : kMaxStep;
        crc = crc32Step(crc, data, step);
        data += step;
        size -= step;
    }
    return crc;
}

void storeLittleEndian32(std::uint8_t* at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k) at[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

// A CBLOCK of size bytes of in, built in out (kOutputRoom bytes): its header
// starts at start. False when the block would not be smaller than in, which
// then goes out as it came; kFailed from the compressor is failed.
bool frameBlock(PieceCompressor& compressor, const std::uint8_t* in, std::size_t size, std::uint8_t* out,
                std::size_t& start, std::size_t& framed, bool& failed) {
    failed = false;
    std::uint8_t* body = out + kCblockHeaderRoom;
    const std::size_t room = kOutputRoom - kCblockHeaderRoom - sizeof kLastBlock;
    const std::size_t compressed = compressor.compress(in, size, body, room);
    if (compressed == PieceCompressor::kFailed) {
        failed = true;
        return false;
    }
    if (compressed == PieceCompressor::kDoesNotFit) return false;
    // The empty final block closes the stream.
    std::memcpy(body + compressed, kLastBlock, sizeof kLastBlock);
    const std::size_t streamSize = compressed + sizeof kLastBlock;
    std::uint8_t* header = putCblockHeader(body, size, streamSize);
    start = static_cast<std::size_t>(header - out);
    framed = static_cast<std::size_t>(body + streamSize - header);
    return framed < size;
}

}  // namespace

bool hasGzipSuffix(const char* name) {
    const std::size_t length = std::strlen(name);
    if (length < 3) return false;
    const char* end = name + length - 3;
    return end[0] == '.' && (end[1] == 'g' || end[1] == 'G') && (end[2] == 'z' || end[2] == 'Z');
}

unsigned gzipThreadsFromEnvironment() {
    if (const char* text = std::getenv("CARVELLE_GZIP_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value >= 1 && value <= long{kMaxGzipThreads})
            return static_cast<unsigned>(value);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores == 0) return 1;
    return cores < kMaxGzipThreads ? cores : kMaxGzipThreads;
}

struct GzipWriter::Piece {
    std::unique_ptr<std::uint8_t[]> input;
    std::unique_ptr<std::uint8_t[]> output;
    std::size_t inputSize = 0;
    std::size_t outputSize = 0;
    std::uint32_t crc = 0;
    std::size_t outputStart = 0;  // Blocks: where the CBLOCK's header begins in output
    bool compressed = false;      // by a worker, waiting for its turn
    bool ok = true;
    bool stored = false;    // Blocks: the input goes out as it came
    bool anchored = false;  // Blocks: its offset in the file is kept
};

class GzipWriter::Compressor : public PieceCompressor {};

GzipWriter::GzipWriter(OutputFile& file, Framing framing) : file_(file), framing_(framing) {}

bool GzipWriter::prepare(unsigned threads) {
    if (threads < 1) threads = 1;
    if (threads > kMaxGzipThreads) threads = kMaxGzipThreads;
    // The one place the writer's containers grow.
    try {
        ring_.resize(ringSize(threads));
        workers_.reserve(threads);
    } catch (const std::bad_alloc&) {
        failed_ = true;
        return false;
    }
    for (Piece& piece : ring_) {
        piece.input.reset(new (std::nothrow) std::uint8_t[kPieceSize]);
        piece.output.reset(new (std::nothrow) std::uint8_t[kOutputRoom]);
        if (!piece.input || !piece.output) failed_ = true;
    }
    if (failed_) return false;
    if (threads > 1) startWorkers(threads);
    if (workers_.empty()) {
        ring_.resize(1);
        inlineCompressor_.reset(new (std::nothrow) Compressor);
        if (!inlineCompressor_ || !inlineCompressor_->ready()) failed_ = true;
        return !failed_;
    }
    return true;  // a worker without a compressor reports through write
}

GzipWriter::~GzipWriter() { finish(); }

void GzipWriter::start() {
    started_ = true;
    if (framing_ == Framing::Blocks || put(kHeader, sizeof kHeader)) return;
    std::lock_guard<std::mutex> lock(mutex_);  // a worker may be failing too
    failed_ = true;
}

void GzipWriter::startWorkers(unsigned threads) {
    for (unsigned k = 0; k < threads; ++k) {
        try {
            workers_.emplace_back([this] { workerLoop(); });
        } catch (const std::system_error&) {
            break;  // fewer workers, or none: the caller compresses
        }
    }
}

bool GzipWriter::compressPiece(Compressor& compressor, Piece& piece, Framing framing) {
    if (framing == Framing::Blocks) {
        bool failed = false;
        piece.stored = !frameBlock(compressor, piece.input.get(), piece.inputSize, piece.output.get(),
                                   piece.outputStart, piece.outputSize, failed);
        if (failed) return false;
        const std::uint8_t* written = piece.stored ? piece.input.get() : piece.output.get() + piece.outputStart;
        if (piece.stored) piece.outputSize = piece.inputSize;
        piece.crc = crc32Of(0, written, piece.outputSize);
        return true;
    }
    piece.crc = crc32Of(0, piece.input.get(), piece.inputSize);
    std::size_t size = compressor.compress(piece.input.get(), piece.inputSize, piece.output.get(), kOutputRoom);
    if (size == PieceCompressor::kFailed) return false;
    if (size == PieceCompressor::kDoesNotFit) {
        // Stored blocks, not final; the stream stays on a byte boundary.
        std::uint8_t* out = piece.output.get();
        for (std::size_t at = 0; at < piece.inputSize; at += kStoredBlock) {
            const std::size_t length = piece.inputSize - at < kStoredBlock ? piece.inputSize - at : kStoredBlock;
            const auto word = static_cast<std::uint16_t>(length);
            const auto complement = static_cast<std::uint16_t>(~word);
            *out++ = 0;
            *out++ = static_cast<std::uint8_t>(word);
            *out++ = static_cast<std::uint8_t>(word >> 8);
            *out++ = static_cast<std::uint8_t>(complement);
            *out++ = static_cast<std::uint8_t>(complement >> 8);
            std::memcpy(out, piece.input.get() + at, length);
            out += length;
        }
        size = static_cast<std::size_t>(out - piece.output.get());
    }
    piece.outputSize = size;
    return true;
}

bool GzipWriter::write(const void* data, std::size_t size) {
    auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        Piece& piece = ring_[submitted_ % ring_.size()];
        if (filling_ == 0 && !workers_.empty() && !waitForFreePiece()) return false;
        const std::size_t step = kPieceSize - filling_ < size ? kPieceSize - filling_ : size;
        std::memcpy(piece.input.get() + filling_, bytes, step);
        filling_ += step;
        bytes += step;
        size -= step;
        if (filling_ == kPieceSize) submitFilled();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return !failed_;
}

bool GzipWriter::putPiece(Piece& piece) {
    // Only the thread that writes touches the counts and the anchors.
    if (framing_ == Framing::Gzip) {
        if (!put(piece.output.get(), piece.outputSize)) return false;
        crc_ = combineCrc(crc_, piece.crc, piece.inputSize);
        size_ += static_cast<std::uint32_t>(piece.inputSize);
        return true;
    }
    if (piece.anchored) {
        try {
            anchors_.push_back(file_.written());
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    const std::uint8_t* bytes = piece.stored ? piece.input.get() : piece.output.get() + piece.outputStart;
    if (!put(bytes, piece.outputSize)) return false;
    crc_ = combineCrc(crc_, piece.crc, piece.outputSize);
    return true;
}

bool GzipWriter::writeBlock(const void* data, std::size_t size, bool anchored) {
    if (size == 0) return !hasFailed();  // no piece is empty: compressors take one byte at least
    if (!workers_.empty() && !waitForFreePiece()) return false;
    Piece& piece = ring_[submitted_ % ring_.size()];
    std::memcpy(piece.input.get(), data, size);
    piece.anchored = anchored;
    filling_ = size;
    submitFilled();
    return !hasFailed();
}

bool GzipWriter::waitForFreePiece() {
    // Until the piece's last use is written or dropped.
    std::unique_lock<std::mutex> lock(mutex_);
    pieceFree_.wait(lock, [&] { return submitted_ - written_ < ring_.size() || failed_; });
    return !failed_;
}

bool GzipWriter::writeRaw(const void* data, std::size_t size) {
    if (hasFailed()) return false;
    if (!put(data, size)) {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
        return false;
    }
    crc_ = crc32Of(crc_, static_cast<const std::uint8_t*>(data), size);
    return true;
}

void GzipWriter::submitFilled() {
    Piece& piece = ring_[submitted_ % ring_.size()];
    piece.inputSize = filling_;
    filling_ = 0;
    if (workers_.empty()) {
        // The caller compresses and writes.
        if (failed_) return;
        if (!compressPiece(*inlineCompressor_, piece, framing_) || !putPiece(piece)) {
            failed_ = true;
            return;
        }
        ++submitted_;
        written_ = submitted_;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        piece.compressed = false;
        ++submitted_;
    }
    workReady_.notify_one();
}

void GzipWriter::workerLoop() {
    // A worker without a compressor does no harm: it never takes a piece,
    // and the others (or finish) do the work.
    std::unique_ptr<Compressor> compressor(new (std::nothrow) Compressor);
    if (!compressor || !compressor->ready()) {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
        pieceFree_.notify_all();
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        workReady_.wait(lock, [&] { return taken_ < submitted_ || stopping_; });
        if (taken_ == submitted_) return;  // stopping, and nothing left
        Piece& piece = ring_[taken_ % ring_.size()];
        ++taken_;
        const bool skip = failed_;
        lock.unlock();
        piece.ok = skip || compressPiece(*compressor, piece, framing_);
        lock.lock();
        if (!piece.ok) failed_ = true;
        piece.compressed = true;
        writeReady(lock);
    }
}

void GzipWriter::writeReady(std::unique_lock<std::mutex>& lock) {
    // One writer at a time; whoever finishes the next piece in order writes
    // it, and the pieces after it that are ready.
    if (writing_) return;
    writing_ = true;
    while (written_ < taken_) {
        Piece& piece = ring_[written_ % ring_.size()];
        if (!piece.compressed) break;
        if (!failed_) {
            lock.unlock();
            const bool ok = putPiece(piece);
            lock.lock();
            if (!ok) failed_ = true;
        }
        piece.compressed = false;
        ++written_;
        pieceFree_.notify_all();
    }
    writing_ = false;
}

void GzipWriter::stopWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    workReady_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
}

bool GzipWriter::hasFailed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

bool GzipWriter::finish() {
    // Once finished, no worker is left to set failed_.
    if (finished_) return !failed_;
    finished_ = true;
    if (filling_ > 0 && !hasFailed()) submitFilled();
    filling_ = 0;
    if (!workers_.empty()) {
        {
            // Every piece submitted is written or dropped before the workers
            // stop; a worker that failed to start its compressor took none.
            std::unique_lock<std::mutex> lock(mutex_);
            pieceFree_.wait(lock, [&] { return written_ == submitted_ || (failed_ && taken_ == written_); });
        }
        stopWorkers();
    }
    if (!started_) failed_ = true;
    if (!failed_ && framing_ == Framing::Gzip) {
        std::uint8_t trailer[sizeof kLastBlock + 8];
        std::memcpy(trailer, kLastBlock, sizeof kLastBlock);
        storeLittleEndian32(trailer + sizeof kLastBlock, crc_);
        storeLittleEndian32(trailer + sizeof kLastBlock + 4, size_);
        if (!put(trailer, sizeof trailer)) failed_ = true;
    }
    ring_.clear();
    ring_.shrink_to_fit();
    inlineCompressor_.reset();
    return !failed_;
}

}  // namespace carvelle
