// SPDX-License-Identifier: MIT
#include "info/hierarchy.h"

#include <algorithm>
#include <string>
#include <utility>

namespace info {

// A depth-first walk without recursion (hierarchies can be deep); each edge back to a structure on the
// walk's path closes one cycle.
std::vector<std::vector<std::size_t>> findCycles(const Graph& graph) {
    std::vector<std::vector<std::size_t>> cycles;
    enum : std::uint8_t { New,
                          OnPath,
                          Done };
    std::vector<std::uint8_t> mark(graph.nodes(), New);
    std::vector<std::pair<std::size_t, std::uint64_t>> path;  // structure, next child to visit
    for (std::size_t root = 0; root < graph.nodes(); ++root) {
        if (mark[root] != New) continue;
        path.push_back({root, graph.begin[root]});
        mark[root] = OnPath;
        while (!path.empty()) {
            auto& [node, next] = path.back();
            if (next == graph.begin[node + 1]) {
                mark[node] = Done;
                path.pop_back();
                continue;
            }
            const std::size_t child = graph.child[next++];
            if (mark[child] == New) {
                mark[child] = OnPath;
                path.push_back({child, graph.begin[child]});
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
    std::stable_sort(library.again.begin(), library.again.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // The references by structure, each name once (a name defined again adds its references to the first).
    auto& edges = library.edges;
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    Graph graph;
    std::vector<bool> referenced(library.structureCount(), false);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> undefined;  // name, structure
    auto edge = edges.begin();
    for (std::uint32_t s = 0; s < library.structureCount(); ++s) {
        // Children in the order of their indices, as the walk for cycles takes them.
        const std::size_t first = graph.child.size();
        for (; edge != edges.end() && edge->first == s; ++edge) {
            const std::uint32_t defined = library.structureOf[edge->second];
            if (defined == Names::kNone) {
                undefined.emplace_back(edge->second, s);
                continue;
            }
            graph.child.push_back(defined);
            referenced[defined] = true;
        }
        std::sort(graph.child.begin() + static_cast<std::ptrdiff_t>(first), graph.child.end());
        graph.begin.push_back(graph.child.size());
    }
    // The undefined names in the order of their bytes, each with the structures that reference it in file order.
    std::sort(undefined.begin(), undefined.end(), [&](const auto& a, const auto& b) {
        const auto an = library.names[a.first], bn = library.names[b.first];
        return an != bn ? an < bn : a.second < b.second;
    });
    for (const auto& [name, from] : undefined) {
        if (library.undefined.empty() || library.undefined.back().first != library.names[name]) {
            library.undefined.push_back({std::string(library.names[name]), {}});
        }
        library.undefined.back().second.push_back(from);
    }
    for (std::size_t s = 0; s < referenced.size(); ++s) {
        if (!referenced[s]) library.top.push_back(s);
    }
    library.cycles = findCycles(graph);
}

}  // namespace info
