// SPDX-License-Identifier: MIT
#include "encoding/gzip_reader.h"

namespace carvelle {

GzipInflater::Result GzipInflater::inflate(const std::uint8_t*& in, std::size_t& inSize, std::uint8_t*& out,
                                           std::size_t& room) {
    // Until the input is used up, or room is filled within a member; a
    // member that ends with input left is followed by another.
    while (inSize > 0 || (started_ && !atMemberEnd_ && room > 0)) {
        if (atMemberEnd_) {
            if (!step_.reset()) return Result::Corrupt;
            atMemberEnd_ = false;
        }
        started_ = true;
        std::size_t used = 0, made = 0;
        const InflateStep::Status status =
            step_.run(in, inSize < kMaxStep ? inSize : kMaxStep, used, out, room < kMaxStep ? room : kMaxStep, made);
        in += used;
        inSize -= used;
        out += made;
        room -= made;
        if (status == InflateStep::Status::Corrupt) return Result::Corrupt;
        if (status == InflateStep::Status::MemberEnd) {
            atMemberEnd_ = true;
            continue;
        }
        if (used == 0 && made == 0) break;  // needs input or room
    }
    return Result::Progress;
}

}  // namespace carvelle
