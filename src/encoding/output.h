// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "encoding/gzip_writer.h"
#include "oasis/oasis_stream.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace carvelle {

// Where the bytes of one library go, whatever their form on disk: a plain
// file, or, for a name ending in .gz (any case), a gzip member compressed on
// worker threads as the bytes come, or, for a name ending in .oas, an OASIS
// file whose cell records become CBLOCKs on the same threads (the OASIS
// encoder above fills the buffers). The library writes through one, filled
// buffer by filled buffer (ByteSink), and so does the merge; the kind is
// chosen once a buffer.
//
// Nothing is thrown: the first failure is kept and finish reports it (and
// does not give a file written beside its name that name); the writer above
// stops at its own first failure.
class Output {
public:
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() { discard(); }

    // Created (or cut) under name itself: the library's files. A .gz name
    // without a deflate library, or without memory for the compressor, is
    // refused before the file is touched.
    bool open(const char* name);
    // Written under a temporary name beside path, and given path by finish:
    // the merge's output, which never exists incomplete under its name. A
    // .oas path is refused: the merge copies GDSII records.
    bool openBeside(const std::string& path);
    bool isOpen() const { return file_.isOpen(); }
    bool compressed() const { return gzip_ != nullptr; }
    // The OASIS stream of a .oas name, else null.
    OasisStream* oasis() { return oasis_.get(); }

    // The one test between the kinds, once a buffer (not once a value).
    bool write(const void* data, std::size_t size) {
        if (process_.forked()) return false;
        const bool written = gzip_ != nullptr    ? gzip_->write(data, size)
                             : oasis_ != nullptr ? oasis_->write(data, size)
                                                 : file_.write(data, size);
        if (!written) failed_ = true;
        return written;
    }
    // Compresses what is left and writes the trailer, joins the workers,
    // closes the file and (beside) renames it. False when anything failed
    // since the open. Safe to call again.
    bool finish();
    // Gives the output up: a file written beside its name is removed.
    void discard();
    // True in the child of a fork made since the open: the output is the
    // parent's, and finish and discard only free this copy's memory and
    // close its descriptor (see ProcessMark).
    bool forked() const { return process_.forked(); }

    // The plain file, for the merge's copies between files.
    OutputFile& file() { return file_; }
    // Bytes that reached the file: compressed ones for a .gz name.
    std::uint64_t fileBytes() const { return file_.written(); }
    // Why the first failure, as the merge reports it: "cannot write NAME: why".
    std::string failure() const;

private:
    // Starts gzip for a .gz name, before the file is opened; false when this
    // build or the memory cannot.
    bool prepare(const char* name);
    // In a child: frees what this process may free and forgets the rest.
    void abandon();

    enum class Refusal : std::uint8_t { None,
                                        NoDeflate,
                                        NoMemory };

    OutputFile file_;
    // After file_: destroyed first, as it writes to the file.
    std::unique_ptr<GzipWriter> gzip_;
    std::unique_ptr<OasisStream> oasis_;
    std::string path_;     // beside: the name, for failure()
    ProcessMark process_;  // the process that opened the output
    Refusal refusal_ = Refusal::None;
    bool failed_ = false;
};

}  // namespace carvelle
