// SPDX-License-Identifier: MIT
// Carvelle merge: joins part libraries into one library.
//
// The output gets one HEADER (the highest version among the parts), BGNLIB
// (now), LIBNAME (the output name exactly as given, as GDS_BeginLib writes
// it), the optional head records that every part has alike, and UNITS (the
// first part's bytes), then every structure of every part in part order, byte
// for byte, then ENDLIB. A structure that two parts define with the same
// records (BGNSTR's timestamps aside) is written once, where it first comes.
// KLayout's $$$CONTEXT_INFO$$$ structure, which KLayout reads only as a
// library's first structure, is written first: the contexts of every part
// that has one joined (one entry per cell), refused when two parts describe
// one cell otherwise. References that would close a cycle across the parts
// are refused.
// It is written as "<output>.merging-<pid>-<n>" in the output's folder and
// renamed to the output name once complete: a refused or failed merge leaves
// no output file (an existing file of that name stays as it was). A part
// whose name ends in .gz (any case) is decompressed as it is read, and an
// output whose name does is compressed as gzip on worker threads
// (CARVELLE_GZIP_THREADS, as the library's .gz files). An output whose name
// ends in .oas (any case) is an OASIS file: after the same checks, each
// element of the parts is written again through the library's OASIS writer,
// and one it refuses fails the merge with NotInOasis. Properties, NODE
// elements and KLayout's context structure are not carried into OASIS.
//
// Memory stays constant whatever the parts' sizes; only the structure names
// are kept, to find a name defined twice. During the merge SIGINT and SIGTERM
// stop it and remove the temporary file, and are then delivered to the
// handlers that were in place; SIGXFSZ is ignored, so that a file-size limit
// is reported as a write error. Link Carvelle::merge.
#ifndef CARVELLE_MERGE_HPP
#define CARVELLE_MERGE_HPP

#include <cstdint>
#include <string>
#include <vector>

namespace carvelle {

/// Why a merge did not complete. The numbers are stable.
enum class MergeFailure : int {
    None = 0,
    NoParts = 1,             // the part list is empty: no UNITS to write
    OutputIsPart = 2,        // the output names a file that is also a part
    Open = 3,                // a part cannot be read or is no regular file (a FIFO, a device), or the output
                             // cannot be created (name too long, a folder)
    NotALibrary = 4,         // a part is not one complete library (not GDSII, cut short, no ENDLIB, records
                             // that do not tile the file, a record a library does not hold at that place)
    UnitsDiffer = 5,         // a part's UNITS differ from the first part's by more than one unit in the last
                             // place of either real
    DuplicateStructure = 6,  // a structure name is defined twice (in two parts, or twice in one) with
                             // different records; identical definitions are kept once
    Write = 7,               // writing, closing or renaming the output failed (a full disk, a file-size limit)
    HeadDiffers = 8,         // the parts' optional head records (REFLIBS, FONTS, GENERATIONS, ATTRTABLE, FORMAT,
                             // MASK, ENDMASKS) differ
    PartChanged = 9,         // a part was cut, rewritten or replaced while it was merged
    Interrupted = 10,        // SIGINT or SIGTERM (Ctrl-C) came during the merge
    Cycle = 11,              // the structures' references make a cycle (A -> B -> A) once the parts are joined,
                             // which readers refuse
    PartRepeated = 12,       // one file is given twice as a part (the same file under two names counts)
    NotInOasis = 13,         // an .oas output: an element or name of a part that OASIS cannot hold (an odd path
                             // width, round path ends, absolute magnification, ...), or UNITS it has no unit for
};

/// The exit status of carvelle-merge for each failure: 0 when the output was written, 10 + the failure's number
/// for a refusal (11 to 23), 2 for a usage error. A host running the program maps it back without reading text.
constexpr int merge_exit_status(MergeFailure failure) {
    return failure == MergeFailure::None ? 0 : 10 + static_cast<int>(failure);
}
inline constexpr int kMergeUsageExitStatus = 2;

struct MergeResult {
    MergeFailure failure = MergeFailure::None;
    std::string message;      // what was refused and where (part path, byte offset); empty on success
    std::uint64_t bytes = 0;  // size of the output (of the compressed file, for a .gz output)
    std::uint64_t structures = 0;
    explicit operator bool() const noexcept { return failure == MergeFailure::None; }
};

/// Merges parts (at least one; a part with no structures adds none) into
/// output. Never throws.
MergeResult merge_libraries(const std::string& output, const std::vector<std::string>& parts) noexcept;

}  // namespace carvelle

#endif  // CARVELLE_MERGE_HPP
