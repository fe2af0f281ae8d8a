// SPDX-License-Identifier: MIT
// A disk that fails: /dev/full, and a file-size limit that makes a write fail
// after N bytes. Every case must end without a crash or a hang, with
// GDS_ERR_WRITE from the calls that hit or follow the failure, the refusals
// of the other calls unchanged, and the handle freed.
//
// The library buffers its output and writes it in large blocks, so a failure
// shows at the call whose records no longer fit the buffer, or at
// GDS_EndLib. These tests fill the buffer to a chosen byte with records whose
// sizes follow from the format alone.

#include <gtest/gtest.h>

#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "gds_api.h"
#include "gds_test_support.h"
#include "gunzip.h"

// The library's close() resolves to this one in this program. Told to, it
// fails after closing, as a network file system reports a deferred write
// error at close.
static std::atomic<bool> g_failNextClose{false};
extern "C" int close(int fd) {
    const long result = syscall(SYS_close, fd);
    if (result == 0 && g_failNextClose.exchange(false)) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(result);
}

namespace {

// Size of the library's output buffer: output reaches the file in blocks of
// at most this many bytes.
constexpr std::size_t kBuffer = std::size_t{1} << 20;

// Sizes of whole elements, from the record layout: every element opens with
// its 4-byte record, ELFLAGS (6) and PLEX (8) and ends with ENDEL (4).
constexpr std::size_t kOpenClose = 4 + 6 + 8 + 4;
constexpr std::size_t boundarySize(std::size_t vertices) { return kOpenClose + 6 + 6 + 4 + 8 * (vertices + 1); }
constexpr std::size_t textSize(std::size_t evenLength) {
    // LAYER, TEXTTYPE, PRESENTATION, PATHTYPE, WIDTH, STRANS, MAG, ANGLE, XY, STRING
    return kOpenClose + 4 * 6 + 8 + 6 + 12 + 12 + 12 + 4 + evenLength;
}
constexpr std::size_t kBoxSize = kOpenClose + 6 + 6 + 4 + 40;
constexpr std::size_t kStructureOpen = 28 + 4 + 2;  // BGNSTR, STRNAME of a 1- or 2-byte name
constexpr std::size_t kEndStr = 4;
constexpr std::size_t kEndLib = 4;
std::size_t libraryOpening(const std::string& fileName) {
    const std::size_t name = fileName.size() + (fileName.size() & 1);
    return 6 + 28 + 4 + name + 20;  // HEADER, BGNLIB, LIBNAME, UNITS
}

constexpr std::int16_t kMaxVertices = 8189;

std::vector<std::int32_t> ramp(std::size_t n, std::int32_t scale) {
    std::vector<std::int32_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::int32_t>(i) * scale;
    return v;
}
const std::vector<std::int32_t> kXs = ramp(kMaxVertices, 3);
const std::vector<std::int32_t> kYs = ramp(kMaxVertices, -7);

std::string tempPath(const char* stem) {
    const char* dir = std::getenv("TMPDIR");
    std::ostringstream name;
    name << (dir != nullptr ? dir : "/tmp") << "/carvelle-faults-" << getpid() << "-" << stem << ".gds";
    return name.str();
}

long fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// Bytes in use on the heap. A leaked handle (more than a megabyte with its
// buffer) shows here in a plain build; LeakSanitizer covers sanitized builds.
std::size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}
constexpr std::size_t kLeakSlack = 256 * 1024;

// Failures found in a child process, sent to the parent as text.
struct Log {
    std::string text;
    void equal(long long got, long long want, const char* what, int line) {
        if (got == want) return;
        std::ostringstream s;
        s << "line " << line << ": " << what << " = " << got << ", expected " << want << "\n";
        text += s.str();
    }
};
#define CHECK_EQ(log, got, want) (log).equal(static_cast<long long>(got), static_cast<long long>(want), #got, __LINE__)

// Runs body in a forked child with the file size limited to limit bytes and
// SIGXFSZ ignored, so that a write past the limit fails with EFBIG. The child
// ends with exit(), which also runs LeakSanitizer in a sanitized build. A
// hang ends in SIGALRM.
void runLimited(rlim_t limit, const std::function<void(Log&)>& body) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl{};
        Log log;
        if (getrlimit(RLIMIT_FSIZE, &rl) != 0) log.text = "getrlimit failed\n";
        rl.rlim_cur = std::min(limit, rl.rlim_max);  // the hard limit stays, so a test can lift it
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) log.text = "setrlimit failed\n";
        alarm(60);
        if (log.text.empty()) body(log);
        if (!log.text.empty()) {
            const ssize_t ignored = write(fds[1], log.text.data(), log.text.size());
            (void)ignored;
        }
        close(fds[1]);
        std::exit(log.text.empty() ? 0 : 1);
    }
    close(fds[1]);
    std::string text;
    char chunk[512];
    ssize_t got;
    while ((got = read(fds[0], chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) text.append(chunk, static_cast<std::size_t>(got));
    }
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (WIFSIGNALED(status)) {
        ADD_FAILURE() << "child killed by signal " << WTERMSIG(status)
                      << (WTERMSIG(status) == SIGALRM ? " (hang)" : "") << "\n" << text;
    } else {
        EXPECT_EQ(WEXITSTATUS(status), 0) << "limit " << limit << ":\n" << text;
    }
}

// Writes elements into the open structure until exactly target bytes have
// been produced since the library began (used counts them), every call
// returning 0. target - used must be 0 or at least 170.
void fillTo(GdsHandle h, std::size_t& used, std::size_t target, Log& log) {
    while (target - used > boundarySize(kMaxVertices) + textSize(512)) {
        CHECK_EQ(log, GDS_Boundary(h, kXs.data(), kYs.data(), kMaxVertices, 1, 0, 0, 0), GDS_OK);
        used += boundarySize(kMaxVertices);
    }
    if (target == used) return;
    // One boundary, then a text whose string takes up the last 0 to 7 bytes.
    const std::size_t n = std::min<std::size_t>(kMaxVertices, (target - used - boundarySize(0) - textSize(0)) / 8);
    CHECK_EQ(log, GDS_Boundary(h, kXs.data(), kYs.data(), static_cast<std::int16_t>(n), 2, 0, 0, 0), GDS_OK);
    used += boundarySize(n);
    const std::string text(target - used - textSize(0), 't');
    CHECK_EQ(log, GDS_Text(h, 0, 0, text.c_str(), 3, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_OK);
    used += textSize(text.size());
}

// Calls that a handle with a failed file still refuses with their own code,
// and calls that pass their checks and so get GDS_ERR_WRITE; a structure is
// open. Nothing of this reaches the file.
void checkFailedHandleInStructure(GdsHandle h, Log& log) {
    const std::int32_t p[3] = {0, 10, 20};
    const std::string longName(65531, 'n');
    CHECK_EQ(log, GDS_Boundary(h, p, p, 3, 1, 0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_Boundary(h, p, p, 2, 1, 0, 0, 0), GDS_ERR_TOO_FEW_POINTS);
    CHECK_EQ(log, GDS_Boundary(h, p, p, 8190, 1, 0, 0, 0), GDS_ERR_TOO_MANY_POINTS);
    CHECK_EQ(log, GDS_Boundary(h, nullptr, p, 3, 1, 0, 0, 0), GDS_ERR_NO_POINTS);
    CHECK_EQ(log, GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_BoxWH(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_Square(h, 0, 0, 1, 1, 0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_Path(h, p, p, 3, 5, 1, 0, 0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_Path(h, p, p, 1, 5, 1, 0, 0, 0, 0), GDS_ERR_PATH_POINTS);
    CHECK_EQ(log, GDS_Path(h, p, nullptr, 3, 5, 1, 0, 0, 0, 0), GDS_ERR_NO_POINTS);
    CHECK_EQ(log, GDS_Circle(h, 0, 0, 100, 16, 1, 0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_Circle(h, INT32_MAX, 0, 1, 16, 1, 0, 0, 0), GDS_ERR_RANGE);
    CHECK_EQ(log, GDS_Arc(h, 0, 0, 100, 0.0, 90.0, 16, 1, 1, 0, 0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_Arc(h, 0, 0, 100, NAN, 90.0, 16, 1, 1, 0, 0, 0, 0), GDS_ERR_RANGE);
    CHECK_EQ(log, GDS_Sector(h, 0, 0, 100, 0.0, 90.0, 16, 1, 0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_Sector(h, 0, 0, 100, 0.0, 90.0, 2, 1, 0, 0, 0), GDS_ERR_TOO_FEW_POINTS);
    CHECK_EQ(log, GDS_Text(h, 0, 0, "t", 1, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_Text(h, 0, 0, nullptr, 1, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_NO_STRING);
    CHECK_EQ(log, GDS_Text(h, 0, 0, "t", 1, 256, 0, 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_TEXTTYPE);
    CHECK_EQ(log, GDS_Text(h, 0, 0, "t", 1, 0, 0, 0, 0, 0, INFINITY, 0.0, 0, 0), GDS_ERR_RANGE);
    CHECK_EQ(log, GDS_Sref(h, "A", 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_Sref(h, longName.c_str(), 0, 0, 0, 1.0, 0.0, 0, 0), GDS_ERR_STRING_LENGTH);
    CHECK_EQ(log, GDS_Aref(h, "A", p, p, 2, 2, 0, 1.0, 0.0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_Aref(h, "A", p, p, 2, 2, 0, 1.0, 0x1p252, 0, 0), GDS_ERR_RANGE);
    CHECK_EQ(log, GDS_Node(h, p, p, 1, 1, 0, 0, 0), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_Node(h, p, p, 51, 1, 0, 0, 0), GDS_ERR_NODE_TOO_MANY);
    CHECK_EQ(log, GDS_Node(h, p, p, 0, 1, 0, 0, 0), GDS_ERR_NODE_TOO_FEW);
    CHECK_EQ(log, GDS_BeginStructure(h, "Z"), GDS_ERR_STRUCT_OPEN);
}

// A library whose file fails after limit bytes, with 3 MiB of elements in
// one structure. The call whose records overflow the buffer for the first
// time after limit bytes returns 18; so does every later call that passes
// its own checks. GDS_EndStructure reports 18 but closes the bracket, so
// GDS_EndLib reports the write failure (18), and frees the handle. With
// lift, the disk recovers after the failure: still nothing more may reach
// the file, which would otherwise get a gap.
void failInsideStructure(const std::string& path, std::size_t limit, Log& log, bool lift = false) {
    const std::size_t before = heapInUse();
    GdsHandle h = nullptr;
    CHECK_EQ(log, GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h), GDS_OK);
    CHECK_EQ(log, GDS_BeginStructure(h, "A"), GDS_OK);
    std::size_t used = libraryOpening(path) + kStructureOpen;
    std::size_t written = 0;  // bytes handed to the file so far
    int failures = 0;
    for (int i = 0; i < 64 && failures == 0; ++i) {
        const std::size_t size = boundarySize(kMaxVertices);
        const bool drains = used - written + size > kBuffer;
        const bool fails = drains && used > limit;
        const int code = GDS_Boundary(h, kXs.data(), kYs.data(), kMaxVertices, 1, 0, 0, 0);
        CHECK_EQ(log, code, fails ? GDS_ERR_WRITE : GDS_OK);
        if (code != GDS_OK) ++failures;
        if (drains) written = used;
        used += size;
    }
    CHECK_EQ(log, failures, 1);
    if (lift) {
        struct rlimit rl{};
        getrlimit(RLIMIT_FSIZE, &rl);
        rl.rlim_cur = rl.rlim_max;
        CHECK_EQ(log, setrlimit(RLIMIT_FSIZE, &rl), 0);
    }
    checkFailedHandleInStructure(h, log);
    CHECK_EQ(log, GDS_EndStructure(h), GDS_ERR_WRITE);
    CHECK_EQ(log, GDS_EndStructure(h), GDS_ERR_STRUCT_NOT_OPEN);  // the bracket closed all the same
    CHECK_EQ(log, GDS_EndLib(h), GDS_ERR_WRITE);
    CHECK_EQ(log, fileSize(path), static_cast<long>(limit));
    CHECK_EQ(log, heapInUse() <= before + kLeakSlack, true);
    if (path != "/dev/full") std::remove(path.c_str());
}

class DeadDisk : public ::testing::Test {};

TEST_F(DeadDisk, DevFullOpensAndFailsOnlyAtEndLibWhenEverythingFitsTheBuffer) {
    const std::size_t before = heapInUse();
    GdsHandle h = nullptr;
    ASSERT_EQ(GDS_BeginLib("/dev/full", 0.001, 1e-9, &h), GDS_OK);
    EXPECT_EQ(GDS_BeginStructure(h, "TOP"), GDS_OK);
    EXPECT_EQ(GDS_Box(h, 0, 0, 10, 10, 1, 0, 0, 0), GDS_OK);
    EXPECT_EQ(GDS_EndStructure(h), GDS_OK);
    EXPECT_EQ(GDS_EndLib(h), GDS_ERR_WRITE);
    EXPECT_LE(heapInUse(), before + kLeakSlack);
}

TEST_F(DeadDisk, DevFullFailsAtTheCallThatOverflowsTheBufferAndEveryCallAfterIt) {
    runLimited(RLIM_INFINITY, [](Log& log) { failInsideStructure("/dev/full", 0, log); });
}

TEST_F(DeadDisk, DevFullFailingInEndStructureClosesItAndEndLibReports18) {
    // The buffer is filled to 2 bytes short of full, so ENDSTR is the record
    // that forces the first write.
    const std::size_t before = heapInUse();
    const std::string path = "/dev/full";
    GdsHandle h = nullptr;
    ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(h, "A"), GDS_OK);
    Log log;
    std::size_t used = libraryOpening(path) + kStructureOpen;
    fillTo(h, used, kBuffer - 2, log);
    EXPECT_EQ(log.text, "");
    EXPECT_EQ(GDS_EndStructure(h), GDS_ERR_WRITE);
    // The structure is closed: element calls need one, the name "A" is taken
    // but the failed file answers first, and no new name is registered.
    const std::int32_t p[3] = {0, 1, 2};
    EXPECT_EQ(GDS_Boundary(h, p, p, 3, 1, 0, 0, 0), GDS_ERR_STRUCT_NOT_OPEN);
    EXPECT_EQ(GDS_EndStructure(h), GDS_ERR_STRUCT_NOT_OPEN);
    EXPECT_EQ(GDS_BeginStructure(h, nullptr), GDS_ERR_NO_STRING);
    EXPECT_EQ(GDS_BeginStructure(h, std::string(65531, 'a').c_str()), GDS_ERR_STRING_LENGTH);
    EXPECT_EQ(GDS_BeginStructure(h, "A"), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_BeginStructure(h, "B"), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_BeginStructure(h, "B"), GDS_ERR_WRITE);  // not 9: "B" was never registered
    EXPECT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_ERR_STRUCT_NOT_OPEN);
    EXPECT_EQ(GDS_EndLib(h), GDS_ERR_WRITE);
    EXPECT_LE(heapInUse(), before + kLeakSlack);
}

TEST_F(DeadDisk, DevFullFailingInBeginStructureOpensItAndReports18) {
    // Full to the last byte: BGNSTR forces the write, fails, and the
    // structure counts as begun (its records may be partly in the file).
    const std::string path = "/dev/full";
    GdsHandle h = nullptr;
    ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(h, "A"), GDS_OK);
    Log log;
    std::size_t used = libraryOpening(path) + kStructureOpen;
    fillTo(h, used, kBuffer - kEndStr, log);
    EXPECT_EQ(log.text, "");
    EXPECT_EQ(GDS_EndStructure(h), GDS_OK);  // exactly fills the buffer
    EXPECT_EQ(GDS_BeginStructure(h, "B"), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_BeginStructure(h, "C"), GDS_ERR_STRUCT_OPEN);
    EXPECT_EQ(GDS_EndStructure(h), GDS_ERR_WRITE);
    EXPECT_EQ(GDS_EndLib(h), GDS_ERR_WRITE);
}

TEST_F(DeadDisk, WriteFailsAfterNBytesWithinTheFirstBlock) {
    // The first block of 1 MiB is cut after N bytes: at the very start, at
    // odd offsets, and within the XY record of the third 8189-vertex
    // boundary (65558 bytes each, XY starting 34 bytes into the element).
    const std::string path = tempPath("first");
    const std::size_t opening = libraryOpening(path) + kStructureOpen;
    const std::size_t insideXy = opening + 2 * boundarySize(kMaxVertices) + 34 + 30001;
    for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{100}, std::size_t{4097},
                                    insideXy, kBuffer - 1}) {
        SCOPED_TRACE(limit);
        runLimited(limit, [&](Log& log) { failInsideStructure(path, limit, log); });
    }
}

TEST_F(DeadDisk, NothingReachesTheFileAfterAFailedWriteEvenWhenTheDiskRecovers) {
    const std::string path = tempPath("recovers");
    for (const std::size_t limit : {std::size_t{100}, kBuffer + 1}) {
        SCOPED_TRACE(limit);
        runLimited(limit, [&](Log& log) { failInsideStructure(path, limit, log, /*lift=*/true); });
    }
}

TEST_F(DeadDisk, AFailedCloseIsReportedByEndLib) {
    const std::string path = tempPath("close");
    GdsHandle h = nullptr;
    ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(h, "A"), GDS_OK);
    ASSERT_EQ(GDS_EndStructure(h), GDS_OK);
    g_failNextClose = true;
    EXPECT_EQ(GDS_EndLib(h), GDS_ERR_WRITE);
    EXPECT_FALSE(g_failNextClose.exchange(false)) << "the library never closed its file";
    std::remove(path.c_str());
}

TEST_F(DeadDisk, WriteFailsInALaterBlock) {
    // The first block reaches the file whole; a later one is cut.
    const std::string path = tempPath("later");
    for (const std::size_t limit : {kBuffer, kBuffer + 1, kBuffer + kBuffer / 2 + 3, 2 * kBuffer + 10}) {
        SCOPED_TRACE(limit);
        runLimited(limit, [&](Log& log) { failInsideStructure(path, limit, log); });
    }
}

// A small library (under one block) whose only write is the final flush.
std::size_t writeSmallLibrary(const std::string& path, Log& log, int expectedEnd) {
    GdsHandle h = nullptr;
    const std::int32_t p[3] = {0, 100, 50};
    CHECK_EQ(log, GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h), GDS_OK);
    CHECK_EQ(log, GDS_BeginStructure(h, "A"), GDS_OK);
    CHECK_EQ(log, GDS_Boundary(h, p, p, 3, 1, 0, 0, 0), GDS_OK);
    CHECK_EQ(log, GDS_Box(h, 0, 0, 5, 5, 1, 0, 0, 0), GDS_OK);
    CHECK_EQ(log, GDS_EndStructure(h), GDS_OK);
    CHECK_EQ(log, GDS_BeginStructure(h, "B"), GDS_OK);
    CHECK_EQ(log, GDS_Sref(h, "A", 1, 2, 0, 1.0, 0.0, 0, 0), GDS_OK);
    CHECK_EQ(log, GDS_EndStructure(h), GDS_OK);
    CHECK_EQ(log, GDS_EndLib(h), expectedEnd);
    return libraryOpening(path) + 2 * (kStructureOpen + kEndStr) + boundarySize(3) + kBoxSize +
           (kOpenClose + 6 + 6 + 12 + 12 + 12) + kEndLib;  // SREF: SNAME "A", STRANS, MAG, ANGLE, XY
}

TEST_F(DeadDisk, OnlyTheFinalFlushFails) {
    const std::string path = tempPath("flush");
    Log sizing;
    const std::size_t total = writeSmallLibrary(path, sizing, GDS_OK);
    ASSERT_EQ(sizing.text, "");
    ASSERT_EQ(fileSize(path), static_cast<long>(total));
    const std::vector<std::uint8_t> reference = gdstest::maskTimestamps(gdstest::readFile(path));

    // One byte short, or short of exactly the ENDLIB record: every call
    // before GDS_EndLib succeeds (nothing has been written yet), the flush
    // fails, and GDS_EndLib reports it.
    for (const std::size_t limit : {total - 1, total - kEndLib, std::size_t{7}}) {
        SCOPED_TRACE(limit);
        runLimited(limit, [&](Log& log) {
            writeSmallLibrary(path, log, GDS_ERR_WRITE);
            CHECK_EQ(log, fileSize(path), static_cast<long>(limit));
        });
    }
    // Exactly enough room: success, and the same bytes as without a limit.
    runLimited(total, [&](Log& log) {
        writeSmallLibrary(path, log, GDS_OK);
        CHECK_EQ(log, gdstest::maskTimestamps(gdstest::readFile(path)) == reference, true);
    });
    std::remove(path.c_str());
}

TEST_F(DeadDisk, FileCutInsideARecordStillTilesUpToTheCut) {
    // What reached the file before the failure is a prefix of the library.
    const std::string path = tempPath("prefix");
    const std::size_t opening = libraryOpening(path) + kStructureOpen;
    const std::size_t limit = opening + boundarySize(kMaxVertices) + 1001;
    runLimited(limit, [&](Log& log) {
        GdsHandle h = nullptr;
        CHECK_EQ(log, GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h), GDS_OK);
        CHECK_EQ(log, GDS_BeginStructure(h, "A"), GDS_OK);
        for (int i = 0; i < 20; ++i) GDS_Boundary(h, kXs.data(), kYs.data(), kMaxVertices, 1, 0, 0, 0);
        GDS_EndStructure(h);
        GDS_EndLib(h);
        const std::vector<std::uint8_t> bytes = gdstest::readFile(path);
        CHECK_EQ(log, bytes.size(), limit);
        bool tiled = true;
        const std::vector<gdstest::Record> records = gdstest::splitRecords(bytes, tiled);
        CHECK_EQ(log, tiled, false);  // the last record is cut
        // HEADER BGNLIB LIBNAME UNITS BGNSTR STRNAME, one whole boundary of
        // 7 records, then BOUNDARY ELFLAGS PLEX LAYER DATATYPE and the cut XY.
        CHECK_EQ(log, records.size(), 6 + 7 + 5);
        CHECK_EQ(log, records.back().type, gdstest::DATATYPE);
        std::remove(path.c_str());
    });
}

// Elements that land on the end of the output buffer: one that fills it to
// the last byte, and one 2 bytes too big for what is left, which must go to
// the next block whole. A writer that reserves less room than it stores
// runs past the buffer here; a second library with the same calls and no
// filler gives the bytes to expect.
struct Landing {
    const char* name;
    std::size_t size;  // bytes of the records of the call
    std::function<int(GdsHandle)> write;
};

std::size_t pathSize(std::size_t points) { return kOpenClose + 3 * 6 + 8 + 4 + 8 * points; }

std::vector<Landing> landings() {
    static const std::string longText(512, 'w');
    static const std::string longName(65530, 'N');
    static const std::vector<std::int32_t> pathXs = ramp(16000, 5), pathYs = ramp(16000, 1);
    const std::int32_t* xs = kXs.data();
    const std::int32_t* ys = kYs.data();
    const std::int32_t* px = pathXs.data();
    const std::int32_t* py = pathYs.data();
    return {
        {"boundary", boundarySize(kMaxVertices), [=](GdsHandle h) { return GDS_Boundary(h, xs, ys, kMaxVertices, 1, 0, 0, 0); }},
        {"small boundary", boundarySize(3), [=](GdsHandle h) { return GDS_Boundary(h, xs, ys, 3, 1, 0, 0, 0); }},
        {"box", kBoxSize, [](GdsHandle h) { return GDS_Box(h, 1, 2, 3, 4, 1, 0, 0, 0); }},
        {"path", pathSize(8190), [=](GdsHandle h) { return GDS_Path(h, px, py, 8190, 7, 1, 0, 0, 0, 0); }},
        {"split path", pathSize(8190), [=](GdsHandle h) { return GDS_Path(h, px, py, 16000, 7, 1, 0, 0, 0, 0); }},
        {"text", textSize(512), [](GdsHandle h) {
             return GDS_Text(h, 0, 0, longText.c_str(), 1, 0, 0, 0, 0, 0, 1.0, 0.0, 0, 0); }},
        {"sref", kOpenClose + 4 + 65530 + 6 + 12 + 12 + 12, [](GdsHandle h) {
             return GDS_Sref(h, longName.c_str(), 0, 0, 0, 1.0, 0.0, 0, 0); }},
        {"aref", kOpenClose + 4 + 65530 + 6 + 12 + 12 + 8 + 28, [=](GdsHandle h) {
             return GDS_Aref(h, longName.c_str(), xs, ys, 2, 3, 0, 1.0, 0.0, 0, 0); }},
        {"node", kOpenClose + 6 + 6 + 4 + 8 * 50, [=](GdsHandle h) { return GDS_Node(h, xs, ys, 50, 1, 0, 0, 0); }},
        {"circle", boundarySize(kMaxVertices), [](GdsHandle h) { return GDS_Circle(h, 5, 6, 1000, kMaxVertices, 1, 0, 0, 0); }},
        {"sector", boundarySize(kMaxVertices), [](GdsHandle h) {
             return GDS_Sector(h, 5, 6, 1000, 10.0, 80.0, kMaxVertices, 1, 0, 0, 0); }},
        {"arc", pathSize(kMaxVertices), [](GdsHandle h) {
             return GDS_Arc(h, 5, 6, 1000, 10.0, 80.0, kMaxVertices, 3, 1, 0, 0, 0, 0); }},
        {"structure", kEndStr + 28 + 4 + 65530, [](GdsHandle h) {
             return GDS_EndStructure(h) | GDS_BeginStructure(h, longName.c_str()); }},
    };
}

// Begins a library, fills it to filler bytes, makes the call, and follows
// it with 3 MiB of curves and boundaries; returns the bytes from the call on.
std::vector<std::uint8_t> landAndContinue(const std::string& path, const Landing& landing, std::size_t filler, Log& log) {
    GdsHandle h = nullptr;
    CHECK_EQ(log, GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h), GDS_OK);
    CHECK_EQ(log, GDS_BeginStructure(h, "A"), GDS_OK);
    std::size_t used = libraryOpening(path) + kStructureOpen;
    if (filler > 0) fillTo(h, used, filler, log);
    CHECK_EQ(log, landing.write(h), GDS_OK);
    for (int i = 0; i < 24; ++i) {
        CHECK_EQ(log, GDS_Circle(h, i, -i, 100000, kMaxVertices, 2, 0, 0, 0), GDS_OK);
        CHECK_EQ(log, GDS_Boundary(h, kXs.data(), kYs.data(), kMaxVertices, 3, 0, 0, 0), GDS_OK);
    }
    CHECK_EQ(log, GDS_EndStructure(h), GDS_OK);
    CHECK_EQ(log, GDS_EndLib(h), GDS_OK);
    // BGNSTR of the "structure" call carries the time of day, which the two runs need not share.
    std::vector<std::uint8_t> file = gdstest::readFile(path);
    if (path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0) {
        std::vector<std::uint8_t> plain;
        CHECK_EQ(log, gdstest::gunzip(file, plain), true);
        file.swap(plain);
    }
    const std::vector<std::uint8_t> bytes = gdstest::maskTimestamps(file);
    std::remove(path.c_str());
    return std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(std::min(used, bytes.size())), bytes.end());
}

// The same for a .gz name, whose pieces are cut apart from the buffer.
class BufferEdges : public ::testing::TestWithParam<const char*> {};

TEST_P(BufferEdges, ACallThatFillsTheBufferOrOverrunsItByTwoBytes) {
    const std::string path = tempPath("edge") + GetParam();
    for (const Landing& landing : landings()) {
        for (const std::size_t left : {landing.size, landing.size - 2}) {
            SCOPED_TRACE(std::string(landing.name) + ", room for " + std::to_string(left));
            runLimited(RLIM_INFINITY, [&](Log& log) {
                const std::vector<std::uint8_t> expected = landAndContinue(path, landing, 0, log);
                const std::vector<std::uint8_t> got = landAndContinue(path, landing, kBuffer - left, log);
                CHECK_EQ(log, got.size(), expected.size());
                CHECK_EQ(log, got == expected, true);
            });
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PlainAndGzip, BufferEdges, ::testing::Values("", ".gz"));

// A .gz file whose disk fails: the workers find out, the calling thread
// learns it at a later call or at GDS_EndLib at the latest, and every thread
// and buffer is gone after GDS_EndLib. Random coordinates compress to about
// half, so the limits fall inside the header, the first pieces and later.
class GzipFaults : public ::testing::TestWithParam<const char*> {};

void failGzip(const std::string& path, std::size_t limit, Log& log) {
    const std::size_t before = heapInUse();
    std::vector<std::int32_t> xs(kMaxVertices), ys(kMaxVertices);
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        state = state * 1103515245u + 12345u;
        xs[i] = static_cast<std::int32_t>(state >> 1);
        state = state * 1103515245u + 12345u;
        ys[i] = static_cast<std::int32_t>(state >> 1);
    }
    GdsHandle h = nullptr;
    CHECK_EQ(log, GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h), GDS_OK);
    CHECK_EQ(log, GDS_BeginStructure(h, "A"), GDS_OK);
    int failures = 0;
    for (int i = 0; i < 160; ++i) {  // 10 MiB
        const int code = GDS_Boundary(h, xs.data(), ys.data(), kMaxVertices, 1, 0, 0, 0);
        if (code == GDS_ERR_WRITE) ++failures;
        else CHECK_EQ(log, code + 100 * failures, GDS_OK);  // no 0 after an 18
    }
    // A failure in the first megabyte is known long before the last call.
    if (limit <= kBuffer) CHECK_EQ(log, failures > 0, true);
    CHECK_EQ(log, GDS_EndStructure(h), failures > 0 ? GDS_ERR_WRITE : GDS_OK);
    CHECK_EQ(log, GDS_EndLib(h), GDS_ERR_WRITE);
    CHECK_EQ(log, fileSize(path) <= static_cast<long>(limit), true);
    CHECK_EQ(log, heapInUse() <= before + kLeakSlack, true);
    std::remove(path.c_str());
}

TEST_P(GzipFaults, AFileSizeLimitGives18WithoutHangOrLeak) {
    const std::string path = tempPath("limit") + ".gz";
    for (const std::size_t limit : {std::size_t{0}, std::size_t{5}, std::size_t{10}, std::size_t{100000},
                                    kBuffer, 3 * kBuffer + 17}) {
        SCOPED_TRACE(limit);
        runLimited(limit, [&](Log& log) {
            setenv("CARVELLE_GZIP_THREADS", GetParam(), 1);
            failGzip(path, limit, log);
        });
    }
}

TEST_P(GzipFaults, AFailureInTheLastPieceOrTheTrailerIsReportedByEndLib) {
    // Everything fits one piece, compressed only by GDS_EndLib: the limit
    // lets the 10-byte header through and stops the piece or the trailer.
    const std::string path = tempPath("last") + ".gz";
    for (const std::size_t limit : {std::size_t{10}, std::size_t{11}, std::size_t{60}}) {
        SCOPED_TRACE(limit);
        runLimited(limit, [&](Log& log) {
            setenv("CARVELLE_GZIP_THREADS", GetParam(), 1);
            GdsHandle h = nullptr;
            CHECK_EQ(log, GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h), GDS_OK);
            CHECK_EQ(log, GDS_BeginStructure(h, "A"), GDS_OK);
            CHECK_EQ(log, GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_OK);
            CHECK_EQ(log, GDS_EndStructure(h), GDS_OK);
            CHECK_EQ(log, GDS_EndLib(h), GDS_ERR_WRITE);
            std::remove(path.c_str());
        });
    }
}

TEST_P(GzipFaults, AFullDiskGives18WithoutHangOrLeak) {
    const std::string path = tempPath("full") + ".gz";
    std::remove(path.c_str());
    ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
    runLimited(RLIM_INFINITY, [&](Log& log) {
        setenv("CARVELLE_GZIP_THREADS", GetParam(), 1);
        failGzip(path, 0, log);
    });
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Threads, GzipFaults, ::testing::Values("1", "2", "4"));

// Calls that end with codes 3, 5 and 6: the handle must still be freed.
class FailedLibraries : public ::testing::Test {};

TEST_F(FailedLibraries, OpenFailuresAndRangeFailuresFreeTheHandleAtEndLib) {
    const std::string longName(65531, 'f');
    const std::string missingDir = "/nonexistent-carvelle-dir/x.gds";
    const std::size_t before = heapInUse();
    for (int round = 0; round < 50; ++round) {
        GdsHandle h = nullptr;
        EXPECT_EQ(GDS_BeginLib(missingDir.c_str(), 0.001, 1e-9, &h), GDS_ERR_OPEN);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(GDS_BeginStructure(h, "A"), GDS_ERR_STOPPED);
        EXPECT_EQ(GDS_EndStructure(h), GDS_ERR_STRUCT_NOT_OPEN);
        EXPECT_EQ(GDS_EndLib(h), GDS_ERR_STOPPED);

        h = nullptr;
        EXPECT_EQ(GDS_BeginLib(nullptr, 0.001, 1e-9, &h), GDS_ERR_OPEN);
        EXPECT_EQ(GDS_EndLib(h), GDS_ERR_STOPPED);

        h = nullptr;
        EXPECT_EQ(GDS_BeginLib(longName.c_str(), 0.001, 1e-9, &h), GDS_ERR_OPEN);
        EXPECT_EQ(GDS_EndLib(h), GDS_ERR_STOPPED);

        h = nullptr;
        EXPECT_EQ(GDS_BeginLib(tempPath("range").c_str(), INFINITY, 1e-9, &h), GDS_ERR_RANGE);
        EXPECT_EQ(fileSize(tempPath("range")), -1);  // no file created
        EXPECT_EQ(GDS_EndLib(h), GDS_ERR_STOPPED);
    }
    EXPECT_EQ(GDS_BeginLib("x.gds", 0.001, 1e-9, nullptr), GDS_ERR_HANDLE);
    EXPECT_LE(heapInUse(), before + kLeakSlack);
}

TEST_F(FailedLibraries, EndLibWithAnOpenStructureClosesTheFileAndFreesTheHandle) {
    const std::string path = tempPath("open");
    const std::size_t before = heapInUse();
    for (int round = 0; round < 50; ++round) {
        GdsHandle h = nullptr;
        ASSERT_EQ(GDS_BeginLib(path.c_str(), 0.001, 1e-9, &h), GDS_OK);
        ASSERT_EQ(GDS_BeginStructure(h, "A"), GDS_OK);
        ASSERT_EQ(GDS_Box(h, 0, 0, 1, 1, 1, 0, 0, 0), GDS_OK);
        ASSERT_EQ(GDS_EndLib(h), GDS_ERR_STRUCT_NOT_CLOSED);
    }
    EXPECT_LE(heapInUse(), before + kLeakSlack);
    // The library is complete all the same: ENDSTR and ENDLIB close it.
    const std::vector<gdstest::Record> records = gdstest::splitRecords(gdstest::readFile(path));
    ASSERT_EQ(records.size(), 6u + 7 + 2);
    EXPECT_EQ(records[13].type, gdstest::ENDSTR);
    EXPECT_EQ(records[14].type, gdstest::ENDLIB);
    std::remove(path.c_str());
}

TEST_F(FailedLibraries, DevFullWithAnOpenStructureStillReports6AndFreesTheHandle) {
    // 6 wins over the dead disk, which gets nothing more.
    const std::size_t before = heapInUse();
    GdsHandle h = nullptr;
    ASSERT_EQ(GDS_BeginLib("/dev/full", 0.001, 1e-9, &h), GDS_OK);
    ASSERT_EQ(GDS_BeginStructure(h, "A"), GDS_OK);
    EXPECT_EQ(GDS_EndLib(h), GDS_ERR_STRUCT_NOT_CLOSED);
    EXPECT_LE(heapInUse(), before + kLeakSlack);
}

}  // namespace
