// SPDX-License-Identifier: MIT
#include "encoding/byte_sink.h"

namespace carvelle {

// Once a megabyte: the output then picks its kind.
void ByteSink::drain() {
    if (used_ > 0 && !failed_) {
        const bool written = output_.write(buffer_, used_);
        if (!written) failed_ = true;
    }
    used_ = 0;
}

bool ByteSink::flush() {
    drain();
    return !failed_;
}

}  // namespace carvelle
