// SPDX-License-Identifier: MIT
#include "library/library_file.h"

#include <new>

namespace carvelle {

LibraryFile::~LibraryFile() { closeFile(); }

bool LibraryFile::openFile(const char* fileName) {
    if (hasGzipSuffix(fileName)) {
        if (!gzipAvailable()) return false;
        try {
            gzip = std::make_unique<GzipWriter>(fileStream, gzipThreadsFromEnvironment());
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    if (!fileStream.open(fileName)) {
        gzip.reset();
        return false;
    }
    if (gzip) gzip->start();
    return true;
}

bool LibraryFile::closeFile() {
    // The workers are joined and the buffers freed before the close.
    const bool compressed = gzip == nullptr || gzip->finish();
    return fileStream.close() && compressed;
}

}  // namespace carvelle
