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
    return outcome.fail(MergeFailure::PartChanged,
                        error.empty() ? "part " + *part.path + " changed while it was merged" : error);
}

}  // namespace carvelle::merge
