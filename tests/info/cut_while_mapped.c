/* SPDX-License-Identifier: MIT */
/* Loaded into carvelle-info by the tests (LD_PRELOAD): right after the program maps a window of the file named
 * by CARVELLE_TEST_CUT, the file is cut to nothing, as another process might cut it. The program's next read of
 * the window lies past the file's end. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

typedef void* (*MapFunction)(void*, size_t, int, int, int, off_t);

static void* mapThenCut(const char* name, void* address, size_t length, int protection, int flags, int file,
                        off_t offset) {
    const MapFunction map = (MapFunction)dlsym(RTLD_NEXT, name);
    void* mapped = map(address, length, protection, flags, file, offset);
    const char* path = getenv("CARVELLE_TEST_CUT");
    struct stat mappedFile, named;
    if (mapped != MAP_FAILED && file >= 0 && path != NULL && fstat(file, &mappedFile) == 0 && stat(path, &named) == 0 &&
        mappedFile.st_dev == named.st_dev && mappedFile.st_ino == named.st_ino && truncate(path, 0) != 0) {
        abort();
    }
    return mapped;
}

void* mmap(void* address, size_t length, int protection, int flags, int file, off_t offset) {
    return mapThenCut("mmap", address, length, protection, flags, file, offset);
}

void* mmap64(void* address, size_t length, int protection, int flags, int file, off_t offset) {
    return mapThenCut("mmap64", address, length, protection, flags, file, offset);
}
