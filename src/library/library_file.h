// SPDX-License-Identifier: MIT
#pragma once

#include <set>
#include <string>

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
    // True when a file is open on fileStream afterwards.
    bool openFile(const char* fileName);
    // Closes the file if one is open; false when the close failed. Safe to
    // run any number of times.
    bool closeFile();

    OutputFile fileStream;
    // Byte-wise, case-sensitive: std::string compares its chars as unsigned.
    std::set<std::string> structureNames;
};

}  // namespace carvelle
