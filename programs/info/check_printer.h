// SPDX-License-Identifier: MIT
#pragma once

#include "info/checker.h"
#include "info/library.h"
#include "info/read_library.h"

namespace info {

// A library's check for people: a line per finding kept (rule, structure, byte, what, why), a line per rule with
// more findings than were kept, and a last line with the counts.
void printCheckText(const Library& library, const Check& check);
// The same as a JSON object: the rules of the set with their limits, counts and first findings; or the error.
void printCheckJson(const Library& library, Outcome outcome, const Check& check);

}  // namespace info
