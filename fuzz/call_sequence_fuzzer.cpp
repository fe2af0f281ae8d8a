// SPDX-License-Identifier: MIT
// libFuzzer target: the input bytes become a sequence of calls, with
// arbitrary arguments, on up to two handles at once. A small model of each
// handle (library and structure state, names begun, a dead file, the bytes
// buffered and written) predicts the result code of every call; any
// difference aborts. Every file that a library leaves behind is checked:
// its records tile it exactly, and a library ended with GDS_OK has balanced
// BGNSTR/ENDSTR brackets, ends with its one ENDLIB, and has exactly the
// size that the records of the calls add up to. A library named .oas is an
// OASIS file: the model takes a refusal of what OASIS cannot hold (the range
// code from a path, arc, text, reference or name) where GDSII writes, and
// checks the file's head, its END of 256 bytes, the name tables END points
// to, and the validation signature.
//
// Input format (fuzz/make_corpus.py writes seeds in it): one byte selects
// the operation (bits 1 to 5) and the handle (bit 0; bits 6 and 7 both set
// make it a null handle instead), then each
// argument takes one byte that picks an interesting value (null pointers,
// counts at their limits, NaN, infinities, +-2^252, names of 65530 bytes
// and more, ...) or asks for raw bytes. The input running out ends the run.

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "gds_api.h"

// The model's own loops need no coverage feedback: they only slow a run.
#if defined(__clang__)
#define NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define NO_COVERAGE
#endif

namespace {

// ---------------------------------------------------------------- input

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint64_t raw(int bytes) {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v = v << 8 | byte();
        return v;
    }

    std::int16_t i16() {
        static const std::int16_t table[] = {0, 1, 2, 3, 4, 5, 50, 51, 8189,
                                             8190, 8191, 16381, 16382, 32767, -1, -32768, 255, 256};
        const std::uint8_t pick = byte() % 21;
        if (pick < sizeof table / sizeof table[0]) return table[pick];
        if (pick == 18) return static_cast<std::int16_t>(raw(2));
        return static_cast<std::int16_t>(byte());
    }
    std::int32_t i32() {
        static const std::int32_t table[] = {0, 1, -1, 100, 1000, -1000,
                                             INT32_MAX, INT32_MIN, INT32_MAX - 1, INT32_MIN + 1,
                                             1 << 30, -(1 << 30)};
        const std::uint8_t pick = byte() % 14;
        if (pick < sizeof table / sizeof table[0]) return table[pick];
        if (pick == 12) return static_cast<std::int32_t>(static_cast<std::uint32_t>(raw(4)));
        return byte();
    }
    double f64() {
        static const double table[] = {0.0,
                                       -0.0,
                                       1.0,
                                       -1.0,
                                       1e-3,
                                       1e-9,
                                       0.5,
                                       90.0,
                                       360.0,
                                       -45.0,
                                       std::numeric_limits<double>::quiet_NaN(),
                                       std::numeric_limits<double>::infinity(),
                                       -std::numeric_limits<double>::infinity(),
                                       0x1p252,
                                       -0x1p252,
                                       std::nextafter(0x1p252, 0.0),
                                       -std::nextafter(0x1p252, 0.0),
                                       0x1p-260,
                                       0x1p-261,
                                       std::numeric_limits<double>::denorm_min(),
                                       std::numeric_limits<double>::max(),
                                       1e300,
                                       -1e308};
        const std::uint8_t pick = byte() % 24;
        if (pick < sizeof table / sizeof table[0]) return table[pick];
        const std::uint64_t bits = raw(8);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    // A name: null, short ones that repeat, and lengths around the limits.
    // Returns false for null.
    bool name(std::string& out) {
        static const char* const shortNames[] = {"", "A", "B", "C", "AB", "ABC", "\x01\xff"};
        static const std::size_t lengths[] = {512, 513, 65529, 65530, 65531, 70000};
        const std::uint8_t pick = byte() % 15;
        if (pick == 0) return false;
        if (pick <= 7) {
            out = shortNames[pick - 1];
            return true;
        }
        if (pick <= 13) {
            out.assign(lengths[pick - 8], static_cast<char>('a' + byte() % 3));
            return true;
        }
        out.assign(raw(2) % 70000 + 1, 'z');
        return true;
    }
    // Point arrays: mostly valid, sometimes one or both null.
    int pointsKind() { return byte() % 8; }  // 0: xs null, 1: ys null, 2: both, else valid

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// ---------------------------------------------------------------- model

constexpr std::size_t kBufferCapacity = std::size_t{1} << 20;  // the library's output block
constexpr std::size_t kMaxName = 65530;
constexpr std::size_t kMaxText = 512;

std::size_t padded(std::size_t n) { return n + (n & 1); }
bool fitsReal8(double x) { return std::isnan(x) || std::fabs(x) < 0x1p252; }
bool fitsInt32(std::int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }
bool curveFits(std::int32_t cx, std::int32_t cy, std::int32_t r) {
    const std::int64_t reach = std::llabs(static_cast<std::int64_t>(r));
    return fitsInt32(cx - reach) && fitsInt32(cx + reach) && fitsInt32(cy - reach) && fitsInt32(cy + reach);
}
// The documented sampling: the angle starts at start (radians) and grows by
// step after each of count samples; a sample at a non-finite angle is refused.
NO_COVERAGE bool anglesFinite(double start, double step, std::size_t count) {
    double angle = start;
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::isfinite(angle)) return false;
        angle = angle + step;
    }
    return true;
}
constexpr double kPi = 3.141592653589793;
constexpr double kDegree = 0.005555555555555556;
double radians(double degrees) { return (degrees * kPi) * kDegree; }

// Element sizes from the record layout. Every element: its opening record
// (4), ELFLAGS (6), PLEX (8), ..., ENDEL (4).
constexpr std::size_t kFrame = 4 + 6 + 8 + 4;
std::size_t boundaryBytes(std::size_t n) { return kFrame + 6 + 6 + 4 + 8 * (n + 1); }
std::size_t pathBytes(std::size_t points) { return kFrame + 6 + 6 + 6 + 8 + 4 + 8 * points; }
constexpr std::size_t kBoxBytes = kFrame + 6 + 6 + 4 + 40;
std::size_t textBytes(std::size_t len) { return kFrame + 4 * 6 + 8 + 6 + 12 + 12 + 12 + 4 + padded(len); }
std::size_t srefBytes(std::size_t len) { return kFrame + 4 + padded(len) + 6 + 12 + 12 + 12; }
std::size_t arefBytes(std::size_t len) { return kFrame + 4 + padded(len) + 6 + 12 + 12 + 8 + 28; }
std::size_t nodeBytes(std::size_t n) { return kFrame + 6 + 6 + 4 + 8 * n; }

enum class Target { File,
                    DevFull };

struct Model {
    bool live = false;  // a handle is stored in the slot
    GdsHandle handle = nullptr;
    bool libraryOpen = false;
    bool structureOpen = false;
    bool failed = false;
    Target target = Target::File;
    bool oasis = false;
    std::string path;
    std::set<std::string> names;
    std::size_t buffered = 0;
    std::size_t total = 0;  // bytes of all records emitted
    // Properties: 0 no element to attach to, 1 a shape, 2 a reference (512 bytes), 3 one with properties.
    int attachable = 0;
    std::size_t propertyBytes = 0, propertyLimit = 0;
    std::set<int> attributes;

    // The records of one call: a full buffer goes to the file first.
    int emit(std::size_t size) {
        if (failed) return GDS_ERR_WRITE;
        if (kBufferCapacity - buffered < size) {
            if (buffered > 0 && target == Target::DevFull) failed = true;
            buffered = 0;
        }
        buffered += size;
        total += size;
        return failed ? GDS_ERR_WRITE : GDS_OK;
    }
};

const char* g_opName = "";
std::size_t g_step = 0;

bool g_trace = false;  // CARVELLE_FUZZ_TRACE=1 prints every call

void expect(int got, int want, const char* what) {
    if (g_trace) std::fprintf(stderr, "call %zu %s: %d\n", g_step, g_opName, got);
    if (got == want) return;
    std::fprintf(stderr, "call %zu %s: result %d, model predicts %d (%s)\n", g_step, g_opName, got, want, what);
    std::abort();
}
void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "call %zu %s: %s\n", g_step, g_opName, what);
    std::abort();
}

// ---------------------------------------------------------------- files

NO_COVERAGE std::vector<std::uint8_t> readAll(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::uint8_t chunk[65536];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

// A real file that GDS_EndLib has ended, whatever it returned, is complete.
NO_COVERAGE void checkFile(const Model& m) {
    const std::vector<std::uint8_t> bytes = readAll(m.path);
    require(bytes.size() == m.total, "file size differs from the records of the calls");
    std::size_t at = 0;
    int depth = 0;
    int endLibs = 0;
    std::uint8_t last = 0xFF;
    bool first = true;
    while (at < bytes.size()) {
        require(bytes.size() - at >= 4, "bytes left over after the last record");
        const std::size_t length = static_cast<std::size_t>(bytes[at] << 8 | bytes[at + 1]);
        require(length >= 4 && (length & 1) == 0, "record length odd or below 4");
        require(length <= bytes.size() - at, "record runs past the end of the file");
        const std::uint8_t type = bytes[at + 2];
        if (first) require(type == 0x00, "the file does not start with HEADER");
        first = false;
        require(endLibs == 0, "a record follows ENDLIB");
        if (type == 0x05) {
            require(depth == 0, "BGNSTR inside a structure");
            ++depth;
        } else if (type == 0x07) {
            require(depth == 1, "ENDSTR without BGNSTR");
            --depth;
        } else if (type == 0x04) {
            ++endLibs;
        }
        last = type;
        at += length;
    }
    require(depth == 0, "BGNSTR/ENDSTR do not balance");
    require(endLibs == 1 && last == 0x04, "the file does not end with its one ENDLIB");
}

NO_COVERAGE std::uint32_t crc32Of(const std::vector<std::uint8_t>& bytes, std::size_t size) {
    std::uint32_t crc = 0xffffffffu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

NO_COVERAGE std::uint64_t readUint(const std::vector<std::uint8_t>& bytes, std::size_t& at) {
    std::uint64_t value = 0;
    for (int shift = 0; at < bytes.size() && shift < 64; shift += 7) {
        const std::uint8_t byte = bytes[at++];
        value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
        if (byte < 0x80) return value;
    }
    require(false, "an integer runs past the end or past 64 bits");
    return 0;
}

// An OASIS file that GDS_EndLib has ended: the magic and START, END as the
// last 256 bytes, each name table where END says (or none), the signature.
NO_COVERAGE void checkOasisFile(const Model& m) {
    static const char kMagic[] = "%SEMI-OASIS\r\n\x01\x03" "1.0";
    const std::vector<std::uint8_t> bytes = readAll(m.path);
    require(bytes.size() >= sizeof kMagic - 1 + 256, "an OASIS file shorter than its head and END");
    require(std::memcmp(bytes.data(), kMagic, sizeof kMagic - 1) == 0, "no OASIS magic and START");
    const std::size_t end = bytes.size() - 256;
    require(bytes[end] == 2, "END is not the last 256 bytes");
    std::size_t at = end + 1;
    static const std::uint8_t kTableRecords[6] = {3, 5, 7, 9, 11, 30};
    for (const std::uint8_t record : kTableRecords) {
        require(readUint(bytes, at) == 1, "a table not strict");
        const std::uint64_t offset = readUint(bytes, at);
        require(offset == 0 || (offset < end && bytes[offset] == record), "a table offset leads elsewhere");
    }
    const std::uint64_t padding = readUint(bytes, at);
    require(at + padding + 5 == bytes.size(), "END is not 256 bytes");
    at += padding;
    require(bytes[at] == 1, "no CRC-32 validation");
    const std::uint32_t signature = static_cast<std::uint32_t>(bytes[at + 1]) | bytes[at + 2] << 8 |
                                    bytes[at + 3] << 16 | static_cast<std::uint32_t>(bytes[at + 4]) << 24;
    require(signature == crc32Of(bytes, at + 1), "validation signature wrong");
}

NO_COVERAGE bool nameString(const std::string& name) {
    if (name.empty()) return false;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7e) return false;
    }
    return true;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// ---------------------------------------------------------------- operations

NO_COVERAGE std::vector<std::int32_t>& points(int axis) {
    static std::vector<std::int32_t> xs, ys;
    if (xs.empty()) {
        xs.resize(32767);
        ys.resize(32767);
        for (std::size_t i = 0; i < xs.size(); ++i) {
            xs[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(i * 2654435761u));
            ys[i] = static_cast<std::int32_t>(i) - 16000;
        }
    }
    return axis == 0 ? xs : ys;
}

std::string g_dir;

void endLibrary(Model& m, bool nullHandle) {
    g_opName = "GDS_EndLib";
    if (nullHandle || !m.live) {
        expect(GDS_EndLib(nullptr), GDS_ERR_HANDLE, "null handle");
        return;
    }
    int want;
    if (!m.libraryOpen) {
        want = GDS_ERR_STOPPED;
    } else {
        // ENDSTR for a structure left open, ENDLIB, then the final flush.
        m.emit(m.structureOpen ? 8 : 4);
        if (m.buffered > 0 && m.target == Target::DevFull) m.failed = true;
        want = m.structureOpen ? GDS_ERR_STRUCT_NOT_CLOSED : m.failed ? GDS_ERR_WRITE
                                                                      : GDS_OK;
    }
    expect(GDS_EndLib(m.handle), want, "end of library");
    if (m.libraryOpen && m.target == Target::File) m.oasis ? checkOasisFile(m) : checkFile(m);
    if (!m.path.empty() && m.target == Target::File) std::remove(m.path.c_str());
    m = Model();
}

void beginLibrary(Model& m, int slot, Input& in) {
    g_opName = "GDS_BeginLib";
    if (m.live) endLibrary(m, false);  // one handle per slot
    const int fileKind = in.byte() % 8;
    const double userUnit = in.f64();
    const double meterUnit = in.f64();
    std::string name;
    const char* fileName = nullptr;
    Target target = Target::File;
    switch (fileKind) {
        case 0:
            name = "/dev/full";
            target = Target::DevFull;
            break;
        case 1:
            name = "/nonexistent-carvelle-fuzz/x.gds";
            break;
        case 2:
            break;  // null
        case 3:
            name.assign(kMaxName + 1 + in.byte() % 2, 'f');
            break;  // too long for LIBNAME
        case 4:
            name.assign(kMaxName - in.byte() % 2, 'f');
            break;  // fits LIBNAME, cannot be opened
        default:
            name = g_dir + "/carvelle-fuzz-" + std::to_string(getpid()) + "-" + std::to_string(slot) +
                   (fileKind == 5 ? ".gds" : fileKind == 6 ? "-long.gds" : ".oas");
    }
    if (fileKind != 2) fileName = name.c_str();
    if (fileKind >= 5) std::remove(name.c_str());

    if (in.byte() % 16 == 0) {
        expect(GDS_BeginLib(fileName, userUnit, meterUnit, nullptr), GDS_ERR_HANDLE, "null outHandle");
        return;
    }
    int want;
    bool opens = false;
    if (fileName == nullptr || name.size() > kMaxName) {
        want = GDS_ERR_OPEN;
    } else if (!fitsReal8(userUnit) || !fitsReal8(meterUnit)) {
        want = GDS_ERR_RANGE;
    } else if (fileKind == 7 && !(std::isfinite(1e-6 / meterUnit) && 1e-6 / meterUnit >= 1e-6)) {
        want = GDS_ERR_RANGE;  // no OASIS grid
    } else if (fileKind == 1 || fileKind == 4) {
        want = GDS_ERR_OPEN;
    } else {
        opens = true;
        want = GDS_OK;
    }
    m = Model();
    m.live = true;
    m.target = target;
    if (opens) {
        m.libraryOpen = true;
        m.path = name;
        m.oasis = fileKind == 7;
        want = m.emit(6 + 28 + 4 + padded(name.size()) + 20);
    }
    GdsHandle h = nullptr;
    expect(GDS_BeginLib(fileName, userUnit, meterUnit, &h), want, "begin library");
    require(h != nullptr, "no handle stored");
    m.handle = h;
    if (fileKind >= 5 && !opens) require(!fileExists(name), "a refused library created its file");
}

// The result of an element call: handle, state, then the call's own tests
// in order (the first nonzero wins), then the file, then the records.
int predict(Model& m, std::initializer_list<int> checks, std::size_t size) {
    if (!m.structureOpen) return GDS_ERR_STRUCT_NOT_OPEN;
    for (int code : checks) {
        if (code != GDS_OK) return code;
    }
    return m.emit(size);
}

// GDS_Property right after an element call (or a refused one): the state,
// a null value, the format's limits, the file; then the pair goes before
// the element's ENDEL, which the writer takes back and writes again.
void property(Model& m, GdsHandle h, Input& in) {
    g_opName = "GDS_Property";
    static const std::int16_t attributes[] = {-1, 0, 1, 2, 3, 64, 127, 128};
    static const std::size_t lengths[] = {0, 1, 2, 3, 61, 62, 63, 125, 126, 127};
    const std::uint8_t pickAttribute = in.byte();
    const std::int16_t attribute = pickAttribute < 240 ? attributes[pickAttribute % 8] : in.i16();
    const std::uint8_t pickValue = in.byte() % 11;
    const std::string value(pickValue == 0 ? 0 : lengths[pickValue - 1], 'v');
    const std::size_t length = value.size();
    int want;
    if (h == nullptr)
        want = GDS_ERR_HANDLE;
    else if (!m.libraryOpen)
        want = GDS_ERR_STOPPED;
    else if (m.attachable == 0)
        want = GDS_ERR_NO_ELEMENT;
    else if (pickValue == 0)
        want = GDS_ERR_NO_STRING;
    else if (attribute < 1 || attribute > 127 || length > 126)
        want = GDS_ERR_PROPERTY;
    else {
        const bool first = m.attachable != 3;
        const std::size_t limit = !first ? m.propertyLimit : m.attachable == 2 ? 512
                                                                               : 128;
        std::set<int> used = first ? std::set<int>() : m.attributes;
        const std::size_t bytes = (first ? 0 : m.propertyBytes) + 2 + padded(length);
        if (used.count(attribute) != 0 || bytes > limit) {
            want = GDS_ERR_PROPERTY;
        } else if (m.failed) {
            want = GDS_ERR_WRITE;
        } else {
            m.buffered -= 4;  // ENDEL, written again behind the pair
            m.total -= 4;
            want = m.emit(6 + 4 + padded(length) + 4);
            used.insert(attribute);
            m.attributes = used;
            m.propertyBytes = bytes;
            m.propertyLimit = limit;
            m.attachable = want == GDS_OK ? 3 : 0;
        }
    }
    expect(GDS_Property(h, attribute, pickValue == 0 ? nullptr : value.c_str()), want, "property");
}

void element(Model& m, bool nullHandle, int kind, Input& in) {
    GdsHandle h = (nullHandle || !m.live) ? nullptr : m.handle;
    auto pointArrays = [&](const std::int32_t*& xs, const std::int32_t*& ys) {
        const int k = in.pointsKind();
        xs = (k == 0 || k == 2) ? nullptr : points(0).data();
        ys = (k == 1 || k == 2) ? nullptr : points(1).data();
        return xs != nullptr && ys != nullptr;
    };
    const std::int16_t layer = in.i16(), type = in.i16(), elflags = in.i16();
    const std::int32_t plex = in.i32();
    int got = 0, want = 0;
    auto run = [&](auto call, auto model) {
        got = call();
        want = h == nullptr ? GDS_ERR_HANDLE : model();
    };
    switch (kind) {
        case 0: {
            g_opName = "GDS_Boundary";
            const std::int32_t *xs, *ys;
            const bool ok = pointArrays(xs, ys);
            const std::int16_t n = in.i16();
            run([&] { return GDS_Boundary(h, xs, ys, n, layer, type, elflags, plex); },
                [&] {
                    return predict(m, {n > 8189 ? GDS_ERR_TOO_MANY_POINTS : 0, n < 3 ? GDS_ERR_TOO_FEW_POINTS : 0, ok ? 0 : GDS_ERR_NO_POINTS},
                                   n >= 3 && n <= 8189 ? boundaryBytes(static_cast<std::size_t>(n)) : 0);
                });
            break;
        }
        case 1:
        case 2:
        case 3: {
            const std::int32_t a = in.i32(), b = in.i32(), c = in.i32(), d = in.i32();
            if (kind == 1) {
                g_opName = "GDS_Box";
                run([&] { return GDS_Box(h, a, b, c, d, layer, type, elflags, plex); },
                    [&] { return predict(m, {}, kBoxBytes); });
            } else if (kind == 2) {
                g_opName = "GDS_BoxWH";
                run([&] { return GDS_BoxWH(h, a, b, c, d, layer, type, elflags, plex); },
                    [&] { return predict(m, {}, kBoxBytes); });
            } else {
                g_opName = "GDS_Square";
                run([&] { return GDS_Square(h, a, b, c, layer, type, elflags, plex); },
                    [&] { return predict(m, {}, kBoxBytes); });
            }
            break;
        }
        case 4: {
            g_opName = "GDS_Path";
            const std::int32_t *xs, *ys;
            const bool ok = pointArrays(xs, ys);
            const std::int16_t n = in.i16();
            const std::int32_t width = in.i32();
            const std::int16_t pathtype = in.i16();
            run([&] { return GDS_Path(h, xs, ys, n, width, layer, type, pathtype, elflags, plex); },
                [&] {
                    if (!m.structureOpen) return int{GDS_ERR_STRUCT_NOT_OPEN};
                    if (n < 2) return int{GDS_ERR_PATH_POINTS};
                    if (!ok) return int{GDS_ERR_NO_POINTS};
                    if (m.failed) return int{GDS_ERR_WRITE};
                    // Pieces of at most 8190 points sharing their joints.
                    std::size_t start = 0;
                    const auto total = static_cast<std::size_t>(n);
                    for (;;) {
                        const std::size_t pts = std::min<std::size_t>(total - start, 8190);
                        const int code = m.emit(pathBytes(pts));
                        if (code != GDS_OK) return code;
                        start += pts - 1;
                        if (start + 1 >= total) return int{GDS_OK};
                    }
                });
            break;
        }
        case 5:
        case 6:
        case 7: {
            const std::int32_t cx = in.i32(), cy = in.i32(), r = in.i32();
            const std::int16_t n = in.i16();
            const double a0 = kind == 5 ? 0.0 : in.f64();
            const double a1 = kind == 5 ? 0.0 : in.f64();
            const std::int32_t width = in.i32();
            const std::int16_t pathtype = in.i16();
            const int countCheck = n > 8189 ? GDS_ERR_TOO_MANY_POINTS : n < 3 ? GDS_ERR_TOO_FEW_POINTS
                                                                              : 0;
            const bool inRange = curveFits(cx, cy, r) && std::isfinite(a0) && std::isfinite(a1);
            const auto count = static_cast<std::size_t>(n < 3 ? 3 : n);
            if (kind == 5) {
                g_opName = "GDS_Circle";
                run([&] { return GDS_Circle(h, cx, cy, r, n, layer, type, elflags, plex); },
                    [&] { return predict(m, {countCheck, inRange ? 0 : GDS_ERR_RANGE}, boundaryBytes(count)); });
            } else if (kind == 6) {
                g_opName = "GDS_Arc";
                run([&] { return GDS_Arc(h, cx, cy, r, a0, a1, n, width, layer, type, pathtype, elflags, plex); },
                    [&] {
                        const double start = radians(a0);
                        const double step = (radians(a1) - start) / static_cast<double>(count);
                        const bool sampled = inRange && anglesFinite(start, step, count);
                        return predict(m, {countCheck, sampled ? 0 : GDS_ERR_RANGE}, pathBytes(count));
                    });
            } else {
                g_opName = "GDS_Sector";
                run([&] { return GDS_Sector(h, cx, cy, r, a0, a1, n, layer, type, elflags, plex); },
                    [&] {
                        const double start = radians(a0);
                        const double step = (((a1 - a0) * kPi) / static_cast<double>(count)) * kDegree;
                        const bool sampled = inRange && anglesFinite(start, step, count - 1);
                        return predict(m, {countCheck, sampled ? 0 : GDS_ERR_RANGE}, boundaryBytes(count));
                    });
            }
            break;
        }
        case 8: {
            g_opName = "GDS_Text";
            std::string text;
            const bool has = in.name(text);
            const std::int32_t x = in.i32(), y = in.i32(), width = in.i32();
            const std::int16_t presentation = in.i16(), pathtype = in.i16(), strans = in.i16();
            const double mag = in.f64(), angle = in.f64();
            run([&] { return GDS_Text(h, x, y, has ? text.c_str() : nullptr, layer, type, presentation, pathtype,
                                      width, strans, mag, angle, elflags, plex); },
                [&] {
                    return predict(m, {has ? 0 : GDS_ERR_NO_STRING, has && text.size() > kMaxText ? GDS_ERR_STRING_LENGTH : 0, static_cast<std::uint16_t>(type) > 255 ? GDS_ERR_TEXTTYPE : 0, fitsReal8(mag) && fitsReal8(angle) ? 0 : GDS_ERR_RANGE},
                                   textBytes(text.size()));
                });
            break;
        }
        case 9:
        case 10: {
            std::string sname;
            const bool has = in.name(sname);
            const std::int16_t strans = in.i16();
            const double mag = in.f64(), angle = in.f64();
            const int nameCheck = !has ? GDS_ERR_NO_STRING : sname.size() > kMaxName ? GDS_ERR_STRING_LENGTH
                                                                                     : 0;
            const int realCheck = fitsReal8(mag) && fitsReal8(angle) ? 0 : GDS_ERR_RANGE;
            const char* s = has ? sname.c_str() : nullptr;
            if (kind == 9) {
                g_opName = "GDS_Sref";
                const std::int32_t x = in.i32(), y = in.i32();
                run([&] { return GDS_Sref(h, s, x, y, strans, mag, angle, elflags, plex); },
                    [&] { return predict(m, {nameCheck, realCheck}, srefBytes(sname.size())); });
            } else {
                g_opName = "GDS_Aref";
                const std::int32_t *xs, *ys;
                const bool ok = pointArrays(xs, ys);
                const std::int16_t cols = in.i16(), rows = in.i16();
                run([&] { return GDS_Aref(h, s, xs, ys, cols, rows, strans, mag, angle, elflags, plex); },
                    [&] {
                        return predict(m, {nameCheck, realCheck, ok ? 0 : GDS_ERR_NO_POINTS},
                                       arefBytes(sname.size()));
                    });
            }
            break;
        }
        default: {
            g_opName = "GDS_Node";
            const std::int32_t *xs, *ys;
            const bool ok = pointArrays(xs, ys);
            const std::int16_t n = in.i16();
            run([&] { return GDS_Node(h, xs, ys, n, layer, type, elflags, plex); },
                [&] {
                    return predict(m, {n > 50 ? GDS_ERR_NODE_TOO_MANY : 0, n < 1 ? GDS_ERR_NODE_TOO_FEW : 0, ok ? 0 : GDS_ERR_NO_POINTS},
                                   nodeBytes(static_cast<std::size_t>(n < 1 ? 1 : n)));
                });
            break;
        }
    }
    // OASIS refuses what it cannot hold where GDSII writes it.
    const bool mayRefuse = std::strcmp(g_opName, "GDS_Path") == 0 || std::strcmp(g_opName, "GDS_Arc") == 0 ||
                           std::strcmp(g_opName, "GDS_Text") == 0 || std::strcmp(g_opName, "GDS_Sref") == 0 ||
                           std::strcmp(g_opName, "GDS_Aref") == 0;
    if (m.oasis && h != nullptr && want == GDS_OK && got == GDS_ERR_RANGE && mayRefuse) want = got;
    expect(got, want, "element");
    // An element that passed its checks may take properties, also on a failed file (which they report).
    if (h != nullptr && (want == GDS_OK || want == GDS_ERR_WRITE)) m.attachable = kind == 9 || kind == 10 ? 2 : 1;
    for (int extra = in.byte() % 4; extra > 0 && !in.empty(); --extra) property(m, h, in);
}

void beginStructure(Model& m, bool nullHandle, Input& in) {
    g_opName = "GDS_BeginStructure";
    std::string name;
    const bool has = in.name(name);
    GdsHandle h = (nullHandle || !m.live) ? nullptr : m.handle;
    int want;
    if (h == nullptr)
        want = GDS_ERR_HANDLE;
    else if (!m.libraryOpen)
        want = GDS_ERR_STOPPED;
    else if (m.structureOpen)
        want = GDS_ERR_STRUCT_OPEN;
    else if (!has)
        want = GDS_ERR_NO_STRING;
    else if (name.size() > kMaxName)
        want = GDS_ERR_STRING_LENGTH;
    else if (m.failed)
        want = GDS_ERR_WRITE;
    else if (m.oasis && !nameString(name))
        want = GDS_ERR_RANGE;
    else if (m.names.count(name) != 0)
        want = GDS_ERR_STRUCT_DUPLICATE;
    else {
        m.names.insert(name);
        m.structureOpen = true;
        want = m.emit(28 + 4 + padded(name.size()));
    }
    expect(GDS_BeginStructure(h, has ? name.c_str() : nullptr), want, "begin structure");
}

void endStructure(Model& m, bool nullHandle) {
    g_opName = "GDS_EndStructure";
    GdsHandle h = (nullHandle || !m.live) ? nullptr : m.handle;
    int want;
    if (h == nullptr)
        want = GDS_ERR_HANDLE;
    else if (!m.structureOpen)
        want = GDS_ERR_STRUCT_NOT_OPEN;
    else {
        // Closes the bracket even on a failed file, without writing ENDSTR.
        m.structureOpen = false;
        want = m.failed ? GDS_ERR_WRITE : m.emit(4);
    }
    expect(GDS_EndStructure(h), want, "end structure");
}

void getError(Input& in) {
    g_opName = "GDS_GetError";
    static const std::int32_t codes[] = {0, 1, 9, 10, 17, 18, 19, 21, 22, INT32_MIN, INT32_MAX};
    const std::uint8_t pick = in.byte() % 12;
    const std::int32_t code = pick < 11 ? codes[pick] : static_cast<std::int32_t>(in.raw(4));
    static const std::int32_t sizes[] = {-1, 0, 1, 2, 10, 31, 32, 38, 39, 55, 56, 1024, INT32_MIN};
    const std::int32_t size = sizes[in.byte() % 13];
    const bool nullBuffer = in.byte() % 8 == 0;
    char buffer[1024 + 16];
    std::memset(buffer, 0x5A, sizeof buffer);
    expect(GDS_GetError(code, nullBuffer ? nullptr : buffer, size), code, "returns its code");
    const bool known = static_cast<std::uint32_t>(code) < GDS_RESULT_CODE_COUNT;
    std::size_t touched = 0;
    if (known && !nullBuffer && size > 0) {
        char full[GDS_ERROR_BUFFER_SIZE];
        GDS_GetError(code, full, sizeof full);
        const std::size_t length = std::strlen(full);
        require(length < GDS_ERROR_BUFFER_SIZE, "message longer than GDS_ERROR_BUFFER_SIZE");
        if (code == GDS_ERR_WRITE) require(std::strcmp(full, "Error: Cannot write GDSII file.") == 0, "text of 18");
        if (code == GDS_ERR_NO_POINTS) {
            require(std::strcmp(full, "Error: The point array is not defined.") == 0, "text of 19");
        }
        const std::size_t copied = std::min(length, static_cast<std::size_t>(size) - 1);
        require(std::memcmp(buffer, full, copied) == 0 && buffer[copied] == '\0', "truncated message");
        touched = copied + 1;
    }
    for (std::size_t i = touched; i < sizeof buffer; ++i) require(buffer[i] == 0x5A, "byte beyond the message written");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* dir = std::getenv("CARVELLE_FUZZ_DIR");
    g_dir = dir != nullptr ? dir : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    points(0);
    g_trace = std::getenv("CARVELLE_FUZZ_TRACE") != nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    Model slots[2];
    for (g_step = 0; !in.empty() && g_step < 200; ++g_step) {
        const std::uint8_t op = in.byte();
        Model& m = slots[op & 1];
        const bool nullHandle = (op & 0x80) != 0 && (op & 0x40) != 0;  // one op in four
        // Any call on this library but a property ends the element's turn for properties.
        if (!nullHandle && m.live) m.attachable = 0;
        switch ((op >> 1) % 18) {
            case 0:
                beginLibrary(m, op & 1, in);
                break;
            case 1:
                endLibrary(m, nullHandle);
                break;
            case 2:
            case 3:
                beginStructure(m, nullHandle, in);
                break;
            case 4:
                endStructure(m, nullHandle);
                break;
            case 17:
                getError(in);
                break;
            default:
                element(m, nullHandle, (op >> 1) % 18 - 5, in);
                break;
        }
    }
    for (Model& m : slots) {
        if (m.live) endLibrary(m, false);
    }
    return 0;
}
