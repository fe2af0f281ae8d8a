// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "merge/merge_outcome.h"
#include "merge/part_reader.h"
#include "platform/files.h"

namespace carvelle::merge {

// A part as the merge learned it from its head and end, before the output exists.
struct Part {
    const std::string* path;
    FileIdentity identity;                     // as the part was when its head was read
    std::uint64_t bodyStart = 0, bodyEnd = 0;  // the structures lie between UNITS and ENDLIB
    // Decompressed on the way: its end is known only once the check has read it all.
    bool gzip = false;
    // Its first structure, when that is KLayout's context: written joined with the others' ahead of every part.
    std::uint64_t contextBegin = 0, contextEnd = 0;
    bool hasContext() const { return contextEnd > contextBegin; }
};

// Opens part again (for the check, a comparison or the copy): false, with the failure in outcome, when it cannot
// be opened or is no longer the file whose head was read.
bool reopen(PartReader& reader, const Part& part, Outcome& outcome);
// False, with the failure in outcome, when the file that reader opened is not, or no longer, the one whose head
// was read: asked when a part is opened again and when its reading ends, and before any fault found in its bytes
// is blamed on the part (a part cut or rewritten under the merge reads as damage or as a failed read).
bool unchanged(PartReader& reader, const Part& part, Outcome& outcome);

}  // namespace carvelle::merge
