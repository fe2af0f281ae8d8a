// SPDX-License-Identifier: MIT
#include "encoding/byte_sink.h"

namespace carvelle {

void ByteSink::drain() {
    if (used_ > 0 && !failed_ && !file_.write(buffer_, used_)) failed_ = true;
    used_ = 0;
}

bool ByteSink::flush() {
    drain();
    return !failed_;
}

}  // namespace carvelle
