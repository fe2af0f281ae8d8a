// SPDX-License-Identifier: MIT
// Separate handles on separate threads: several threads write their own
// libraries at the same time, every element kind included, and each file
// must equal, timestamps aside, the same library written by one thread
// alone. Built with ThreadSanitizer as well, where any data race fails.

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gds_api.h"
#include "gds_test_support.h"
#if CARVELLE_TEST_GZIP
#include "gunzip.h"
#endif

namespace {

constexpr int kThreads = 6;
constexpr int kLibrariesPerThread = 8;

std::string libraryPath(const char* phase, int library) {
    const char* dir = std::getenv("TMPDIR");
    std::ostringstream name;
    // Both phases use names of the same length, so LIBNAME differs only in
    // the phase letter.
    name << (dir != nullptr ? dir : "/tmp") << "/carvelle-threads-" << getpid() << "-" << phase << "-"
         << library << ".gds";
    return name.str();
}

void setThreads(const char* value) {
#ifdef _WIN32
    _putenv_s("CARVELLE_GZIP_THREADS", value);
#else
    setenv("CARVELLE_GZIP_THREADS", value, 1);
#endif
}

// Writes library number seed: every element kind, some structures and a path
// long enough to be split. Returns the first unexpected result code, or 0.
int writeLibrary(const std::string& path, int seed, int structures = 0) {
    GdsHandle h = nullptr;
    int code = GDS_BeginLib(path.c_str(), 0.001 * (seed + 1), 1e-9, &h);
    if (code != GDS_OK) {
        if (h != nullptr) GDS_EndLib(h);
        return code;
    }
    auto check = [&](int result) {
        if (code == GDS_OK && result != GDS_OK) code = result;
    };
    std::vector<std::int32_t> xs(20000), ys(20000);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        xs[i] = static_cast<std::int32_t>(i * 13 + static_cast<std::size_t>(seed));
        ys[i] = static_cast<std::int32_t>((i * i) % 1000) - seed;
    }
    if (structures == 0) structures = 4 + seed % 3;
    for (int s = 0; s < structures; ++s) {
        const std::string name = "CELL_" + std::to_string(seed) + "_" + std::to_string(s);
        check(GDS_BeginStructure(h, name.c_str()));
        const auto layer = static_cast<std::int16_t>(seed + s);
        check(GDS_Boundary(h, xs.data() + s, ys.data(), 100 + s, layer, 0, 0, s));
        check(GDS_Box(h, -s, -seed, 1000, 2000, layer, 1, 0, 0));
        check(GDS_BoxWH(h, 5, 6, 70 + seed, 80, layer, 2, 0, 0));
        check(GDS_Square(h, INT32_MAX - 5, 0, 10, layer, 3, 1, 7));
        check(GDS_Path(h, xs.data(), ys.data() + s, static_cast<std::int16_t>(9000 + 1000 * (s % 8) + seed), 50,
                       layer, 4, 2, 0, 0));
        check(GDS_Circle(h, 1000 * seed, -500, 250 + s, static_cast<std::int16_t>(64 + seed), layer, 5, 0, 0));
        check(GDS_Arc(h, 0, 0, 1000, 12.5 * s, 270.0 - seed, 100, 20, layer, 6, 1, 0, 0));
        check(GDS_Sector(h, 7, 8, 400, -45.0, 45.0 + s, 33, layer, 7, 0, 0));
        check(GDS_Text(h, 1, 2, name.c_str(), layer, 8, 5, 0, 10, 0x8000, 2.5, 90.0 + seed, 0, 0));
        check(GDS_Node(h, xs.data(), ys.data(), static_cast<std::int16_t>(1 + (seed + s) % 50), layer, 9, 0, 0));
        if (s > 0) {
            const std::string previous = "CELL_" + std::to_string(seed) + "_" + std::to_string(s - 1);
            const std::int32_t ax[3] = {0, 1000, 0};
            const std::int32_t ay[3] = {0, 0, 1000};
            check(GDS_Sref(h, previous.c_str(), 10, 20, 0, 1.0, 0.0, 0, 0));
            check(GDS_Aref(h, previous.c_str(), ax, ay, 4, 5, 0x8000, 0.5, 180.0, 0, 0));
        }
        check(GDS_EndStructure(h));
    }
    const int end = GDS_EndLib(h);
    return code != GDS_OK ? code : end;
}

struct StartGate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    void wait() {
        std::unique_lock<std::mutex> lock(mutex);
        opened.wait(lock, [&] { return open; });
    }
    void release() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
};

// The file (decompressed when its name ends in .gz) with its timestamps
// masked and its LIBNAME record checked and taken out.
std::vector<std::uint8_t> comparable(const std::string& path) {
    std::vector<std::uint8_t> bytes = gdstest::readFile(path);
    if (path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0) {
#if CARVELLE_TEST_GZIP
        std::vector<std::uint8_t> plain;
        EXPECT_TRUE(gdstest::gunzip(bytes, plain)) << path << " is not a valid gzip file";
        bytes.swap(plain);
#else
        ADD_FAILURE() << "no zlib to read " << path;
#endif
    }
    bytes = gdstest::maskTimestamps(bytes);
    bool tiled = false;
    for (const gdstest::Record& r : gdstest::splitRecords(bytes, tiled)) {
        if (r.type != gdstest::LIBNAME) continue;
        EXPECT_EQ(std::string(r.payload.begin(), r.payload.end()).c_str(), path);
        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(r.offset),
                    bytes.begin() + static_cast<std::ptrdiff_t>(r.offset + r.length));
        break;
    }
    EXPECT_TRUE(tiled) << path;
    return bytes;
}

TEST(ManyThreads, ConcurrentLibrariesEqualTheSameLibrariesWrittenByOneThread) {
    constexpr int kLibraries = kThreads * kLibrariesPerThread;
    // One thread first, one library after the other.
    for (int i = 0; i < kLibraries; ++i) ASSERT_EQ(writeLibrary(libraryPath("s", i), i), GDS_OK) << i;

    // Then all threads at once, each with its own libraries, interleaved so
    // that every thread has its handles open at the same time as the others.
    StartGate gate;
    std::vector<int> results(kLibraries, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            gate.wait();
            for (int k = 0; k < kLibrariesPerThread; ++k) {
                const int library = t + kThreads * k;
                results[static_cast<std::size_t>(library)] = writeLibrary(libraryPath("c", library), library);
            }
        });
    }
    gate.release();
    for (std::thread& thread : threads) thread.join();

    for (int i = 0; i < kLibraries; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[static_cast<std::size_t>(i)], GDS_OK);
        const std::vector<std::uint8_t> single = comparable(libraryPath("s", i));
        const std::vector<std::uint8_t> concurrent = comparable(libraryPath("c", i));
        EXPECT_GT(single.size(), 100000u);
        EXPECT_TRUE(single == concurrent) << "library " << i << " differs when written concurrently";
        std::remove(libraryPath("s", i).c_str());
        std::remove(libraryPath("c", i).c_str());
    }
}

TEST(ManyThreads, ErrorTextsAndFailingLibrariesFromManyThreadsAtOnce) {
    // GDS_GetError and the refusals share no state between handles either.
    StartGate gate;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            gate.wait();
            for (int round = 0; round < 200; ++round) {
                char buffer[GDS_ERROR_BUFFER_SIZE];
                if (GDS_GetError(GDS_ERR_WRITE, buffer, sizeof buffer) != GDS_ERR_WRITE ||
                    std::string(buffer) != "Error: Cannot write GDSII file.") {
                    ++wrong;
                }
                GdsHandle h = nullptr;
                if (GDS_BeginLib("/nonexistent-carvelle-dir/x.gds", 1e-3, 1e-9, &h) != GDS_ERR_OPEN) ++wrong;
                if (GDS_BeginStructure(h, "A") != GDS_ERR_STOPPED) ++wrong;
                if (GDS_EndLib(h) != GDS_ERR_STOPPED) ++wrong;
            }
        });
    }
    gate.release();
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

namespace {

#if CARVELLE_TEST_GZIP
// Pieces are compressed apart and on any worker: whatever the thread count,
// the file decompresses to the plain file's bytes, over several pieces.
TEST(Gzip, EveryElementKindDecompressesToThePlainBytesWithAnyThreadCount) {
    const std::string plain = libraryPath("p", 0);
    ASSERT_EQ(writeLibrary(plain, 0, 100), GDS_OK);
    const std::vector<std::uint8_t> expected = comparable(plain);
    EXPECT_GT(expected.size(), 8u << 20);  // more pieces than are in flight at once
    for (const char* threads : {"1", "2", "3", "16", "0", "x"}) {
        SCOPED_TRACE(threads);
        setThreads(threads);
        const std::string gz = libraryPath(threads, 0) + ".gz";
        ASSERT_EQ(writeLibrary(gz, 0, 100), GDS_OK);
        EXPECT_TRUE(comparable(gz) == expected);
        std::remove(gz.c_str());
    }
    std::remove(plain.c_str());
}
#endif

#ifdef __linux__
std::size_t threadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

// The count once it reaches expected, or after ten seconds: under QEMU,
// or on a loaded machine, a joined thread can stay listed for a moment.
std::size_t threadCountSettled(std::size_t expected) {
    std::size_t count = threadCount();
    for (int i = 0; i < 1000 && count != expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        count = threadCount();
    }
    return count;
}

// A plain file starts no thread; a .gz file as many workers as asked, 1
// meaning none; all of them are gone after GDS_EndLib. A build without a
// deflate library refuses the name with 3.
TEST(Gzip, WorkerThreadsFollowTheSetting) {
    // A first library with workers, so that threads a sanitizer starts on
    // the first thread creation are counted in before.
    const std::size_t first = threadCount();
#if CARVELLE_TEST_GZIP
    setThreads("2");
    GdsHandle warm = nullptr;
    ASSERT_EQ(GDS_BeginLib((libraryPath("w", 0) + ".gz").c_str(), 0.001, 1e-9, &warm), GDS_OK);
    ASSERT_EQ(GDS_EndLib(warm), GDS_OK);
    std::remove((libraryPath("w", 0) + ".gz").c_str());
#endif
    const std::size_t before = threadCountSettled(first);
    struct Case {
        const char* suffix;
        const char* setting;
        std::size_t workers;
    };
    for (const Case& c : {Case{"", "3", 0}, Case{".gz", "1", 0}, Case{".GZ", "3", 3}, Case{".gZ", "2", 2}}) {
        SCOPED_TRACE(std::string(c.suffix) + " " + c.setting);
        setThreads(c.setting);
        const std::string path = libraryPath("n", 0) + c.suffix;
        GdsHandle h = nullptr;
        const int code = GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h);
#if !CARVELLE_TEST_GZIP
        if (c.suffix[0] != '\0') {
            EXPECT_EQ(code, GDS_ERR_OPEN);
            EXPECT_EQ(GDS_EndLib(h), GDS_ERR_STOPPED);
            continue;
        }
#endif
        ASSERT_EQ(code, GDS_OK);
        EXPECT_EQ(threadCountSettled(before + c.workers), before + c.workers);
        EXPECT_EQ(GDS_EndLib(h), GDS_OK);
        EXPECT_EQ(threadCountSettled(before), before);
        std::remove(path.c_str());
    }
#if CARVELLE_TEST_GZIP
    // Open libraries share the process's workers: as many as the largest
    // setting among them, not one pool each; gone with the last of them.
    std::vector<GdsHandle> open;
    std::vector<std::string> paths;
    for (const char* setting : {"3", "2", "3", "1", "2"}) {
        setThreads(setting);
        paths.push_back(libraryPath("s", static_cast<int>(paths.size())) + ".gz");
        open.push_back(nullptr);
        ASSERT_EQ(GDS_BeginLib(paths.back().c_str(), 0.001, 1e-9, &open.back()), GDS_OK);
        ASSERT_EQ(GDS_BeginStructure(open.back(), "A"), GDS_OK);
    }
    EXPECT_EQ(threadCountSettled(before + 3), before + 3);
    for (std::size_t k = 0; k < open.size(); ++k) {
        EXPECT_EQ(GDS_EndStructure(open[k]), GDS_OK);
        EXPECT_EQ(GDS_EndLib(open[k]), GDS_OK);
        std::remove(paths[k].c_str());
        if (k + 1 < open.size()) EXPECT_EQ(threadCount(), before + 3);
    }
    EXPECT_EQ(threadCountSettled(before), before);
#endif
}
#endif

}  // namespace
