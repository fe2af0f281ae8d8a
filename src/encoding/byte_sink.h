// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

#include "encoding/output.h"
#include "encoding/record_writer.h"

namespace carvelle {

// The output buffer of one library. Writers reserve room for a whole element,
// store its records through a RecordWriter without a test per value, and
// commit; a full buffer goes to the output in one write, and only there do
// the plain and the compressed kinds part. The first failed write is kept:
// from then on bytes are dropped and failed() stays true.
class ByteSink {
public:
    // Large enough for the largest element (an 8189-vertex BOUNDARY, or an
    // SREF with a 65530-byte name, about 64 KiB) many times over.
    static constexpr std::size_t kCapacity = std::size_t{1} << 20;

    // A megabyte is not cleared for every library: bytes are read only after
    // they have been stored.
    // cppcheck-suppress uninitMemberVar
    explicit ByteSink(Output& output) : output_(output) {}
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;

    // Room for at least size bytes (size <= kCapacity).
    RecordWriter reserve(std::size_t size) {
        if (kCapacity - used_ < size) drain();
        return RecordWriter(buffer_ + used_);
    }
    void commit(const RecordWriter& out) { used_ = static_cast<std::size_t>(out.position() - buffer_); }
    // Takes back the last size bytes committed. Only a reserve drains the
    // buffer, and it drains before it stores, so the bytes of the last commit
    // are still here until the next reserve.
    void takeBack(std::size_t size) { used_ -= size; }

    // Hands the buffered bytes to the file; false once any write has failed.
    bool flush();
    bool failed() const { return failed_; }

private:
    void drain();

    Output& output_;
    std::size_t used_ = 0;
    bool failed_ = false;
    std::uint8_t buffer_[kCapacity];
};

}  // namespace carvelle
