// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <utility>

#include "carvelle_merge.hpp"

namespace carvelle::merge {

// The first failure of an operation (the merge, or the check on its own thread), with its message: the object
// that owns the operation keeps one, and its steps return false once they have set it.
struct Outcome {
    MergeFailure failure = MergeFailure::None;
    std::string message;

    bool fail(MergeFailure why, std::string text) {
        failure = why;
        message = std::move(text);
        return false;
    }
    bool outOfMemory() noexcept {
        failure = MergeFailure::Write;
        try {
            message = "out of memory";
        } catch (...) {
        }
        return false;
    }
};

}  // namespace carvelle::merge
