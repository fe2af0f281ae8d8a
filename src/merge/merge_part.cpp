// SPDX-License-Identifier: MIT
#include "merge/merge_part.h"

namespace carvelle::merge {

bool reopen(PartReader& reader, const Part& part, Outcome& outcome) {
    std::string error;
    if (!reader.open(*part.path, error)) return outcome.fail(MergeFailure::Open, error);
    return unchanged(reader, part, outcome);
}

bool unchanged(PartReader& reader, const Part& part, Outcome& outcome) {
    std::string error;
    if (reader.identity() == part.identity && reader.unchanged(error)) return true;
    return outcome.fail(MergeFailure::PartChanged, "part " + *part.path +
                                                       " was changed or cut while it was merged (its size, times "
                                                       "or file are no longer those it had when its head was read)");
}

}  // namespace carvelle::merge
