// SPDX-License-Identifier: MIT
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "encoding/deflate_backend.h"
#include "platform/files.h"

namespace carvelle {

// True when name ends in ".gz", in any case.
bool hasGzipSuffix(const char* name);

// The worker threads for one gzip file, and what was wrong with the setting.
// CARVELLE_GZIP_THREADS unset or empty: the processors this process may run
// on (its affinity mask, and on Linux its cgroup's CPU quota), at most
// kMaxGzipThreads. A whole number from 1 up is taken, above kMaxGzipThreads
// clamped to it (17 and 10^30 give 16); anything else (0, -1, "abc", "2x")
// gives the default. 1 means the calling thread compresses and no thread is
// started. The library never prints: problem is a sentence for the tools
// and the Python package to show ("" when the setting was taken as it is).
struct GzipThreads {
    unsigned threads = 1;
    const char* problem = "";
};
GzipThreads gzipThreadsSetting(const char* text);
unsigned gzipThreadsFromEnvironment();
inline constexpr unsigned kMaxGzipThreads = 16;

// One gzip member (RFC 1952) written to an open file while the caller adds
// bytes. The bytes are cut into 1 MiB pieces; worker threads deflate each
// piece on its own (empty history, ending on a byte boundary) and the pieces
// are written in order, so the output is one member that every reader takes.
// At most 2 * threads + 1 (at most 20) pieces of one writer are in flight:
// memory stays under 50 MiB a file whatever its size.
//
// The workers belong to the process, not to one writer: every open writer
// hands its pieces to the same pool, which runs as many threads as the
// largest setting among the writers open (so 50 open files with setting 2
// share 2 threads), is started by the first writer and stopped and joined
// by the last one's finish. A child of a fork starts a pool of its own.
//
// Nothing is thrown: the first failed allocation, compression or write is
// kept, and makes write and finish return false; no thread ever waits on a
// failed one. finish frees every piece (and, for the last writer, joins the
// pool's threads).
class GzipWriter {
public:
    static constexpr std::size_t kPieceSize = std::size_t{1} << 20;

    // What a compressed piece becomes in the file: a part of one gzip member,
    // or an OASIS CBLOCK (a whole raw deflate stream behind its record
    // header; a piece that does not shrink goes out as it came).
    enum class Framing : std::uint8_t { Gzip,
                                        Blocks };

    // The compressed bytes go to file, from one thread at a time, in order.
    explicit GzipWriter(OutputFile& file, Framing framing = Framing::Gzip);
    ~GzipWriter();
    GzipWriter(const GzipWriter&) = delete;
    GzipWriter& operator=(const GzipWriter&) = delete;

    // Takes every buffer and starts the workers, before the file is opened:
    // threads is clamped to 1 to kMaxGzipThreads. False when the memory
    // cannot be had (then only finish may follow); runs with fewer threads
    // when the system refuses one.
    bool prepare(unsigned threads);
    // Writes the gzip header, once the file is open.
    void start();
    // Adds size bytes; false once anything has failed (the bytes are then
    // dropped).
    bool write(const void* data, std::size_t size);
    // Blocks: size bytes (at most kPieceSize) as one piece of their own; an
    // anchored piece's offset in the file is kept in anchors(). Nothing is
    // written for size 0.
    bool writeBlock(const void* data, std::size_t size, bool anchored);
    // Blocks: bytes written as they are, before the first piece or after
    // finish, counted in crc().
    bool writeRaw(const void* data, std::size_t size);
    // Blocks: the CRC-32 of every byte written to the file; read after finish.
    std::uint32_t crc() const { return crc_; }
    // Blocks: the file offsets of the anchored pieces, in order; read after finish.
    const std::vector<std::uint64_t>& anchors() const { return anchors_; }
    // Compresses what is left, writes the last block and the trailer, and
    // joins the workers. False when any compression or write failed. Safe to
    // call again; write must not follow it.
    bool finish();

    // In the child of a fork, instead of finish: frees the pieces without
    // the lock (a worker of the parent may have held it at the fork) and
    // marks the writer finished. The workers do not exist in the child: the
    // writer must then be left undestroyed (its threads and condition
    // variables are the parent's), which costs the child a few hundred
    // bytes until it exits.
    void abandon();

    // Worker threads this writer's pieces may run on (0 when the calling
    // thread compresses).
    std::size_t workerCount() const { return workers_; }

private:
    struct Piece;
    class Compressor;
    friend class GzipPool;

    void submitFilled();
    // Waits for the next piece of the ring to be free; false once anything failed.
    bool waitForFreePiece();
    // A worker's end of one piece: compressed (or dropped after a failure),
    // then written with the ready pieces after it.
    void completed(Piece& piece, bool ok);
    // Compresses piece into its output; false when the compressor failed.
    static bool compressPiece(Compressor& compressor, Piece& piece, Framing framing);
    // Writes a compressed piece and counts it; false when the write failed.
    bool putPiece(Piece& piece);
    // Writes the compressed pieces that are next in order; lock held on entry
    // and exit, released while writing.
    void writeReady(std::unique_lock<std::mutex>& lock);

    bool put(const void* data, std::size_t size) { return file_.write(data, size); }
    // failed_, read under the lock while workers may set it.
    bool hasFailed();

    OutputFile& file_;
    const Framing framing_;
    std::vector<Piece> ring_;
    std::vector<std::uint64_t> anchors_;
    std::unique_ptr<Compressor> inlineCompressor_;
    unsigned workers_ = 0;  // 0: the caller compresses; else it holds a place in the pool

    std::mutex mutex_;
    std::condition_variable pieceFree_;  // a piece written or dropped

    // Sequence numbers: pieces submitted by the caller, taken by a worker,
    // written (or dropped after a failure). The piece of number n is
    // ring_[n % ring_.size()].
    std::uint64_t submitted_ = 0;
    std::uint64_t written_ = 0;
    std::size_t filling_ = 0;  // bytes in the piece being filled
    bool writing_ = false;     // a thread is writing pieces to the file
    bool failed_ = false;
    bool started_ = false;
    bool finished_ = false;

    std::uint32_t crc_ = 0;   // of the bytes written so far (Blocks: as they are in the file)
    std::uint32_t size_ = 0;  // their count modulo 2^32, as the trailer keeps it
};

}  // namespace carvelle
