// SPDX-License-Identifier: MIT
#pragma once

#include <set>
#include <string>

#include "encoding/output.h"

namespace carvelle {

// The output of one library and the names of the structures begun in it; a
// base of LibraryWriter, so that the output outlives the writer's buffer.
class LibraryFile {
public:
    LibraryFile() = default;
    LibraryFile(const LibraryFile&) = delete;
    LibraryFile& operator=(const LibraryFile&) = delete;
    virtual ~LibraryFile() = default;

protected:
    // A name ending in .gz compresses; without a deflate library, or without
    // memory for it, such a name is refused before the file is touched.
    Output output;
    // Byte-wise, case-sensitive: std::string compares its chars as unsigned.
    std::set<std::string> structureNames;
};

}  // namespace carvelle
