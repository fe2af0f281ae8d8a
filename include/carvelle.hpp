// SPDX-License-Identifier: MIT
// Carvelle for C++17: a header-only layer over the C functions of gds_api.h.
//
//   carvelle::Library lib("chip.gds");              // GDS_BeginLib; throws carvelle::Error
//   {
//       auto top = lib.structure("TOP");             // GDS_BeginStructure ... GDS_EndStructure
//       lib.box(0, 0, 1000, 500, /*layer*/ 1);
//       lib.boundary({{0, 0}, {100, 0}, {50, 80}}, 2);
//       top->text(0, -100, "chip", 63);              // the scope forwards to its library
//   }                                               // ~Structure ends TOP
//   lib.close();                                    // or let ~Library end the library
//
// Every element call is exactly one C function (Point lists are split into
// the two coordinate arrays that the C functions take). Each exists twice:
//   - try_xxx(...) is noexcept and returns the library's result code;
//   - xxx(...) throws carvelle::Error (code, name, the library's message) for
//     a non-zero result. It exists only when the host compiles with
//     exceptions; with -fno-exceptions (or /EHs-c-) only the try_ forms and
//     the non-throwing constructor are declared.
// Parameters keep the C order: coordinates, widths and PLEX are Int32,
// layers, types and counts Int16, bit words Bits16 (-32768 to 0xFFFF, or
// carvelle::word(0x8000)). They take any integer or enumeration and never
// cut one: a value that does not fit its C parameter (layer 70000, a
// long long coordinate of 3e9) makes the call return GDS_ERR_RANGE (or throw
// Error with it) without calling the library; a double or a bool does not
// compile. xs and ys may be two std::vector, std::array or std::span of
// int32_t wherever a point list goes. Trailing parameters default to 0, mag
// to 1.0 and angles to 0.0.
//
// Guards: the C functions write what they are given; this layer refuses,
// without calling them, what the field's readers reject: units that are not
// finite and greater than 0 (no file is made), a mag that is not finite and
// greater than 0, an angle that is not finite, cols or rows outside
// 1..32767, and a structure name that is empty or longer than 65530 bytes
// (all GDS_ERR_RANGE); a reference to the structure begun through this
// object and still open (GDS_ERR_STRUCT_OPEN).
//
// Lifetime: close() and ~Library end a structure begun through the object
// and still open, then the library (GDS_EndLib), so the file is always
// complete. Only close() and try_close() can report a failed disk
// (GDS_ERR_WRITE): ~Library cannot, so call close() when it matters. A
// Library destroyed while an exception unwinds the stack removes its file:
// no name is left on a layout that stopped half-way. A Structure scope
// refers to its Library, which must outlive it and must not be moved while
// it is alive.
//
// carvelle::merge(output, parts) joins part libraries into one
// (carvelle_merge.hpp; link Carvelle::merge).
#ifndef CARVELLE_HPP
#define CARVELLE_HPP

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "carvelle_merge.hpp"
#include "carvelle_rules.hpp"
#include "gds_api.h"

#if defined(__cpp_exceptions) || defined(__EXCEPTIONS) || defined(_CPPUNWIND)
#define CARVELLE_HPP_EXCEPTIONS 1
#include <stdexcept>
#else
#define CARVELLE_HPP_EXCEPTIONS 0
#endif

namespace carvelle {

struct Point {
    int32_t x;
    int32_t y;
};

/// The 16 bits of a bit word (strans, elflags, presentation) as the int16_t
/// that the C functions take: word(0x8000) is the STRANS reflection bit.
constexpr int16_t word(uint16_t bits) noexcept {
    return bits > 0x7FFF ? static_cast<int16_t>(static_cast<int32_t>(bits) - 0x10000)
                         : static_cast<int16_t>(bits);
}

namespace detail {
/// True when value lies in [low, high], whatever the signedness of its type.
template <class I>
constexpr bool within(I value, std::intmax_t low, std::intmax_t high) noexcept {
    if constexpr (std::is_signed_v<I>) {
        return static_cast<std::intmax_t>(value) >= low && static_cast<std::intmax_t>(value) <= high;
    } else {
        return static_cast<std::uintmax_t>(value) <= static_cast<std::uintmax_t>(high);
    }
}

/// A parameter of the C type T, taken from any integer or enumeration. A value
/// outside [Low, High] is kept as refused: the call then returns GDS_ERR_RANGE
/// without calling the library, where a plain conversion would cut the value
/// and write what was not asked. Floating-point and bool arguments do not
/// compile. Values above T's maximum (bit words up to 0xFFFF) keep their low
/// bits, as word() gives them.
template <class T, std::intmax_t Low, std::intmax_t High>
class Exact {
public:
    template <class I, std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, bool>, int> = 0>
    constexpr Exact(I value) noexcept  // NOLINT(google-explicit-constructor): stands for T in every call
        : value_(narrow(value)), fits_(within(value, Low, High)) {}
    template <class E, std::enable_if_t<std::is_enum_v<E>, int> = 0>
    constexpr Exact(E value) noexcept  // NOLINT(google-explicit-constructor)
        : Exact(static_cast<std::underlying_type_t<E>>(value)) {}
    template <class F, std::enable_if_t<std::is_floating_point_v<F> || std::is_same_v<F, bool>, int> = 0>
    Exact(F) = delete;

    constexpr operator T() const noexcept { return value_; }  // NOLINT(google-explicit-constructor)
    constexpr bool fits() const noexcept { return fits_; }

private:
    template <class I>
    static constexpr T narrow(I value) noexcept {
        if (!within(value, Low, High)) return 0;
        const auto wide = static_cast<std::intmax_t>(value);
        constexpr auto top = static_cast<std::intmax_t>(std::numeric_limits<T>::max());
        return static_cast<T>(wide > top ? wide - 2 * (top + 1) : wide);
    }

    T value_;
    bool fits_;
};

/// What readers accept of a transformation, a unit and an array's counts.
constexpr int16_t kMostCount = 32767;
constexpr std::size_t kMostName = 65530;  // the longest text one record holds
inline bool magnifies(double mag) noexcept { return std::isfinite(mag) && mag > 0.0; }
inline bool turns(double angle) noexcept { return std::isfinite(angle); }
inline bool is_unit(double unit) noexcept { return std::isfinite(unit) && unit > 0.0; }
inline bool counts(int16_t value) noexcept { return value >= 1 && value <= kMostCount; }
inline bool names(const char* name) noexcept {
    return name != nullptr && name[0] != '\0' && std::strlen(name) <= kMostName;
}

/// Enabled when xs and ys are two contiguous sequences of int32_t.
template <class Xs, class Ys>
using Coordinates =
    std::enable_if_t<std::is_convertible_v<decltype(std::data(std::declval<const Xs&>())), const int32_t*> &&
                     std::is_convertible_v<decltype(std::data(std::declval<const Ys&>())), const int32_t*>>;
}  // namespace detail

/// Coordinates, widths and PLEX (int32_t in the C functions).
using Int32 = detail::Exact<int32_t, INT32_MIN, INT32_MAX>;
/// Layers, types and counts (int16_t).
using Int16 = detail::Exact<int16_t, INT16_MIN, INT16_MAX>;
/// Bit words (strans, elflags, presentation): -32768 to 0xFFFF, as their 16 bits.
using Bits16 = detail::Exact<int16_t, INT16_MIN, 0xFFFF>;

/// Name of a result code as in gds_api.h ("GDS_ERR_STRUCT_NOT_OPEN"); null
/// for a code the header does not define.
inline const char* result_name(int32_t code) noexcept {
    static const char* const names[GDS_RESULT_CODE_COUNT] = {
        "GDS_OK",
        "GDS_ERR_HANDLE",
        "GDS_ERR_RANGE",
        "GDS_ERR_OPEN",
        "GDS_ERR_STARTED",
        "GDS_ERR_STOPPED",
        "GDS_ERR_STRUCT_NOT_CLOSED",
        "GDS_ERR_STRUCT_OPEN",
        "GDS_ERR_STRUCT_NOT_OPEN",
        "GDS_ERR_STRUCT_DUPLICATE",
        "GDS_ERR_TOO_MANY_POINTS",
        "GDS_ERR_TOO_FEW_POINTS",
        "GDS_ERR_PATH_POINTS",
        "GDS_ERR_NO_STRING",
        "GDS_ERR_STRING_LENGTH",
        "GDS_ERR_TEXTTYPE",
        "GDS_ERR_NODE_TOO_MANY",
        "GDS_ERR_NODE_TOO_FEW",
        "GDS_ERR_WRITE",
        "GDS_ERR_NO_POINTS",
    };
    return code >= 0 && code < GDS_RESULT_CODE_COUNT ? names[code] : nullptr;
}

/// The library's message for a code (GDS_GetError), empty when it has none.
inline std::string error_message(int32_t code) {
    char buffer[GDS_ERROR_BUFFER_SIZE] = {0};
    GDS_GetError(code, buffer, static_cast<int32_t>(sizeof buffer));
    return std::string(buffer);
}

#if CARVELLE_HPP_EXCEPTIONS
/// A call that the library refused. what() reads
/// "GDS_Box: Error: Structure is not opened. (GDS_ERR_STRUCT_NOT_OPEN, code 8)".
class Error : public std::runtime_error {
public:
    Error(int32_t code, const char* function)
        : std::runtime_error(describe(code, function)), code_(code), function_(function) {}

    int32_t code() const noexcept { return code_; }
    /// The name of the code in gds_api.h, or "unknown".
    const char* name() const noexcept {
        const char* n = result_name(code_);
        return n ? n : "unknown";
    }
    /// The library's own text, byte for byte.
    std::string message() const { return error_message(code_); }
    /// The C function that returned the code.
    const char* function() const noexcept { return function_; }

private:
    static std::string describe(int32_t code, const char* function) {
        std::string text = function ? std::string(function) + ": " : std::string();
        std::string message = error_message(code);
        while (!message.empty() && message.back() == ' ') message.pop_back();
        text += message.empty() ? std::string("unknown result") : message;
        const char* n = result_name(code);
        text += std::string(" (") + (n ? n : "unknown") + ", code " + std::to_string(code) + ")";
        return text;
    }

    int32_t code_;
    const char* function_;
};

namespace detail {
inline void check(int32_t code, const char* function) {
    if (code != GDS_OK) throw Error(code, function);
}
}  // namespace detail

/// A call refused, before anything was written, because it breaks a rule of the library's rule set
/// (Library::try_set_rules). code() is GDS_ERR_RANGE; what() reads
/// "GDS_Box: breaks rule max-layer: layer 300, over 255 (layer number above what fab and mask tools take)".
class RuleError : public Error {
public:
    RuleError(const char* rule, const std::string& found, const char* function)
        : Error(GDS_ERR_RANGE, function), rule_(rule),
          text_(std::string(function) + ": breaks rule " + rule + ": " + found) {}
    const char* what() const noexcept override { return text_.c_str(); }
    /// The rule's name, as carvelle-info --check names it.
    const char* rule() const noexcept { return rule_; }

private:
    const char* rule_;
    std::string text_;
};
#endif

/// A point list that the caller owns, viewed for the length of one call: a contiguous sequence of Point (any
/// container with data() and size(), a braced list, or pointer and count), or
/// two coordinate sequences xs and ys (passed to the library as they are; xs
/// and ys of different sizes make the element call return GDS_ERR_NO_POINTS
/// without calling the library).
class Points {
public:
    Points(const Point* points, std::size_t count) noexcept : points_(points), count_(count) {}
    // A braced list lives until the end of the call that it is passed to,
    // which is as long as a Points is meant to live.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winit-list-lifetime"
#endif
    Points(std::initializer_list<Point> points) noexcept : points_(points.begin()), count_(points.size()) {}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
    template <class Container,
              class = std::enable_if_t<std::is_convertible_v<decltype(std::data(std::declval<const Container&>())),
                                                             const Point*>>>
    Points(const Container& points) noexcept : points_(std::data(points)), count_(std::size(points)) {}

    Points(const int32_t* xs, const int32_t* ys, std::size_t count) noexcept : xs_(xs), ys_(ys), count_(count) {}
    template <class Xs, class Ys, class = detail::Coordinates<Xs, Ys>>
    Points(const Xs& xs, const Ys& ys) noexcept
        : xs_(std::data(xs)), ys_(std::data(ys)), count_(std::size(xs)),
          mismatch_(std::size(xs) != std::size(ys)) {}

    std::size_t size() const noexcept { return count_; }

private:
    friend class Library;
    const Point* points_ = nullptr;
    const int32_t* xs_ = nullptr;
    const int32_t* ys_ = nullptr;
    std::size_t count_ = 0;
    bool mismatch_ = false;
};

class Structure;

/// One GDSII file being written: GDS_BeginLib when it is constructed with a
/// path (or by try_open), GDS_EndLib at close() or when it is destroyed. Not
/// copyable; a move hands the file to the new object. Each element call
/// exists as try_xxx (noexcept, returns the result code) and xxx (throws
/// Error).
class Library {
public:
    /// An empty object: no library until try_open() succeeds.
    Library() noexcept = default;

#if CARVELLE_HPP_EXCEPTIONS
    /// Begins the library in path (GDS_BeginLib); throws Error on failure. With rules (a rule set such as
    /// "fab", see try_set_rules), a set that cannot be read throws std::invalid_argument before the file is made.
    explicit Library(const char* path, double user_unit = 1e-3, double meter_unit = 1e-9, const char* rules = nullptr) {
        if (rules != nullptr) set_rules(rules);
        check(try_open(path, user_unit, meter_unit), "GDS_BeginLib");
    }
    explicit Library(const std::string& path, double user_unit = 1e-3, double meter_unit = 1e-9,
                     const char* rules = nullptr)
        : Library(path.c_str(), user_unit, meter_unit, rules) {}
    /// Refuses from now on any call that breaks a rule of the set (see try_set_rules); throws
    /// std::invalid_argument for a set that cannot be read.
    void set_rules(const std::string& rules) {
        std::string error;
        carvelle::rules::Limits limits{};
        if (!carvelle::rules::parse(rules, limits, error)) throw std::invalid_argument(error);
        limits_ = limits;
        guarded_ = true;
    }
#endif

    ~Library() { finish(); }

    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    Library(Library&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)),
          structure_open_(std::exchange(other.structure_open_, false)),
          xs_(std::move(other.xs_)), ys_(std::move(other.ys_)), path_(std::move(other.path_)),
          open_name_(std::move(other.open_name_)), unwinding_(other.unwinding_), limits_(other.limits_),
          guarded_(other.guarded_) {}
    Library& operator=(Library&& other) noexcept {
        if (this != &other) {
            finish();
            handle_ = std::exchange(other.handle_, nullptr);
            structure_open_ = std::exchange(other.structure_open_, false);
            xs_ = std::move(other.xs_);
            ys_ = std::move(other.ys_);
            path_ = std::move(other.path_);
            open_name_ = std::move(other.open_name_);
            unwinding_ = other.unwinding_;
            limits_ = other.limits_;
            guarded_ = other.guarded_;
        }
        return *this;
    }

    /// Begins the library in path. Returns the GDS_BeginLib result; on failure
    /// the handle that GDS_BeginLib made is released and the object stays
    /// empty. An object that already holds a library returns GDS_ERR_STARTED.
    int32_t try_open(const char* path, double user_unit = 1e-3, double meter_unit = 1e-9) noexcept {
        return begin(path, user_unit, meter_unit, false, 0);
    }
    int32_t try_open(const std::string& path, double user_unit = 1e-3, double meter_unit = 1e-9) noexcept {
        return try_open(path.c_str(), user_unit, meter_unit);
    }
    /// try_open with every BGNLIB and BGNSTR at time (GDS_BeginLibAt): seconds
    /// since 1970 in UTC, or GDS_TIME_ZERO for zero words.
    int32_t try_open_at(const char* path, int64_t time, double user_unit = 1e-3, double meter_unit = 1e-9) noexcept {
        return begin(path, user_unit, meter_unit, true, time);
    }

    /// Ends a structure begun through this object and still open, as leaving
    /// its scope does, then the library (GDS_EndLib), so that the file is
    /// complete; the handle is released whatever the result. Returns the
    /// first code that is not GDS_OK (GDS_ERR_WRITE for a failed disk). On an
    /// empty object the library reports GDS_ERR_HANDLE.
    int32_t try_close() noexcept {
        const int32_t ended = structure_open_ ? try_end_structure() : GDS_OK;
        const int32_t closed = GDS_EndLib(std::exchange(handle_, nullptr));
        return ended != GDS_OK ? ended : closed;
    }

    /// Refuses from now on, before it is written, any call that breaks a rule of the set: a profile ("fab",
    /// "readers"), then RULE=N, RULE=off or RULE, comma-separated (carvelle_rules.hpp, the table that
    /// carvelle-info --check reads). Such a call returns GDS_ERR_RANGE and writes nothing; broken_rule() and
    /// broken_what() say which rule and what broke it, and the throwing form throws RuleError. The rules of the
    /// library as a whole (one-top, undefined, cycles, duplicates) are left to carvelle-info --check. Returns
    /// GDS_ERR_RANGE, the rules unchanged, for a set that cannot be read; nullptr turns the rules off.
    int32_t try_set_rules(const char* rules) noexcept {
        if (rules == nullptr) {
            guarded_ = false;
            return GDS_OK;
        }
#if CARVELLE_HPP_EXCEPTIONS
        try {
#endif
            std::string error;
            carvelle::rules::Limits limits{};
            if (!carvelle::rules::parse(rules, limits, error)) return GDS_ERR_RANGE;
            limits_ = limits;
            guarded_ = true;
            return GDS_OK;
#if CARVELLE_HPP_EXCEPTIONS
        } catch (...) {
            return GDS_ERR_RANGE;  // no memory for the set's text
        }
#endif
    }
    /// The rule the last refused call broke, or nullptr; and what broke it ("layer 300, over 255").
    const char* broken_rule() const noexcept { return broken_ < 0 ? nullptr : carvelle::rules::kRules[broken_].name; }
    const char* broken_what() const noexcept { return broken_what_; }

    bool is_open() const noexcept { return handle_ != nullptr; }
    explicit operator bool() const noexcept { return handle_ != nullptr; }
    GdsHandle handle() const noexcept { return handle_; }
    /// Gives up the handle: the caller ends it with GDS_EndLib.
    GdsHandle release() noexcept {
        structure_open_ = false;
        return std::exchange(handle_, nullptr);
    }

    // --- structures ----------------------------------------------------------
    int32_t try_begin_structure(const char* name) noexcept {
        if (!detail::names(name)) return GDS_ERR_RANGE;
        if (breaks_name(name)) return GDS_ERR_RANGE;
        const int32_t code = GDS_BeginStructure(handle_, name);
        if (code == GDS_OK) {
            structure_open_ = true;
            keep(open_name_, name);
        }
        return code;
    }
    int32_t try_begin_structure(const std::string& name) noexcept { return try_begin_structure(name.c_str()); }
    int32_t try_end_structure() noexcept {
        structure_open_ = false;
        return GDS_EndStructure(handle_);
    }
    /// A scope that ends the structure when it goes away; result receives the
    /// GDS_BeginStructure result, and the scope is empty unless it is 0.
    inline Structure try_structure(const char* name, int32_t& result) noexcept;
    inline Structure try_structure(const std::string& name, int32_t& result) noexcept;

    // --- properties (GDS_Property) ------------------------------------------
    /// PROPATTR attribute (1 to 127) and PROPVALUE value (at most 126 bytes) on
    /// the element that the call just before wrote; call again for more.
    int32_t try_property(Int16 attribute, const char* value) noexcept {
        if (!fit(attribute)) return GDS_ERR_PROPERTY;
        return GDS_Property(handle_, attribute, value);
    }
    int32_t try_property(Int16 attribute, const std::string& value) noexcept {
        // A value with a NUL inside would reach the file cut short.
        if (value.find('\0') != std::string::npos) return GDS_ERR_PROPERTY;
        return try_property(attribute, value.c_str());
    }
    /// Several at once, in order; stops at the first refused.
    int32_t try_properties(std::initializer_list<std::pair<int, const char*>> properties) noexcept {
        for (const auto& [attribute, value] : properties) {
            if (const int32_t code = try_property(attribute, value)) return code;
        }
        return GDS_OK;
    }

    // --- elements (GDS_ functions of the same name) --------------------------
    /// Point lists longer than 32767 do not fit the 16-bit count: they return
    /// GDS_ERR_TOO_MANY_POINTS (NODE: GDS_ERR_NODE_TOO_MANY) without a call.
    int32_t try_boundary(Points points, Int16 layer = 0, Int16 datatype = 0, Bits16 elflags = 0,
                         Int32 plex = 0) noexcept {
        if (!fit(layer, datatype, elflags, plex)) return GDS_ERR_RANGE;
        // The library closes the ring: its points are the vertices and one more.
        if (breaks_layer(layer, datatype) || breaks_points(carvelle::rules::MaxVertices, points.size(), points.size() + 1))
            return GDS_ERR_RANGE;
        const int32_t *xs = nullptr, *ys = nullptr;
        int16_t count = 0;
        if (const int32_t refused = split(points, xs, ys, count, GDS_ERR_TOO_MANY_POINTS)) return refused;
        return GDS_Boundary(handle_, xs, ys, count, layer, datatype, elflags, plex);
    }
    int32_t try_box(Int32 x1, Int32 y1, Int32 x2, Int32 y2, Int16 layer = 0, Int16 boxtype = 0,
                    Bits16 elflags = 0, Int32 plex = 0) noexcept {
        if (!fit(x1, y1, x2, y2, layer, boxtype, elflags, plex) || breaks_layer(layer, boxtype)) return GDS_ERR_RANGE;
        return GDS_Box(handle_, x1, y1, x2, y2, layer, boxtype, elflags, plex);
    }
    int32_t try_box_wh(Int32 x, Int32 y, Int32 w, Int32 h, Int16 layer = 0, Int16 boxtype = 0,
                       Bits16 elflags = 0, Int32 plex = 0) noexcept {
        if (!fit(x, y, w, h, layer, boxtype, elflags, plex) || breaks_layer(layer, boxtype)) return GDS_ERR_RANGE;
        return GDS_BoxWH(handle_, x, y, w, h, layer, boxtype, elflags, plex);
    }
    int32_t try_square(Int32 x, Int32 y, Int32 side, Int16 layer = 0, Int16 boxtype = 0,
                       Bits16 elflags = 0, Int32 plex = 0) noexcept {
        if (!fit(x, y, side, layer, boxtype, elflags, plex) || breaks_layer(layer, boxtype)) return GDS_ERR_RANGE;
        return GDS_Square(handle_, x, y, side, layer, boxtype, elflags, plex);
    }
    int32_t try_path(Points points, Int32 width = 0, Int16 layer = 0, Int16 datatype = 0,
                     Int16 pathtype = 0, Bits16 elflags = 0, Int32 plex = 0) noexcept {
        if (!fit(width, layer, datatype, pathtype, elflags, plex)) return GDS_ERR_RANGE;
        if (breaks_layer(layer, datatype) || breaks_points(carvelle::rules::MaxPathPoints, points.size(), points.size()))
            return GDS_ERR_RANGE;
        const int32_t *xs = nullptr, *ys = nullptr;
        int16_t count = 0;
        if (const int32_t refused = split(points, xs, ys, count, GDS_ERR_TOO_MANY_POINTS)) return refused;
        return GDS_Path(handle_, xs, ys, count, width, layer, datatype, pathtype, elflags, plex);
    }
    int32_t try_circle(Int32 cx, Int32 cy, Int32 radius, Int16 count, Int16 layer = 0,
                       Int16 datatype = 0, Bits16 elflags = 0, Int32 plex = 0) noexcept {
        if (!fit(cx, cy, radius, count, layer, datatype, elflags, plex) || breaks_layer(layer, datatype)) return GDS_ERR_RANGE;
        return GDS_Circle(handle_, cx, cy, radius, count, layer, datatype, elflags, plex);
    }
    int32_t try_arc(Int32 cx, Int32 cy, Int32 radius, double start_angle, double end_angle, Int16 count,
                    Int32 width = 0, Int16 layer = 0, Int16 datatype = 0, Int16 pathtype = 0,
                    Bits16 elflags = 0, Int32 plex = 0) noexcept {
        if (!fit(cx, cy, radius, count, width, layer, datatype, pathtype, elflags, plex) || breaks_layer(layer, datatype))
            return GDS_ERR_RANGE;
        return GDS_Arc(handle_, cx, cy, radius, start_angle, end_angle, count, width, layer, datatype, pathtype,
                       elflags, plex);
    }
    int32_t try_sector(Int32 cx, Int32 cy, Int32 radius, double start_angle, double end_angle,
                       Int16 count, Int16 layer = 0, Int16 datatype = 0, Bits16 elflags = 0,
                       Int32 plex = 0) noexcept {
        if (!fit(cx, cy, radius, count, layer, datatype, elflags, plex) || breaks_layer(layer, datatype)) return GDS_ERR_RANGE;
        return GDS_Sector(handle_, cx, cy, radius, start_angle, end_angle, count, layer, datatype, elflags, plex);
    }
    int32_t try_text(Int32 x, Int32 y, const char* text, Int16 layer = 0, Int16 texttype = 0,
                     Bits16 presentation = 0, Int16 pathtype = 0, Int32 width = 0, Bits16 strans = 0,
                     double mag = 1.0, double angle = 0.0, Bits16 elflags = 0, Int32 plex = 0) noexcept {
        if (!fit(x, y, layer, texttype, presentation, pathtype, width, strans, elflags, plex) ||
            !detail::magnifies(mag) || !detail::turns(angle))
            return GDS_ERR_RANGE;
        if (breaks_layer(layer, texttype) || breaks_text(text)) return GDS_ERR_RANGE;
        return GDS_Text(handle_, x, y, text, layer, texttype, presentation, pathtype, width, strans, mag, angle,
                        elflags, plex);
    }
    int32_t try_text(Int32 x, Int32 y, const std::string& text, Int16 layer = 0, Int16 texttype = 0,
                     Bits16 presentation = 0, Int16 pathtype = 0, Int32 width = 0, Bits16 strans = 0,
                     double mag = 1.0, double angle = 0.0, Bits16 elflags = 0, Int32 plex = 0) noexcept {
        return try_text(x, y, text.c_str(), layer, texttype, presentation, pathtype, width, strans, mag, angle,
                        elflags, plex);
    }
    int32_t try_sref(const char* sname, Int32 x, Int32 y, Bits16 strans = 0, double mag = 1.0,
                     double angle = 0.0, Bits16 elflags = 0, Int32 plex = 0) noexcept {
        broken_ = -1;  // no rule holds a lone reference
        if (!fit(x, y, strans, elflags, plex) || !detail::magnifies(mag) || !detail::turns(angle))
            return GDS_ERR_RANGE;
        if (refers_to_open(sname)) return GDS_ERR_STRUCT_OPEN;
        return GDS_Sref(handle_, sname, x, y, strans, mag, angle, elflags, plex);
    }
    int32_t try_sref(const std::string& sname, Int32 x, Int32 y, Bits16 strans = 0, double mag = 1.0,
                     double angle = 0.0, Bits16 elflags = 0, Int32 plex = 0) noexcept {
        return try_sref(sname.c_str(), x, y, strans, mag, angle, elflags, plex);
    }
    /// AREF from its three points: the origin, the origin displaced by cols column pitches, and by rows row pitches.
    int32_t try_aref(const char* sname, Point origin, Point col_corner, Point row_corner, Int16 cols,
                     Int16 rows, Bits16 strans = 0, double mag = 1.0, double angle = 0.0, Bits16 elflags = 0,
                     Int32 plex = 0) noexcept {
        if (!fit(cols, rows, strans, elflags, plex) || !detail::counts(cols) || !detail::counts(rows) ||
            !detail::magnifies(mag) || !detail::turns(angle))
            return GDS_ERR_RANGE;
        if (breaks_array(cols, rows)) return GDS_ERR_RANGE;
        if (refers_to_open(sname)) return GDS_ERR_STRUCT_OPEN;
        const int32_t xs[3] = {origin.x, col_corner.x, row_corner.x};
        const int32_t ys[3] = {origin.y, col_corner.y, row_corner.y};
        return GDS_Aref(handle_, sname, xs, ys, cols, rows, strans, mag, angle, elflags, plex);
    }
    int32_t try_aref(const std::string& sname, Point origin, Point col_corner, Point row_corner, Int16 cols,
                     Int16 rows, Bits16 strans = 0, double mag = 1.0, double angle = 0.0, Bits16 elflags = 0,
                     Int32 plex = 0) noexcept {
        return try_aref(sname.c_str(), origin, col_corner, row_corner, cols, rows, strans, mag, angle, elflags,
                        plex);
    }
    int32_t try_node(Points points, Int16 layer = 0, Int16 nodetype = 0, Bits16 elflags = 0,
                     Int32 plex = 0) noexcept {
        if (!fit(layer, nodetype, elflags, plex) || breaks_layer(layer, nodetype)) return GDS_ERR_RANGE;
        const int32_t *xs = nullptr, *ys = nullptr;
        int16_t count = 0;
        if (const int32_t refused = split(points, xs, ys, count, GDS_ERR_NODE_TOO_MANY)) return refused;
        return GDS_Node(handle_, xs, ys, count, layer, nodetype, elflags, plex);
    }

    /// xs and ys as two sequences of int32_t (std::vector, std::array,
    /// std::span, arrays) wherever a point list goes.
    template <class Xs, class Ys, class... Rest, class = detail::Coordinates<Xs, Ys>>
    int32_t try_boundary(const Xs& xs, const Ys& ys, Rest... rest) noexcept {
        return try_boundary(Points(xs, ys), rest...);
    }
    template <class Xs, class Ys, class... Rest, class = detail::Coordinates<Xs, Ys>>
    int32_t try_path(const Xs& xs, const Ys& ys, Rest... rest) noexcept {
        return try_path(Points(xs, ys), rest...);
    }
    template <class Xs, class Ys, class... Rest, class = detail::Coordinates<Xs, Ys>>
    int32_t try_node(const Xs& xs, const Ys& ys, Rest... rest) noexcept {
        return try_node(Points(xs, ys), rest...);
    }

#if CARVELLE_HPP_EXCEPTIONS
    // --- the same, throwing Error ---------------------------------------------
    void open(const char* path, double user_unit = 1e-3, double meter_unit = 1e-9) {
        check(try_open(path, user_unit, meter_unit), "GDS_BeginLib");
    }
    void open(const std::string& path, double user_unit = 1e-3, double meter_unit = 1e-9) {
        open(path.c_str(), user_unit, meter_unit);
    }
    void open_at(const char* path, int64_t time, double user_unit = 1e-3, double meter_unit = 1e-9) {
        check(try_open_at(path, time, user_unit, meter_unit), "GDS_BeginLibAt");
    }
    void close() { check(try_close(), "GDS_EndLib"); }
    void property(Int16 attribute, const char* value) {
        check(try_property(attribute, value), "GDS_Property");
    }
    void property(Int16 attribute, const std::string& value) {
        check(try_property(attribute, value), "GDS_Property");
    }
    void properties(std::initializer_list<std::pair<int, const char*>> properties) {
        check(try_properties(properties), "GDS_Property");
    }
    void begin_structure(const char* name) { check(try_begin_structure(name), "GDS_BeginStructure"); }
    void begin_structure(const std::string& name) { begin_structure(name.c_str()); }
    void end_structure() { check(try_end_structure(), "GDS_EndStructure"); }
    inline Structure structure(const char* name);
    inline Structure structure(const std::string& name);

    void boundary(Points points, Int16 layer = 0, Int16 datatype = 0, Bits16 elflags = 0,
                  Int32 plex = 0) {
        check(try_boundary(points, layer, datatype, elflags, plex), "GDS_Boundary");
    }
    void box(Int32 x1, Int32 y1, Int32 x2, Int32 y2, Int16 layer = 0, Int16 boxtype = 0,
             Bits16 elflags = 0, Int32 plex = 0) {
        check(try_box(x1, y1, x2, y2, layer, boxtype, elflags, plex), "GDS_Box");
    }
    void box_wh(Int32 x, Int32 y, Int32 w, Int32 h, Int16 layer = 0, Int16 boxtype = 0,
                Bits16 elflags = 0, Int32 plex = 0) {
        check(try_box_wh(x, y, w, h, layer, boxtype, elflags, plex), "GDS_BoxWH");
    }
    void square(Int32 x, Int32 y, Int32 side, Int16 layer = 0, Int16 boxtype = 0, Bits16 elflags = 0,
                Int32 plex = 0) {
        check(try_square(x, y, side, layer, boxtype, elflags, plex), "GDS_Square");
    }
    void path(Points points, Int32 width = 0, Int16 layer = 0, Int16 datatype = 0, Int16 pathtype = 0,
              Bits16 elflags = 0, Int32 plex = 0) {
        check(try_path(points, width, layer, datatype, pathtype, elflags, plex), "GDS_Path");
    }
    void circle(Int32 cx, Int32 cy, Int32 radius, Int16 count, Int16 layer = 0, Int16 datatype = 0,
                Bits16 elflags = 0, Int32 plex = 0) {
        check(try_circle(cx, cy, radius, count, layer, datatype, elflags, plex), "GDS_Circle");
    }
    void arc(Int32 cx, Int32 cy, Int32 radius, double start_angle, double end_angle, Int16 count,
             Int32 width = 0, Int16 layer = 0, Int16 datatype = 0, Int16 pathtype = 0, Bits16 elflags = 0,
             Int32 plex = 0) {
        check(try_arc(cx, cy, radius, start_angle, end_angle, count, width, layer, datatype, pathtype,
                      elflags, plex),
              "GDS_Arc");
    }
    void sector(Int32 cx, Int32 cy, Int32 radius, double start_angle, double end_angle, Int16 count,
                Int16 layer = 0, Int16 datatype = 0, Bits16 elflags = 0, Int32 plex = 0) {
        check(try_sector(cx, cy, radius, start_angle, end_angle, count, layer, datatype, elflags, plex),
              "GDS_Sector");
    }
    void text(Int32 x, Int32 y, const char* text, Int16 layer = 0, Int16 texttype = 0,
              Bits16 presentation = 0, Int16 pathtype = 0, Int32 width = 0, Bits16 strans = 0,
              double mag = 1.0, double angle = 0.0, Bits16 elflags = 0, Int32 plex = 0) {
        check(try_text(x, y, text, layer, texttype, presentation, pathtype, width, strans, mag, angle,
                       elflags, plex),
              "GDS_Text");
    }
    void text(Int32 x, Int32 y, const std::string& text, Int16 layer = 0, Int16 texttype = 0,
              Bits16 presentation = 0, Int16 pathtype = 0, Int32 width = 0, Bits16 strans = 0,
              double mag = 1.0, double angle = 0.0, Bits16 elflags = 0, Int32 plex = 0) {
        this->text(x, y, text.c_str(), layer, texttype, presentation, pathtype, width, strans, mag, angle,
                   elflags, plex);
    }
    void sref(const char* sname, Int32 x, Int32 y, Bits16 strans = 0, double mag = 1.0, double angle = 0.0,
              Bits16 elflags = 0, Int32 plex = 0) {
        check(try_sref(sname, x, y, strans, mag, angle, elflags, plex), "GDS_Sref");
    }
    void sref(const std::string& sname, Int32 x, Int32 y, Bits16 strans = 0, double mag = 1.0,
              double angle = 0.0, Bits16 elflags = 0, Int32 plex = 0) {
        sref(sname.c_str(), x, y, strans, mag, angle, elflags, plex);
    }
    void aref(const char* sname, Point origin, Point col_corner, Point row_corner, Int16 cols, Int16 rows,
              Bits16 strans = 0, double mag = 1.0, double angle = 0.0, Bits16 elflags = 0, Int32 plex = 0) {
        check(try_aref(sname, origin, col_corner, row_corner, cols, rows, strans, mag, angle, elflags,
                       plex),
              "GDS_Aref");
    }
    void aref(const std::string& sname, Point origin, Point col_corner, Point row_corner, Int16 cols,
              Int16 rows, Bits16 strans = 0, double mag = 1.0, double angle = 0.0, Bits16 elflags = 0,
              Int32 plex = 0) {
        aref(sname.c_str(), origin, col_corner, row_corner, cols, rows, strans, mag, angle, elflags, plex);
    }
    void node(Points points, Int16 layer = 0, Int16 nodetype = 0, Bits16 elflags = 0, Int32 plex = 0) {
        check(try_node(points, layer, nodetype, elflags, plex), "GDS_Node");
    }
    template <class Xs, class Ys, class... Rest, class = detail::Coordinates<Xs, Ys>>
    void boundary(const Xs& xs, const Ys& ys, Rest... rest) {
        boundary(Points(xs, ys), rest...);
    }
    template <class Xs, class Ys, class... Rest, class = detail::Coordinates<Xs, Ys>>
    void path(const Xs& xs, const Ys& ys, Rest... rest) {
        path(Points(xs, ys), rest...);
    }
    template <class Xs, class Ys, class... Rest, class = detail::Coordinates<Xs, Ys>>
    void node(const Xs& xs, const Ys& ys, Rest... rest) {
        node(Points(xs, ys), rest...);
    }
#endif

private:
    int32_t begin(const char* path, double user_unit, double meter_unit, bool at, int64_t time) noexcept {
        if (handle_ != nullptr) return GDS_ERR_STARTED;
        if (!detail::is_unit(user_unit) || !detail::is_unit(meter_unit)) return GDS_ERR_RANGE;
        GdsHandle handle = nullptr;
        const int32_t code = at ? GDS_BeginLibAt(path, user_unit, meter_unit, time, &handle)
                                : GDS_BeginLib(path, user_unit, meter_unit, &handle);
        if (code != GDS_OK) {
            if (handle != nullptr) GDS_EndLib(handle);
            return code;
        }
        handle_ = handle;
        unwinding_ = std::uncaught_exceptions();
        keep(path_, path);
        return GDS_OK;
    }

    void finish() noexcept {
        if (handle_ == nullptr) return;
        try_close();
        if (std::uncaught_exceptions() > unwinding_ && !path_.empty()) std::remove(path_.c_str());
    }

    /// Out of memory leaves it empty: the file then stays if the object is
    /// unwound, and a reference to the open structure is not tested.
    static void keep(std::string& to, const char* from) noexcept {
#if CARVELLE_HPP_EXCEPTIONS
        try {
            to = from;
        } catch (...) {
            to.clear();
        }
#else
        to = from;
#endif
    }

    // The rule set's tests, each true (with broken_ and broken_what_ set) when the call breaks a rule. The first of
    // a call's tests forgets what the last refused call broke.
    bool broke(carvelle::rules::Rule rule, const char* what, long long amount) noexcept {
        broken_ = static_cast<int>(rule);
        if (carvelle::rules::kRules[rule].limit) {
            std::snprintf(broken_what_, sizeof broken_what_, "%s %lld, over %lld", what, amount,
                          static_cast<long long>(limits_.value[rule]));
        } else {
            std::snprintf(broken_what_, sizeof broken_what_, "%s", what);
        }
        return true;
    }
    bool breaks_layer(Int16 layer, Int16 type) noexcept {
        broken_ = -1;
        if (!guarded_) return false;
        // Layers and types are 16-bit words in the file, and tools read them unsigned.
        const long long l = static_cast<uint16_t>(static_cast<int16_t>(layer)),
                        t = static_cast<uint16_t>(static_cast<int16_t>(type));
        if (limits_.over(carvelle::rules::MaxLayer, l)) return broke(carvelle::rules::MaxLayer, "layer", l);
        if (limits_.over(carvelle::rules::MaxDatatype, t)) return broke(carvelle::rules::MaxDatatype, "type", t);
        return false;
    }
    // count: the points given; written: the points of the XY record, whose length has its own rule.
    bool breaks_points(carvelle::rules::Rule rule, std::size_t count, std::size_t written) noexcept {
        if (!guarded_) return false;
        const auto n = static_cast<long long>(count), bytes = 4 + 8 * static_cast<long long>(written);
        if (limits_.over(rule, n)) return broke(rule, rule == carvelle::rules::MaxVertices ? "vertices" : "points", n);
        if (limits_.over(carvelle::rules::MaxRecordLength, bytes)) {
            return broke(carvelle::rules::MaxRecordLength, "record length", bytes);
        }
        return false;
    }
    bool breaks_text(const char* text) noexcept {
        if (!guarded_ || text == nullptr) return false;
        const auto length = static_cast<long long>(std::strlen(text));
        if (limits_.over(carvelle::rules::MaxTextLength, length)) {
            return broke(carvelle::rules::MaxTextLength, "text length", length);
        }
        return false;
    }
    bool breaks_name(const char* name) noexcept {
        broken_ = -1;
        if (!guarded_ || name == nullptr) return false;
        const auto length = static_cast<long long>(std::strlen(name));
        if (limits_.over(carvelle::rules::MaxNameLength, length)) {
            return broke(carvelle::rules::MaxNameLength, "name length", length);
        }
        if (limits_.on(carvelle::rules::NameCharacters)) {
            for (const char* c = name; *c != '\0'; ++c) {
                if (!carvelle::rules::nameCharacter(static_cast<unsigned char>(*c))) {
                    broke(carvelle::rules::NameCharacters, "", 0);
                    const auto byte = static_cast<unsigned char>(*c);
                    if (byte > 0x20 && byte < 0x7F) {
                        std::snprintf(broken_what_, sizeof broken_what_, "character '%c'", byte);
                    } else {
                        std::snprintf(broken_what_, sizeof broken_what_, "byte 0x%02X", byte);
                    }
                    return true;
                }
            }
        }
        return false;
    }
    bool breaks_array(Int16 cols, Int16 rows) noexcept {
        broken_ = -1;
        if (!guarded_ || !limits_.on(carvelle::rules::MaxArray)) return false;
        const long long most = limits_.value[carvelle::rules::MaxArray];
        const int16_t c = cols, r = rows;
        if (c < 1 || c > most) return broke(carvelle::rules::MaxArray, "columns", c);
        if (r < 1 || r > most) return broke(carvelle::rules::MaxArray, "rows", r);
        return false;
    }
#if CARVELLE_HPP_EXCEPTIONS
    // The throwing forms: a call a rule refused throws RuleError, naming the rule.
    void check(int32_t code, const char* function) {
        if (code == GDS_ERR_RANGE && broken_ >= 0) throw RuleError(carvelle::rules::kRules[broken_].name, broken_what_, function);
        detail::check(code, function);
    }
#endif

    bool refers_to_open(const char* sname) const noexcept {
        return structure_open_ && sname != nullptr && !open_name_.empty() && open_name_ == sname;
    }

    template <class... Values>
    static constexpr bool fit(const Values&... values) noexcept {
        return (values.fits() && ...);
    }

    /// The xs and ys arrays of a point list; Point sequences are copied into
    /// the reused scratch arrays. Not GDS_OK when the list cannot be passed.
    int32_t split(const Points& points, const int32_t*& xs, const int32_t*& ys, int16_t& count,
                  int32_t too_many) noexcept {
        if (points.mismatch_) return GDS_ERR_NO_POINTS;
        if (points.count_ > 32767) return too_many;
        count = static_cast<int16_t>(points.count_);
        if (points.points_ == nullptr) {
            xs = points.xs_;
            ys = points.ys_;
            return GDS_OK;
        }
        xs_.resize(points.count_);
        ys_.resize(points.count_);
        for (std::size_t i = 0; i < points.count_; ++i) {
            xs_[i] = points.points_[i].x;
            ys_[i] = points.points_[i].y;
        }
        /// Never null: an empty list reaches the library as a count of 0.
        xs = points.count_ ? xs_.data() : &empty_;
        ys = points.count_ ? ys_.data() : &empty_;
        return GDS_OK;
    }

    GdsHandle handle_ = nullptr;
    bool structure_open_ = false;
    std::vector<int32_t> xs_, ys_;
    std::string path_;       // removed when the object is unwound
    std::string open_name_;  // the structure begun through this object
    int unwinding_ = 0;      // exceptions in flight when the file was begun
    carvelle::rules::Limits limits_{};
    bool guarded_ = false;  // limits_ are in force
    int broken_ = -1;       // the rule the last refused call broke
    char broken_what_[64] = {};
    static constexpr int32_t empty_ = 0;
};

/// The open structure of a Library, ended (GDS_EndStructure) when the scope
/// goes away unless end() or try_end() came first. operator-> reaches the
/// library's element calls.
class Structure {
public:
    Structure(const Structure&) = delete;
    Structure& operator=(const Structure&) = delete;
    ~Structure() {
        if (library_ != nullptr) library_->try_end_structure();
    }

    bool is_open() const noexcept { return library_ != nullptr; }
    explicit operator bool() const noexcept { return library_ != nullptr; }
    Library* operator->() const noexcept { return library_; }
    Library& library() const noexcept { return *library_; }

    /// Ends the structure now. An empty or ended scope returns
    /// GDS_ERR_STRUCT_NOT_OPEN without a call.
    int32_t try_end() noexcept {
        if (library_ == nullptr) return GDS_ERR_STRUCT_NOT_OPEN;
        return std::exchange(library_, nullptr)->try_end_structure();
    }
#if CARVELLE_HPP_EXCEPTIONS
    void end() {
        const int32_t code = try_end();
        if (code != GDS_OK) throw Error(code, "GDS_EndStructure");
    }
#endif

private:
    friend class Library;
    explicit Structure(Library* library) noexcept : library_(library) {}
    Library* library_;
};

inline Structure Library::try_structure(const char* name, int32_t& result) noexcept {
    result = try_begin_structure(name);
    return Structure(result == GDS_OK ? this : nullptr);
}
inline Structure Library::try_structure(const std::string& name, int32_t& result) noexcept {
    return try_structure(name.c_str(), result);
}

#if CARVELLE_HPP_EXCEPTIONS
inline Structure Library::structure(const char* name) {
    check(try_begin_structure(name), "GDS_BeginStructure");
    return Structure(this);
}
inline Structure Library::structure(const std::string& name) { return structure(name.c_str()); }
#endif

// --- merge: carvelle_merge.hpp, linked as Carvelle::merge ---------------------
#if CARVELLE_HPP_EXCEPTIONS
/// A merge that was refused or failed; what() names the part and the byte.
class MergeError : public std::runtime_error {
public:
    MergeError(MergeFailure failure, const std::string& message)
        : std::runtime_error("carvelle::merge: " + message), failure_(failure) {}
    MergeFailure failure() const noexcept { return failure_; }

private:
    MergeFailure failure_;
};

/// Joins the part libraries into output (see carvelle_merge.hpp); throws
/// MergeError. merge_libraries() is the form that never throws.
inline MergeResult merge(const std::string& output, const std::vector<std::string>& parts) {
    MergeResult result = merge_libraries(output, parts);
    if (!result) throw MergeError(result.failure, result.message);
    return result;
}
#endif

}  // namespace carvelle

#endif  // CARVELLE_HPP
