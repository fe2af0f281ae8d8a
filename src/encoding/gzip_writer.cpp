// SPDX-License-Identifier: MIT
#include "encoding/gzip_writer.h"

#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

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

GzipThreads gzipThreadsSetting(const char* text) {
    GzipThreads setting;
    const unsigned usable = usableProcessors();
    setting.threads = usable < kMaxGzipThreads ? usable : kMaxGzipThreads;
    if (text == nullptr || *text == '\0') return setting;
    // Digits only: strtoul would take a sign, spaces and a wrapped -1.
    const char* digit = text;
    while (*digit >= '0' && *digit <= '9') ++digit;
    if (*digit != '\0') {
        setting.problem = "CARVELLE_GZIP_THREADS is not a whole number from 1 to 16: the default is used";
        return setting;
    }
    while (*text == '0' && text[1] != '\0') ++text;
    if (text[0] == '0') {
        setting.problem = "CARVELLE_GZIP_THREADS=0: at least 1 thread compresses; the default is used";
        return setting;
    }
    if (digit - text > 2 || std::strtoul(text, nullptr, 10) > kMaxGzipThreads) {
        setting.threads = kMaxGzipThreads;
        setting.problem = "CARVELLE_GZIP_THREADS is above 16: 16 threads compress";
        return setting;
    }
    setting.threads = static_cast<unsigned>(std::strtoul(text, nullptr, 10));
    return setting;
}

unsigned gzipThreadsFromEnvironment() { return gzipThreadsSetting(std::getenv("CARVELLE_GZIP_THREADS")).threads; }

struct GzipWriter::Piece {
    GzipWriter* owner = nullptr;
    Piece* nextJob = nullptr;  // the pool's queue, linked through the pieces: no allocation
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

// The process's worker threads, shared by every open writer. One lock guards
// the queue, the threads and the count of writers; a writer's own lock is
// taken only after it is released, never the other way round.
class GzipPool {
public:
    // A writer that wants up to threads workers: the pool grows to that many
    // (fewer when the system refuses a thread). Returns the threads running;
    // 0 leaves the writer out of the pool (its caller compresses).
    static unsigned enter(unsigned threads) {
        GzipPool& pool = current();
        std::unique_lock<std::mutex> lock(pool.mutex_);
        pool.stopped_.wait(lock, [&] { return !pool.stopping_; });
        while (pool.threads_.size() < threads) {
            try {
                pool.threads_.emplace_back([&pool] { pool.run(); });
            } catch (...) {
                break;  // fewer threads: the ones running do the work
            }
        }
        if (pool.threads_.empty()) return 0;
        ++pool.writers_;
        return static_cast<unsigned>(pool.threads_.size());
    }

    // The writer's pieces are all written: the last writer out stops the
    // threads and waits for them, so that none outlives the last file (and
    // their compressors are freed).
    static void leave() {
        GzipPool& pool = current();
        std::vector<std::thread> ending;
        {
            std::lock_guard<std::mutex> lock(pool.mutex_);
            if (--pool.writers_ > 0) return;
            pool.stopping_ = true;
            ending.swap(pool.threads_);
        }
        pool.workReady_.notify_all();
        for (std::thread& thread : ending) thread.join();
        {
            std::lock_guard<std::mutex> lock(pool.mutex_);
            pool.stopping_ = false;
        }
        pool.stopped_.notify_all();
    }

    static void submit(GzipWriter::Piece& piece) {
        GzipPool& pool = current();
        {
            std::lock_guard<std::mutex> lock(pool.mutex_);
            piece.nextJob = nullptr;
            (pool.last_ != nullptr ? pool.last_->nextJob : pool.first_) = &piece;
            pool.last_ = &piece;
        }
        pool.workReady_.notify_one();
    }

private:
    // The pool of this process: one made after a fork belongs to the child,
    // and the parent's (whose threads do not exist here and whose lock may
    // have been held at the fork) is left untouched, never destroyed.
    static GzipPool& current() {
        // Made in place and never destroyed: a destructor at exit would meet
        // threads still waiting on the pool (or, in a child, the parent's
        // threads, which do not exist there).
        alignas(GzipPool) static unsigned char storage[sizeof(GzipPool)];
        static std::atomic<bool> made{false};
        static ProcessMark owner;
        static std::mutex making;
        auto* pool = reinterpret_cast<GzipPool*>(storage);
        if (made.load(std::memory_order_acquire) && !owner.forked()) return *pool;
        if (owner.forked()) new (&making) std::mutex;  // the parent's may have been held at the fork
        std::lock_guard<std::mutex> lock(making);
        if (!made.load(std::memory_order_relaxed) || owner.forked()) {
            // In a child the parent's pool is overwritten, not destroyed.
            pool = new (storage) GzipPool;
            owner.take();
            made.store(true, std::memory_order_release);
        }
        return *pool;
    }

    void run() {
        // A thread without a compressor still takes pieces and fails them,
        // so that no writer waits for a piece nobody compresses.
        std::unique_ptr<GzipWriter::Compressor> compressor(new (std::nothrow) GzipWriter::Compressor);
        const bool ready = compressor && compressor->ready();
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            workReady_.wait(lock, [&] { return first_ != nullptr || stopping_; });
            if (first_ == nullptr) return;  // stopping, and nothing left
            GzipWriter::Piece& piece = *first_;
            first_ = piece.nextJob;
            if (first_ == nullptr) last_ = nullptr;
            lock.unlock();
            GzipWriter& writer = *piece.owner;
            // A failed writer's piece is dropped, not compressed.
            const bool ok = ready && (writer.hasFailed() || GzipWriter::compressPiece(*compressor, piece, writer.framing_));
            writer.completed(piece, ok);  // the writer may be gone once this returns
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable workReady_;  // a piece in the queue, or stop
    std::condition_variable stopped_;    // the threads of a stop are joined
    std::vector<std::thread> threads_;
    GzipWriter::Piece* first_ = nullptr;
    GzipWriter::Piece* last_ = nullptr;
    unsigned writers_ = 0;
    bool stopping_ = false;
};

GzipWriter::GzipWriter(OutputFile& file, Framing framing) : file_(file), framing_(framing) {}

bool GzipWriter::prepare(unsigned threads) {
    if (threads < 1) threads = 1;
    if (threads > kMaxGzipThreads) threads = kMaxGzipThreads;
    // The one place the writer's containers grow.
    try {
        ring_.resize(ringSize(threads));
    } catch (const std::bad_alloc&) {
        failed_ = true;
        return false;
    }
    for (Piece& piece : ring_) {
        piece.owner = this;
        piece.input.reset(new (std::nothrow) std::uint8_t[kPieceSize]);
        piece.output.reset(new (std::nothrow) std::uint8_t[kOutputRoom]);
        if (!piece.input || !piece.output) failed_ = true;
    }
    if (failed_) return false;
    if (threads > 1) workers_ = GzipPool::enter(threads);
    if (workers_ == 0) {
        ring_.resize(1);
        inlineCompressor_.reset(new (std::nothrow) Compressor);
        if (!inlineCompressor_ || !inlineCompressor_->ready()) failed_ = true;
        return !failed_;
    }
    return true;
}

GzipWriter::~GzipWriter() { finish(); }

void GzipWriter::start() {
    started_ = true;
    if (framing_ == Framing::Blocks || put(kHeader, sizeof kHeader)) return;
    std::lock_guard<std::mutex> lock(mutex_);  // a worker may be failing too
    failed_ = true;
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
        if (filling_ == 0 && workers_ != 0 && !waitForFreePiece()) return false;
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
    if (workers_ != 0 && !waitForFreePiece()) return false;
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
    if (workers_ == 0) {
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
    GzipPool::submit(piece);
}

void GzipWriter::completed(Piece& piece, bool ok) {
    std::unique_lock<std::mutex> lock(mutex_);
    piece.ok = ok;
    if (!ok) failed_ = true;
    piece.compressed = true;
    writeReady(lock);
}

void GzipWriter::writeReady(std::unique_lock<std::mutex>& lock) {
    // One writer at a time; whoever finishes the next piece in order writes
    // it, and the pieces after it that are ready.
    if (writing_) return;
    writing_ = true;
    while (written_ < submitted_) {
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

bool GzipWriter::hasFailed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

void GzipWriter::abandon() {
    finished_ = true;
    failed_ = true;
    for (Piece& piece : ring_) {
        piece.input.reset();
        piece.output.reset();
    }
    inlineCompressor_.reset();
}

bool GzipWriter::finish() {
    // Once finished, no worker is left to set failed_.
    if (finished_) return !failed_;
    finished_ = true;
    if (filling_ > 0 && !hasFailed()) submitFilled();
    filling_ = 0;
    if (workers_ != 0) {
        {
            // Every piece submitted is written or dropped before the writer
            // leaves the pool: no worker holds one of its pieces after this.
            std::unique_lock<std::mutex> lock(mutex_);
            pieceFree_.wait(lock, [&] { return written_ == submitted_; });
        }
        workers_ = 0;
        GzipPool::leave();
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
