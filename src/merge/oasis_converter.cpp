// SPDX-License-Identifier: MIT
#include "merge/oasis_converter.h"

#include <algorithm>
#include <cstring>

#include "encoding/real8.h"
#include "library/result_table.h"

namespace carvelle::merge {

namespace {

// Record types, the third byte of a record's header.
enum Type : std::uint8_t {
    kStrName = 0x06,
    kEndStr = 0x07,
    kBoundary = 0x08,
    kPath = 0x09,
    kSref = 0x0A,
    kAref = 0x0B,
    kText = 0x0C,
    kLayer = 0x0D,
    kDatatype = 0x0E,
    kWidth = 0x0F,
    kXy = 0x10,
    kEndEl = 0x11,
    kSname = 0x12,
    kColRow = 0x13,
    kNode = 0x15,
    kTextType = 0x16,
    kPresentation = 0x17,
    kString = 0x19,
    kStrans = 0x1A,
    kMag = 0x1B,
    kAngle = 0x1C,
    kPathType = 0x21,
    kNodeType = 0x2A,
    kPropAttr = 0x2B,
    kPropValue = 0x2C,
    kBox = 0x2D,
    kBoxType = 0x2E,
    kBgnExtn = 0x30,
    kEndExtn = 0x31,
};

constexpr std::int16_t kExtendedPath = 4;

std::int16_t int16At(const std::uint8_t* p) { return static_cast<std::int16_t>(p[0] << 8 | p[1]); }
std::int32_t int32At(const std::uint8_t* p) {
    return static_cast<std::int32_t>(std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                                     std::uint32_t{p[2]} << 8 | p[3]);
}
double realAt(const std::uint8_t* p) {
    Real8 real;
    std::memcpy(real.data(), p, real.size());
    return fromReal8(real);
}
// A string payload up to its first NUL (the padding, or a name's end as the check reads it).
std::string stringOf(const std::uint8_t* p, std::size_t size) {
    const auto* text = reinterpret_cast<const char*>(p);
    const void* nul = std::memchr(text, 0, size);
    return std::string(text, nul ? static_cast<const char*>(nul) - text : size);
}

const char* kindName(std::uint8_t kind) {
    switch (kind) {
        case kBoundary:
            return "BOUNDARY";
        case kPath:
            return "PATH";
        case kSref:
            return "SREF";
        case kAref:
            return "AREF";
        case kText:
            return "TEXT";
        case kNode:
            return "NODE";
        case kBox:
            return "BOX";
        default:
            return "element";
    }
}

}  // namespace

OasisConverter::OasisConverter() : writer_(new LibraryWriter) {}

bool OasisConverter::open(const std::string& output, double meterUnit) {
    const ResultCode code = writer_->beginOasisBeside(output, meterUnit);
    if (code == GDS_OK) return true;
    writeFailed_ = code != GDS_ERR_RANGE;
    error_ = code == GDS_ERR_RANGE    ? "the parts' UNITS give no OASIS unit (grid steps per micrometre)"
             : code == GDS_ERR_HANDLE ? "out of memory"
                                      : writer_->outputFailure();
    if (error_.empty()) error_ = "cannot create " + output;
    return false;
}

void OasisConverter::startPart(const std::string& path, std::uint64_t at) {
    part_ = path;
    offset_ = at;
    cut_.clear();
}

bool OasisConverter::feed(const std::uint8_t* bytes, std::size_t size) {
    if (!cut_.empty()) {
        // The rest of a record begun in an earlier piece: its length first, then its bytes.
        while (cut_.size() < 2 && size > 0) {
            cut_.push_back(static_cast<char>(*bytes++));
            --size;
            ++offset_;
        }
        if (cut_.size() < 2) return true;
        const std::size_t need = static_cast<std::size_t>(std::uint8_t(cut_[0]) << 8 | std::uint8_t(cut_[1]));
        const std::size_t take = std::min(size, need - std::min(need, cut_.size()));
        cut_.append(reinterpret_cast<const char*>(bytes), take);
        bytes += take;
        size -= take;
        offset_ += take;
        if (cut_.size() < need) return true;
        const std::uint64_t next = offset_;
        offset_ = cutAt_;
        if (!record(reinterpret_cast<const std::uint8_t*>(cut_.data()), cut_.size())) return false;
        offset_ = next;
        cut_.clear();
    }
    while (size >= 4) {
        const std::size_t length = static_cast<std::size_t>(bytes[0] << 8 | bytes[1]);
        if (length > size) break;
        if (length < 4) return fail(GDS_ERR_WRITE, nullptr);  // never in a checked part
        if (!record(bytes, length)) return false;
        offset_ += length;
        bytes += length;
        size -= length;
    }
    cutAt_ = offset_;
    cut_.assign(reinterpret_cast<const char*>(bytes), size);
    offset_ += size;
    return true;
}

bool OasisConverter::record(const std::uint8_t* bytes, std::size_t size) {
    const std::uint8_t type = bytes[2];
    const std::uint8_t* p = bytes + 4;
    const std::size_t payload = size - 4;
    Element& e = element_;
    switch (type) {
        case kStrName: {
            structure_ = stringOf(p, payload);
            const ResultCode code = writer_->beginStructure(structure_.c_str());
            if (code != GDS_OK) return fail(code, "structure name");
            return true;
        }
        case kEndStr: {
            const ResultCode code = writer_->endStructure();
            if (code != GDS_OK) return fail(code, "ENDSTR");
            return true;
        }
        case kBoundary:
        case kPath:
        case kSref:
        case kAref:
        case kText:
        case kNode:
        case kBox:
            e.kind = type;
            e.at = offset_;
            e.layer = e.datatype = e.pathtype = e.presentation = e.strans = e.cols = e.rows = 0;
            e.width = e.beginExtension = e.endExtension = 0;
            e.mag = 1.0;
            e.angle = 0.0;
            e.name.clear();
            e.xs.clear();
            e.ys.clear();
            e.properties.clear();
            return true;
        case kLayer:
            e.layer = int16At(p);
            return true;
        case kDatatype:
        case kTextType:
        case kBoxType:
        case kNodeType:
            e.datatype = int16At(p);
            return true;
        case kWidth:
            e.width = int32At(p);
            return true;
        case kPathType:
            e.pathtype = int16At(p);
            return true;
        case kBgnExtn:
            e.beginExtension = int32At(p);
            return true;
        case kEndExtn:
            e.endExtension = int32At(p);
            return true;
        case kPresentation:
            e.presentation = int16At(p);
            return true;
        case kStrans:
            e.strans = int16At(p);
            return true;
        case kMag:
            e.mag = realAt(p);
            return true;
        case kAngle:
            e.angle = realAt(p);
            return true;
        case kColRow:
            e.cols = int16At(p);
            e.rows = int16At(p + 2);
            return true;
        case kSname:
        case kString:
            e.name = stringOf(p, payload);
            return true;
        case kXy:
            // A BOUNDARY's or PATH's points may go on in further XY records.
            for (std::size_t at = 0; at + 8 <= payload; at += 8) {
                e.xs.push_back(int32At(p + at));
                e.ys.push_back(int32At(p + at + 4));
            }
            return true;
        case kPropAttr:
            e.properties.emplace_back(int16At(p), std::string());
            return true;
        case kPropValue:
            if (!e.properties.empty()) e.properties.back().second = stringOf(p, payload);
            return true;
        case kEndEl:
            return element();
        default:
            // BGNSTR (its STRNAME follows), ELFLAGS, PLEX: nothing OASIS keeps.
            return true;
    }
}

bool OasisConverter::element() {
    Element& e = element_;
    LibraryWriter& w = *writer_;
    ResultCode code = GDS_OK;
    const auto count = e.xs.size();
    if (count == 0) return fail(GDS_ERR_NO_POINTS, "no points");
    // Each element is a call of its own, as through the exports: the properties that follow attach to it alone.
    w.forgetElement();
    switch (e.kind) {
        case kBoundary: {
            // The writer takes the ring open and closes it itself.
            std::size_t vertices = count;
            if (vertices > 1 && e.xs[0] == e.xs[count - 1] && e.ys[0] == e.ys[count - 1]) --vertices;
            if (vertices > 32767) return fail(GDS_ERR_TOO_MANY_POINTS, "more vertices than a BOUNDARY call takes");
            code = w.writeBoundary(e.xs.data(), e.ys.data(), static_cast<std::int16_t>(vertices), e.layer,
                                   e.datatype, 0, 0);
            break;
        }
        case kPath:
            if (count > 32767) return fail(GDS_ERR_TOO_MANY_POINTS, "more points than a PATH call takes");
            // Type 4 keeps its extensions, as OASIS explicit ones.
            if (e.pathtype == kExtendedPath) {
                code = w.writeExtendedPath(e.xs.data(), e.ys.data(), static_cast<std::int16_t>(count), e.width,
                                           e.layer, e.datatype, e.beginExtension, e.endExtension);
                break;
            }
            code = w.writePath(e.xs.data(), e.ys.data(), static_cast<std::int16_t>(count), e.width, e.layer,
                               e.datatype, e.pathtype, 0, 0);
            break;
        case kBox:
            if (count < 3) return fail(GDS_ERR_TOO_FEW_POINTS, "a BOX with fewer than 3 points");
            code = w.writeBox(e.xs[0], e.ys[0], e.xs[2], e.ys[2], e.layer, e.datatype, 0, 0);
            break;
        case kText:
            code = w.writeText(e.xs[0], e.ys[0], e.name.c_str(), e.layer, e.datatype, e.presentation, e.pathtype,
                               e.width, e.strans, e.mag, e.angle, 0, 0);
            break;
        case kSref:
            code = w.writeSref(e.name.c_str(), e.xs[0], e.ys[0], e.strans, e.mag, e.angle, 0, 0);
            break;
        case kAref:
            if (count < 3) return fail(GDS_ERR_TOO_FEW_POINTS, "an AREF with fewer than 3 points");
            code = w.writeAref(e.name.c_str(), e.xs.data(), e.ys.data(), e.cols, e.rows, e.strans, e.mag, e.angle,
                               0, 0);
            break;
        case kNode:
            code = w.writeNode(e.xs.data(), e.ys.data(), static_cast<std::int16_t>(count > 32767 ? 32767 : count),
                               e.layer, e.datatype, 0, 0);
            break;
        default:
            return true;
    }
    if (code != GDS_OK) return fail(code, nullptr);
    for (const auto& [attribute, value] : e.properties) {
        code = w.addProperty(attribute, value.c_str());
        // A NODE is dropped from an OASIS file, and so are its properties.
        if (code == GDS_ERR_NO_ELEMENT) {
            ++droppedProperties_;
            continue;
        }
        if (code != GDS_OK) return fail(code, "PROPATTR");
    }
    e.kind = 0;
    return true;
}

bool OasisConverter::fail(std::int32_t code, const char* what) {
    writeFailed_ = code == GDS_ERR_WRITE;
    if (writeFailed_) {
        error_ = writer_->outputFailure();
        if (error_.empty()) error_ = "cannot write the output";
        return false;
    }
    std::string why = code == GDS_ERR_RANGE ? "OASIS cannot hold it (see the OASIS writer's refusals)"
                                            : std::string(kResultTable[code].message);
    while (!why.empty() && why.back() == ' ') why.pop_back();
    error_ = "part " + part_ + ": structure " + structure_ + ": ";
    if (element_.kind != 0) {
        error_ += std::string("the ") + kindName(element_.kind) + " at byte " + std::to_string(element_.at);
    } else {
        error_ += "at byte " + std::to_string(offset_);
    }
    if (what) error_ += std::string(" (") + what + ")";
    error_ += " cannot go to OASIS: " + why + " [code " + std::to_string(code) + "]";
    return false;
}

bool OasisConverter::finish() {
    const ResultCode code = writer_->endLibrary();
    if (code == GDS_OK) return true;
    writeFailed_ = true;
    error_ = writer_->outputFailure();
    if (error_.empty()) error_ = "cannot write the output";
    return false;
}

void OasisConverter::abandon() { writer_->abandon(); }

}  // namespace carvelle::merge
