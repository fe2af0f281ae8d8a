// SPDX-License-Identifier: MIT
#include "library/library_file.h"

namespace carvelle {

LibraryFile::~LibraryFile() { closeFile(); }

bool LibraryFile::openFile(const char* fileName) { return fileStream.open(fileName); }

bool LibraryFile::closeFile() { return fileStream.close(); }

}  // namespace carvelle
