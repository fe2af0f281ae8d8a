// SPDX-License-Identifier: MIT
#include "info/read_library.h"

#include <memory>

#include "info/figures.h"
#include "info/hierarchy.h"
#include "info/properties.h"
#include "merge/part_reader.h"
#include "merge/part_scanner.h"

namespace info {

Outcome read(Library& library, std::FILE* properties) {
    carvelle::merge::PartReader file;
    if (!file.open(library.path, library.error)) return Outcome::Unreadable;
    library.bytes = file.gzip() ? 0 : file.file().size();  // a .gz file's bytes are counted as they come
    // Pieces of 1 MiB: a damaged .gz file reports the bytes of the whole pieces it gave before its fault.
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kPiece]);
    carvelle::merge::PartScanner scanner;
    Figures figures(library);
    PropertyLister lister(figures, properties);
    scanner.visit(properties != nullptr ? static_cast<carvelle::merge::RecordVisitor*>(&lister) : &figures);
    for (;;) {
        const std::size_t got = file.read(buffer.get(), kPiece, library.error);
        if (!library.error.empty()) return file.damaged() ? Outcome::Damaged : Outcome::Unreadable;
        if (got == 0) break;
        if (file.gzip()) library.bytes += got;
        if (!scanner.feed(buffer.get(), got)) break;
        scanner.structures().clear();
    }
    if (!scanner.finish()) {
        library.error = scanner.error();
        library.errorOffset = scanner.errorOffset();
        return Outcome::Damaged;
    }
    findHierarchy(library);
    return Outcome::Read;
}

}  // namespace info
