// SPDX-License-Identifier: MIT
#include "merge/progress.h"

#include <algorithm>
#include <chrono>

#include "platform/files.h"

namespace carvelle::merge {

void Progress::allow(std::size_t part, std::uint64_t safe) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        part_ = part;
        safe_ = safe;
    }
    moved_.notify_all();
}

void Progress::skip(std::size_t part, std::uint64_t begin, std::uint64_t end) {
    const std::lock_guard<std::mutex> lock(mutex_);
    skips_[part].emplace_back(begin, end);
}

void Progress::end(std::size_t part, std::uint64_t end) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ends_[part] = end;
}

void Progress::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    moved_.notify_all();
}

std::uint64_t Progress::wait(std::size_t part, std::uint64_t at, Ranges& skips, std::uint64_t& end) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (stopped_ || SignalGuard::interrupted()) return 0;
        if (part_ > part || (part_ == part && safe_ > at)) break;
        // A signal handler cannot wake the wait: look again now and then.
        moved_.wait_for(lock, std::chrono::milliseconds(50));
    }
    skips = skips_[part];
    end = std::min(end, ends_[part]);
    return part_ > part ? ~std::uint64_t{0} : safe_;
}

}  // namespace carvelle::merge
