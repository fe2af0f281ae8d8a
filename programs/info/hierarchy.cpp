// SPDX-License-Identifier: MIT
#include "info/hierarchy.h"

#include <algorithm>

namespace info {

// A depth-first walk without recursion (hierarchies can be deep); each edge back to a structure on the
// walk's path closes one cycle.
std::vector<std::vector<std::size_t>> findCycles(const std::vector<std::vector<std::size_t>>& children) {
    std::vector<std::vector<std::size_t>> cycles;
    enum : std::uint8_t { New,
                          OnPath,
                          Done };
    std::vector<std::uint8_t> mark(children.size(), New);
    std::vector<std::pair<std::size_t, std::size_t>> path;  // structure, next child to visit
    for (std::size_t root = 0; root < children.size(); ++root) {
        if (mark[root] != New) continue;
        path.push_back({root, 0});
        mark[root] = OnPath;
        while (!path.empty()) {
            auto& [node, next] = path.back();
            if (next == children[node].size()) {
                mark[node] = Done;
                path.pop_back();
                continue;
            }
            const std::size_t child = children[node][next++];
            if (mark[child] == New) {
                mark[child] = OnPath;
                path.push_back({child, 0});
            } else if (mark[child] == OnPath) {
                std::vector<std::size_t> cycle;
                auto from = std::find_if(path.begin(), path.end(), [&](const auto& step) { return step.first == child; });
                for (; from != path.end(); ++from) cycle.push_back(from->first);
                cycle.push_back(child);
                cycles.push_back(std::move(cycle));
            }
        }
    }
    return cycles;
}

void findHierarchy(Library& library) {
    std::unordered_map<std::string, std::size_t> undefinedIndex;
    std::vector<std::vector<std::size_t>> children(library.structures.size());
    std::vector<bool> referenced(library.structures.size(), false);
    for (std::size_t s = 0; s < library.structures.size(); ++s) {
        for (const auto& [name, ignored] : library.structures[s].references) {
            const auto defined = library.index.find(name);
            if (defined != library.index.end()) {
                children[s].push_back(defined->second);
                referenced[defined->second] = true;
                continue;
            }
            const auto [entry, added] = undefinedIndex.emplace(name, library.undefined.size());
            if (added) library.undefined.push_back({name, {}});
            library.undefined[entry->second].second.push_back(s);
        }
        std::sort(children[s].begin(), children[s].end());
    }
    std::sort(library.undefined.begin(), library.undefined.end());
    for (std::size_t s = 0; s < referenced.size(); ++s) {
        if (!referenced[s]) library.top.push_back(s);
    }
    library.cycles = findCycles(children);
}

}  // namespace info
