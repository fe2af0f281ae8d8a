// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>

#include "encoding/real8.h"

namespace carvelle::merge {

// What the parts' heads must share for the merge to write one head for them all: UNITS, and the records other
// writers put between LIBNAME and UNITS.

// Real `index` (0 or 1) of a UNITS payload.
Real8 unitAt(const std::string& payload, std::size_t index);
// Two UNITS payloads whose reals are the same within one unit in the last place.
bool sameUnits(const std::string& a, const std::string& b);
// A UNITS payload as "user unit 5.0000000000000001e-03 (3E 14 7A E1 47 AE 14 7B), meter unit ...": enough
// digits to tell apart two doubles, always in one layout so that two values line up, and each real's bytes,
// which tell apart what the digits cannot.
std::string describeUnits(const std::string& payload);
// The first record at which two runs of whole head records differ, by name; empty when they are the same.
std::string firstDifferentRecord(const std::string& a, const std::string& b);

}  // namespace carvelle::merge
