// SPDX-License-Identifier: MIT
// Time per element of every kind, through the public C API, into /dev/null.
// Each benchmark reports ns per element (items: elements, or points where
// noted) and the bytes the element adds to the file per second.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <vector>

#include "gds_api.h"

namespace {

constexpr const char* kSink = "/dev/null";

// An open library with one open structure, ended when the benchmark ends.
class OpenLibrary {
public:
    OpenLibrary() {
        if (GDS_BeginLib(kSink, 0.001, 1e-9, &handle_) != GDS_OK || GDS_BeginStructure(handle_, "TOP") != GDS_OK) {
            std::fprintf(stderr, "cannot open %s\n", kSink);
            std::abort();
        }
    }
    ~OpenLibrary() {
        GDS_EndStructure(handle_);
        GDS_EndLib(handle_);
    }
    GdsHandle get() const { return handle_; }

private:
    GdsHandle handle_ = nullptr;
};

// Record sizes, header included.
constexpr std::int64_t kOpening = 4 + 6 + 8;  // element record, ELFLAGS, PLEX
constexpr std::int64_t kInt16 = 6, kInt32 = 8, kReal8 = 12, kEnd = 4;
constexpr std::int64_t xySize(std::int64_t points) { return 4 + 8 * points; }
constexpr std::int64_t stringSize(std::int64_t length) { return 4 + length + (length & 1); }
constexpr std::int64_t kTransformation = kInt16 + 2 * kReal8;

void check(benchmark::State& state, std::int32_t code) {
    if (code != GDS_OK) state.SkipWithError("the library refused the element");
}

void finish(benchmark::State& state, std::int64_t bytesPerCall, std::int64_t itemsPerCall = 1) {
    state.SetBytesProcessed(state.iterations() * bytesPerCall);
    state.SetItemsProcessed(state.iterations() * itemsPerCall);
}

void regularPolygon(std::vector<std::int32_t>& xs, std::vector<std::int32_t>& ys, int count, double radius) {
    xs.resize(count);
    ys.resize(count);
    for (int k = 0; k < count; ++k) {
        const double a = 2.0 * M_PI * k / count;
        xs[k] = static_cast<std::int32_t>(std::lround(radius * std::cos(a)));
        ys[k] = static_cast<std::int32_t>(std::lround(radius * std::sin(a)));
    }
}

void BM_Box(benchmark::State& state) {
    OpenLibrary lib;
    std::int32_t x = 0;
    for (auto _ : state) {
        check(state, GDS_Box(lib.get(), x, 0, x + 100, 100, 1, 0, 0, 0));
        x += 200;
    }
    finish(state, kOpening + 2 * kInt16 + xySize(5) + kEnd);
}
BENCHMARK(BM_Box);

void BM_Boundary(benchmark::State& state) {
    OpenLibrary lib;
    const int vertices = static_cast<int>(state.range(0));
    std::vector<std::int32_t> xs, ys;
    regularPolygon(xs, ys, vertices, 1e6);
    for (auto _ : state) {
        check(state, GDS_Boundary(lib.get(), xs.data(), ys.data(), static_cast<std::int16_t>(vertices), 1, 0, 0, 0));
    }
    finish(state, kOpening + 2 * kInt16 + xySize(vertices + 1) + kEnd);
}
BENCHMARK(BM_Boundary)->Arg(8)->Arg(64)->Arg(8189);

// The longest polyline one call takes, 32767 points, split by the library
// into elements of 8190 points; items are points.
void BM_PathSplit(benchmark::State& state) {
    OpenLibrary lib;
    constexpr int kPoints = 32767;
    std::vector<std::int32_t> xs(kPoints), ys(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        xs[i] = i * 10;
        ys[i] = (i & 1) * 10;
    }
    for (auto _ : state) {
        check(state, GDS_Path(lib.get(), xs.data(), ys.data(), kPoints, 20, 1, 0, 0, 0, 0));
    }
    std::int64_t bytes = 0, start = 0;
    for (;;) {
        const std::int64_t points = std::min<std::int64_t>(kPoints - start, 8190);
        bytes += kOpening + 3 * kInt16 + kInt32 + xySize(points) + kEnd;
        start += points - 1;
        if (start + 1 >= kPoints) break;
    }
    finish(state, bytes, kPoints);
}
BENCHMARK(BM_PathSplit);

void BM_Text(benchmark::State& state) {
    OpenLibrary lib;
    static const char kText[] = "VDD_core_17";  // 11 bytes, padded to 12
    for (auto _ : state) {
        check(state, GDS_Text(lib.get(), 1000, 2000, kText, 1, 0, 5, 0, 0, 0, 1.0, 0.0, 0, 0));
    }
    // LAYER, TEXTTYPE, PRESENTATION, PATHTYPE; WIDTH; STRANS, MAG, ANGLE.
    finish(state, kOpening + 4 * kInt16 + kInt32 + kTransformation + xySize(1) + stringSize(11) + kEnd);
}
BENCHMARK(BM_Text);

void BM_Sref(benchmark::State& state) {
    OpenLibrary lib;
    for (auto _ : state) {
        check(state, GDS_Sref(lib.get(), "CELL_A", 1000, 2000, 0, 1.0, 90.0, 0, 0));
    }
    finish(state, kOpening + stringSize(6) + kTransformation + xySize(1) + kEnd);
}
BENCHMARK(BM_Sref);

void BM_Aref(benchmark::State& state) {
    OpenLibrary lib;
    const std::int32_t xs[3] = {0, 10000, 0}, ys[3] = {0, 0, 5000};
    for (auto _ : state) {
        check(state, GDS_Aref(lib.get(), "CELL_A", xs, ys, 10, 5, 0, 1.0, 0.0, 0, 0));
    }
    finish(state, kOpening + stringSize(6) + kTransformation + kInt32 + xySize(3) + kEnd);
}
BENCHMARK(BM_Aref);

void BM_Node(benchmark::State& state) {
    OpenLibrary lib;
    const std::int32_t xs[4] = {0, 100, 100, 0}, ys[4] = {0, 0, 100, 100};
    for (auto _ : state) {
        check(state, GDS_Node(lib.get(), xs, ys, 4, 1, 0, 0, 0));
    }
    finish(state, kOpening + 2 * kInt16 + xySize(4) + kEnd);
}
BENCHMARK(BM_Node);

void BM_Circle(benchmark::State& state) {
    OpenLibrary lib;
    for (auto _ : state) {
        check(state, GDS_Circle(lib.get(), 0, 0, 1000000, 1000, 1, 0, 0, 0));
    }
    finish(state, kOpening + 2 * kInt16 + xySize(1001) + kEnd);
}
BENCHMARK(BM_Circle);

}  // namespace

BENCHMARK_MAIN();
