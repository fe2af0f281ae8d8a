// SPDX-License-Identifier: MIT
#include "info/printing.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace info {

std::string number(double value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    return text;
}

std::vector<std::pair<std::uint32_t, const Counts*>> sortedLayers(const Structure& s) {
    std::vector<std::pair<std::uint32_t, const Counts*>> layers;
    for (const auto& [key, counts] : s.layers) layers.emplace_back(key, &counts);
    std::sort(layers.begin(), layers.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return layers;
}

std::vector<std::pair<std::string, const Reference*>> sortedReferences(const Structure& s) {
    std::vector<std::pair<std::string, const Reference*>> references;
    for (const auto& [name, reference] : s.references) references.emplace_back(name, &reference);
    std::sort(references.begin(), references.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return references;
}

std::uint64_t total(const Counts& counts) { return std::accumulate(counts.begin(), counts.end(), std::uint64_t{0}); }

}  // namespace info
