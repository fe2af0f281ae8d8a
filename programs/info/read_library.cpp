// SPDX-License-Identifier: MIT
#include "info/read_library.h"

#include <memory>
#include <optional>

#include "info/checker.h"
#include "info/figures.h"
#include "info/hierarchy.h"
#include "info/mapped_file.h"
#include "info/properties.h"
#include "merge/part_reader.h"
#include "merge/part_scanner.h"

namespace info {
namespace {

// The reader's messages speak of a merge's parts; this tool speaks of the file it was given, whose name the
// message follows.
std::string aboutTheFile(const std::string& message, const std::string& path) {
    for (const char* verb : {"cannot open", "cannot read"}) {
        const std::string part = std::string(verb) + " part " + path;
        if (message.compare(0, part.size(), part) == 0) return std::string(verb) + " the file" + message.substr(part.size());
    }
    const std::string whole = "part " + path + " is not a complete library: ";
    if (message.compare(0, whole.size(), whole) == 0) return message.substr(whole.size());
    return message;
}

}  // namespace

Outcome read(Library& library, Check* check, std::FILE* properties) {
    carvelle::merge::PartReader file;
    if (!file.open(library.path, library.error)) {
        library.error = aboutTheFile(library.error, library.path);
        return Outcome::Unreadable;
    }
    library.bytes = file.gzip() ? 0 : file.file().size();  // a .gz file's bytes are counted as they come
    carvelle::merge::PartScanner scanner;
    Figures figures(library);
    std::optional<Checker> checker;
    PropertyLister lister(figures, properties);
    if (check != nullptr) {
        scanner.visit(&checker.emplace(*check));
    } else if (properties != nullptr) {
        scanner.visit(&lister);
    } else {
        scanner.visit(&figures);
    }
    MappedFile mapped;
    if (!file.gzip() && mapped.open(library.path)) {
        library.bytes = mapped.size();
        for (;;) {
            const std::uint8_t* window = nullptr;
            std::size_t size = 0;
            if (!mapped.next(window, size, library.error)) return Outcome::Unreadable;
            if (size == 0 || !scanner.feed(window, size)) break;
            scanner.structures().clear();
        }
    } else {
        // Pieces of 1 MiB; a damaged .gz file reports the library bytes decompressed before its fault.
        constexpr std::size_t kPiece = std::size_t{1} << 20;
        const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kPiece]);
        for (;;) {
            const std::size_t got = file.read(buffer.get(), kPiece, library.error);
            if (!library.error.empty()) {
                library.error = aboutTheFile(library.error, library.path);
                if (!file.damaged()) return Outcome::Unreadable;
                // Damaged gzip data: the library's bytes end where its decompression failed.
                library.errorOffset = file.position();
                library.bytes = file.position();
                library.error += ", at byte " + std::to_string(file.position()) + " of the library";
                return Outcome::Damaged;
            }
            if (got == 0) break;
            if (file.gzip()) library.bytes += got;
            if (!scanner.feed(buffer.get(), got)) break;
            scanner.structures().clear();
        }
    }
    if (!scanner.finish()) {
        library.error = scanner.error();
        library.errorOffset = scanner.errorOffset();
        return Outcome::Damaged;
    }
    if (check != nullptr) {
        checker->finish();
    } else {
        findHierarchy(library);
    }
    return Outcome::Read;
}

}  // namespace info
