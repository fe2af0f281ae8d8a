// SPDX-License-Identifier: MIT
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace carvelle::merge {

// How far the check has come: the copy takes only bytes already checked, and leaves out the structures found
// to be copies of earlier ones. The check's thread tells, the copy's thread waits.
class Progress {
public:
    using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

    explicit Progress(std::size_t parts) : skips_(parts), ends_(parts, ~std::uint64_t{0}) {}

    // The check allows the copy up to `safe` in part `part` (all of the parts before it).
    void allow(std::size_t part, std::uint64_t safe);
    // The structure from begin to end in part `part` is left out.
    void skip(std::size_t part, std::uint64_t begin, std::uint64_t end);
    // Where the structures of a gzip part end, once the check has read its ENDLIB.
    void end(std::size_t part, std::uint64_t end);
    // The check failed: the copy waits no longer.
    void stop();
    // Waits until the check allows more than `at` in part `part`, and returns how far, with the structures
    // to leave out and where the part's structures end if the check knows it; 0 once stopped or on a signal.
    std::uint64_t wait(std::size_t part, std::uint64_t at, Ranges& skips, std::uint64_t& end);

private:
    std::mutex mutex_;
    std::condition_variable moved_;
    std::size_t part_ = 0;
    std::uint64_t safe_ = 0;
    bool stopped_ = false;
    std::vector<Ranges> skips_;
    std::vector<std::uint64_t> ends_;
};

}  // namespace carvelle::merge
