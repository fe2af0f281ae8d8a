// SPDX-License-Identifier: MIT
#include "encoding/byte_sink.h"

namespace carvelle {

// The one test between the plain and the gzip path, once a megabyte.
void ByteSink::drain() {
    if (used_ > 0 && !failed_) {
        const bool written = gzip_ != nullptr ? gzip_->write(buffer_, used_) : file_.write(buffer_, used_);
        if (!written) failed_ = true;
    }
    used_ = 0;
}

bool ByteSink::flush() {
    drain();
    return !failed_;
}

}  // namespace carvelle
