/* SPDX-License-Identifier: MIT */
/*
 * Compares stream files record by record, ignoring the 24-byte timestamps
 * of BGNLIB and BGNSTR (the time of day at which each was written).
 * Usage: gds_compare REFERENCE.gds OTHER.gds... compares each OTHER with
 * REFERENCE. Exit status 0 when all match, 1 when one differs (the first
 * difference is printed), 2 on a file that cannot be read or is not a
 * sequence of whole records.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned char *slurp(const char *name, long *size) {
    FILE *file = fopen(name, "rb");
    unsigned char *bytes;
    if (file == NULL || fseek(file, 0, SEEK_END) != 0 || (*size = ftell(file)) < 0 || fseek(file, 0, SEEK_SET) != 0) {
        fprintf(stderr, "gds_compare: cannot read %s\n", name);
        exit(2);
    }
    bytes = malloc((size_t)*size + 1);
    if (bytes == NULL || fread(bytes, 1, (size_t)*size, file) != (size_t)*size) {
        fprintf(stderr, "gds_compare: cannot read %s\n", name);
        exit(2);
    }
    fclose(file);
    return bytes;
}

/* Blanks the timestamps of a; returns the number of records, or -1 when a
 * record runs past the end or is shorter than its own header. */
static long maskTimestamps(unsigned char *a, long size, const char *name) {
    long at = 0, records = 0;
    while (at < size) {
        long length;
        if (size - at < 4) break;
        length = (long)a[at] << 8 | a[at + 1];
        if (length < 4 || length % 2 != 0 || at + length > size) break;
        /* BGNLIB is tag 01 02, BGNSTR is tag 05 02: a 2-byte integer array of
         * twelve values, that is 24 bytes of payload. */
        if (length == 28 && a[at + 3] == 0x02 && (a[at + 2] == 0x01 || a[at + 2] == 0x05)) memset(a + at + 4, 0, 24);
        at += length;
        ++records;
    }
    if (at != size) {
        fprintf(stderr, "gds_compare: %s: broken record at byte %ld\n", name, at);
        return -1;
    }
    return records;
}

/* 0 when the files match (timestamps aside), 1 when they differ, 2 when
 * either is not a sequence of records. */
static int compare(const char *nameA, unsigned char *a, long sizeA, const char *nameB, unsigned char *b,
                   long sizeB) {
    long i, common;
    const long recordsA = maskTimestamps(a, sizeA, nameA);
    const long recordsB = maskTimestamps(b, sizeB, nameB);
    if (recordsA < 0 || recordsB < 0) return 2;
    common = sizeA < sizeB ? sizeA : sizeB;
    for (i = 0; i < common; ++i) {
        if (a[i] != b[i]) {
            printf("%s and %s differ at byte %ld: %02x against %02x\n", nameA, nameB, i, a[i], b[i]);
            return 1;
        }
    }
    if (sizeA != sizeB) {
        printf("%s has %ld bytes, %s has %ld\n", nameA, sizeA, nameB, sizeB);
        return 1;
    }
    printf("%s and %s match: %ld bytes, %ld records, timestamps aside\n", nameA, nameB, sizeA, recordsA);
    return 0;
}

int main(int argc, char **argv) {
    unsigned char *reference;
    long referenceSize;
    int i, worst = 0;
    if (argc < 3) {
        fprintf(stderr, "usage: gds_compare REFERENCE.gds OTHER.gds...\n");
        return 2;
    }
    reference = slurp(argv[1], &referenceSize);
    for (i = 2; i < argc; ++i) {
        long size;
        unsigned char *other = slurp(argv[i], &size);
        const int result = compare(argv[1], reference, referenceSize, argv[i], other, size);
        if (result > worst) worst = result;
        free(other);
    }
    free(reference);
    if (worst == 0) printf("PASSED: %d files equal record for record, timestamps aside\n", argc - 1);
    return worst;
}
