// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "info/library.h"

namespace info {

// What the text and the JSON printers share: the order of layers and references, and numbers as digits.

std::string number(double value, int digits = 17);
std::vector<std::pair<std::uint32_t, const Counts*>> sortedLayers(const Structure& s);
std::vector<std::pair<std::string, const Reference*>> sortedReferences(const Structure& s);
std::uint64_t total(const Counts& counts);

}  // namespace info
