// SPDX-License-Identifier: MIT
// Test-only: the element grammar of the stream format written out plainly,
// one element at a time, as an oracle for the merge's table-driven checker.
// It shares no code or table with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gdstest {

struct RecordHead {
    std::size_t length;  // total, header included
    std::uint8_t type, dataType;
};

// Collects the records between STRNAME and ENDSTR and checks each element
// when its ENDEL arrives.
class ElementGrammar {
public:
    // False as soon as the records cannot make elements.
    bool add(const RecordHead& record) {
        if (atStart_ && element_.empty() && record.type == 0x34) {  // STRCLASS
            atStart_ = false;
            return record.dataType == 0x01 && record.length == 6;
        }
        atStart_ = false;
        element_.push_back(record);
        if (record.type != 0x11) return true;  // ENDEL
        const bool ok = check();
        element_.clear();
        return ok;
    }
    bool betweenElements() const { return element_.empty(); }

private:
    bool check() const {
        std::size_t at = 1;
        auto is = [&](std::uint8_t type, std::uint8_t dataType, std::size_t length) {
            if (at >= element_.size() || element_[at].type != type) return false;
            if (element_[at].dataType != dataType || element_[at].length != length) return false;
            ++at;
            return true;
        };
        auto text = [&](std::uint8_t type, std::size_t shortest) {
            if (at >= element_.size() || element_[at].type != type || element_[at].dataType != 0x06 ||
                element_[at].length < shortest) {
                return false;
            }
            ++at;
            return true;
        };
        auto xy = [&](std::size_t fewest, std::size_t most) {
            if (at >= element_.size() || element_[at].type != 0x10 || element_[at].dataType != 0x03) return false;
            const std::size_t payload = element_[at].length - 4;
            if (payload % 8 != 0 || payload / 8 < fewest || payload / 8 > most) return false;
            ++at;
            return true;
        };
        auto strans = [&] {
            if (is(0x1A, 0x01, 6)) {
                is(0x1B, 0x05, 12);  // MAG
                is(0x1C, 0x05, 12);  // ANGLE
            }
        };
        const RecordHead& opening = element_[0];
        if (opening.length != 4 || opening.dataType != 0x00) return false;
        is(0x26, 0x01, 6);  // ELFLAGS
        is(0x2F, 0x03, 8);  // PLEX
        bool body = false;
        switch (opening.type) {
            case 0x08:  // BOUNDARY: KLayout's multi-XY form goes on in more XY records
                body = is(0x0D, 0x02, 6) && is(0x0E, 0x02, 6) && xy(4, 8191);
                while (body && xy(1, 8191)) {
                }
                break;
            case 0x09:  // PATH
                body = is(0x0D, 0x02, 6) && is(0x0E, 0x02, 6);
                is(0x21, 0x02, 6);
                is(0x0F, 0x03, 8);
                is(0x30, 0x03, 8);
                is(0x31, 0x03, 8);
                body = body && xy(1, 8191);
                while (body && xy(1, 8191)) {
                }
                break;
            case 0x0A:  // SREF
            case 0x0B:  // AREF
                body = text(0x12, 6);
                strans();
                if (opening.type == 0x0B) body = body && is(0x13, 0x02, 8);
                body = body && xy(opening.type == 0x0A ? 1 : 3, opening.type == 0x0A ? 1 : 3);
                break;
            case 0x0C:  // TEXT
                body = is(0x0D, 0x02, 6) && is(0x16, 0x02, 6);
                is(0x17, 0x01, 6);
                is(0x21, 0x02, 6);
                is(0x0F, 0x03, 8);
                strans();
                body = body && xy(1, 1) && text(0x19, 4);
                break;
            case 0x15:  // NODE
                body = is(0x0D, 0x02, 6) && is(0x2A, 0x02, 6) && xy(1, 50);
                break;
            case 0x2D:  // BOX
                body = is(0x0D, 0x02, 6) && is(0x2E, 0x02, 6) && xy(5, 5);
                break;
            default:
                return false;
        }
        while (body && is(0x2B, 0x02, 6)) body = text(0x2C, 4);  // PROPATTR, PROPVALUE
        return body && at == element_.size() - 1 && element_[at].length == 4 && element_[at].dataType == 0x00;
    }

    std::vector<RecordHead> element_;
    bool atStart_ = true;
};

}  // namespace gdstest
