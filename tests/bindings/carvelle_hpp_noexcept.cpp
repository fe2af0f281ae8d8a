// SPDX-License-Identifier: MIT
// carvelle.hpp in a host built without exceptions: only the try_ forms exist,
// and they report every refusal as a result code. Exit status 0 on success.

#include "carvelle.hpp"

#include <cstdio>
#include <vector>

#if CARVELLE_HPP_EXCEPTIONS
#error "this file must be built without exceptions"
#endif

namespace {

int failures = 0;

void expect(int32_t got, int32_t wanted, const char* what) {
    if (got != wanted) {
        std::fprintf(stderr, "%s: got %d, expected %d (%s)\n", what, static_cast<int>(got),
                     static_cast<int>(wanted), carvelle::error_message(got).c_str());
        ++failures;
    }
}

long fileSize(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return -1;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

}  // namespace

int main() {
    const char* path = "carvelle_hpp_noexcept.gds";
    {
        carvelle::Library lib;
        expect(lib.try_open("no/such/folder/x.gds"), GDS_ERR_OPEN, "open in a missing folder");
        if (lib.is_open()) ++failures;
        expect(lib.try_open(path), GDS_OK, "open");
        int32_t result = -1;
        {
            carvelle::Structure top = lib.try_structure("TOP", result);
            expect(result, GDS_OK, "structure");
            expect(lib.try_box(0, 0, 10, 10, 1), GDS_OK, "box");
            const std::vector<carvelle::Point> ring{{0, 0}, {10, 0}, {10, 10}};
            expect(top->try_boundary(ring, 2), GDS_OK, "boundary");
            expect(lib.try_path({{0, 0}}), GDS_ERR_PATH_POINTS, "short path");
            expect(lib.try_text(0, 0, "x", 0, 300), GDS_ERR_TEXTTYPE, "texttype");
            expect(lib.try_structure("OTHER", result).try_end(), GDS_ERR_STRUCT_NOT_OPEN, "refused scope");
            expect(result, GDS_ERR_STRUCT_OPEN, "second structure");
        }
        expect(lib.try_box(0, 0, 1, 1), GDS_ERR_STRUCT_NOT_OPEN, "box after the scope");
        expect(lib.try_close(), GDS_OK, "close");
        expect(lib.try_close(), GDS_ERR_HANDLE, "second close");
    }
    // HEADER 6, BGNLIB 28, LIBNAME 30 ("carvelle_hpp_noexcept.gds" padded to
    // 26), UNITS 20, BGNSTR 28, STRNAME 8, BOX 4+6+8+6+6+44+4 = 78,
    // BOUNDARY 4+6+8+6+6+36+4 = 70, ENDSTR 4, ENDLIB 4.
    const long expected = 6 + 28 + 30 + 20 + 28 + 8 + 78 + 70 + 4 + 4;
    if (fileSize(path) != expected) {
        std::fprintf(stderr, "file size %ld, expected %ld\n", fileSize(path), expected);
        ++failures;
    }
    std::remove(path);
    return failures == 0 ? 0 : 1;
}
