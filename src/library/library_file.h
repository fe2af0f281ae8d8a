// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <set>
#include <string>

#include "encoding/gzip_writer.h"
#include "platform/platform.h"

namespace carvelle {

// The output file of one library and the names of the structures begun in it.
class LibraryFile {
public:
    LibraryFile() = default;
    LibraryFile(const LibraryFile&) = delete;
    LibraryFile& operator=(const LibraryFile&) = delete;
    virtual ~LibraryFile();

protected:
    // True when a file is open on fileStream afterwards. A name ending in
    // .gz also starts gzip, which then takes the bytes meant for the file;
    // without a deflate library, or without memory for it, such a name is
    // refused before the file is touched.
    bool openFile(const char* fileName);
    // Compresses what is left and closes the file if one is open; false when
    // the compression or the close failed. Safe to run any number of times.
    bool closeFile();

    OutputFile fileStream;
    // After fileStream: destroyed first, as it writes to the file.
    std::unique_ptr<GzipWriter> gzip;
    // Byte-wise, case-sensitive: std::string compares its chars as unsigned.
    std::set<std::string> structureNames;
};

}  // namespace carvelle
