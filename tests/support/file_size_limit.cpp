// SPDX-License-Identifier: MIT
// Linked into every test program: no test writes more than a few hundred
// megabytes, so a writer that runs away (a loop that never ends, a length
// gone wrong) is stopped by SIGXFSZ within seconds instead of filling the
// disk. Children may lower the limit further; the hard limit is left alone.
#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>

namespace {

constexpr rlim_t kTestFileSizeLimit = rlim_t{1} << 30;

[[maybe_unused]] const bool kLimited = [] {
    struct rlimit limit {};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= kTestFileSizeLimit) return true;
    limit.rlim_cur = kTestFileSizeLimit;
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}();

}  // namespace
#endif
