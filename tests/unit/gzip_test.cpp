// SPDX-License-Identifier: MIT
// The internal gzip writer and reader that tools (the merge) build on: what
// GzipWriter writes, in one member or two concatenated, comes back through
// GzipInflater fed in odd-sized pieces; a damaged CRC or a cut file does not.

#include <gtest/gtest.h>

#include <cstdint>
#if defined(__linux__)
#include <sched.h>
#endif
#include <string>
#include <vector>

#include "encoding/gzip_reader.h"
#include "encoding/gzip_writer.h"
#include "gds_test_support.h"
#include "platform/platform.h"

namespace {

using gdstest::Bytes;
using gdstest::operator+;

Bytes sample(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<std::uint8_t>(i % 7 == 0 ? seed >> 24 : i / 97);
    }
    return out;
}

Bytes packed(const std::string& path, const Bytes& data, unsigned threads) {
    {
        carvelle::OutputFile file;
        EXPECT_TRUE(file.open(path.c_str()));
        carvelle::GzipWriter gzip(file);
        EXPECT_TRUE(gzip.prepare(threads));
        gzip.start();
        EXPECT_TRUE(gzip.write(data.data(), data.size() / 3));
        EXPECT_TRUE(gzip.write(data.data() + data.size() / 3, data.size() - data.size() / 3));
        EXPECT_TRUE(gzip.finish());
        EXPECT_TRUE(file.close());
    }
    return gdstest::readFile(path);
}

// Feeds in pieces of inStep bytes into a room of outStep bytes; false when
// the reader reports damage or the data does not end on a member's end.
bool unpack(const Bytes& in, std::size_t inStep, std::size_t outStep, Bytes& out) {
    carvelle::GzipInflater inflater;
    std::vector<std::uint8_t> room(outStep);
    out.clear();
    for (std::size_t at = 0; at <= in.size(); at += inStep) {
        const std::uint8_t* next = in.data() + at;
        std::size_t left = std::min(inStep, in.size() - at);
        do {
            std::uint8_t* to = room.data();
            std::size_t free = room.size();
            if (inflater.inflate(next, left, to, free) != carvelle::GzipInflater::Result::Progress) return false;
            out.insert(out.end(), room.data(), to);
            if (free > 0 && left == 0) break;
        } while (true);
    }
    return inflater.atMemberEnd();
}

TEST(GzipRoundTrip, OneOrTwoMembersComeBackWhateverThePieces) {
    if (!carvelle::gzipAvailable()) GTEST_SKIP() << "built without a deflate library";
    gdstest::TempDir dir;
    const Bytes first = sample((std::size_t{7} << 19) + 3, 1);  // 3.5 MiB: pieces and a partial one
    const Bytes second = sample(1000, 2);
    const Bytes one = packed(dir.file("a.gz"), first, 2);
    const Bytes two = one + packed(dir.file("b.gz"), second, 1);
    struct Case {
        std::size_t inStep, outStep;
    };
    for (const Case c : {Case{4099, 65537}, Case{1 << 20, 1 << 20}, Case{65536, 1021}}) {
        SCOPED_TRACE(std::to_string(c.inStep) + " " + std::to_string(c.outStep));
        Bytes out;
        EXPECT_TRUE(unpack(one, c.inStep, c.outStep, out));
        EXPECT_TRUE(out == first);
        EXPECT_TRUE(unpack(two, c.inStep, c.outStep, out));
        EXPECT_TRUE(out == first + second);
    }
    Bytes out;
    EXPECT_TRUE(unpack(packed(dir.file("c.gz"), second, 1), 3, 5, out));
    EXPECT_TRUE(out == second);
}

TEST(GzipRoundTrip, ADamagedCrcOrACutFileIsNotWhole) {
    if (!carvelle::gzipAvailable()) GTEST_SKIP() << "built without a deflate library";
    gdstest::TempDir dir;
    const Bytes data = sample(200000, 3);
    Bytes file = packed(dir.file("a.gz"), data, 2);
    Bytes out;
    ASSERT_TRUE(unpack(file, 65536, 65536, out));
    file[file.size() - 8] ^= 1;  // the CRC's first byte
    EXPECT_FALSE(unpack(file, 65536, 65536, out));
    file[file.size() - 8] ^= 1;
    file.resize(file.size() - 1);
    EXPECT_FALSE(unpack(file, 65536, 65536, out));
    EXPECT_FALSE(unpack(Bytes{}, 1, 1, out));
}

// A file that takes no bytes: the writer says so from write on, and finish
// says it again, whoever compresses.
TEST(GzipWriter, AFileThatFailsIsReportedByFinish) {
    if (!carvelle::gzipAvailable()) GTEST_SKIP() << "built without a deflate library";
    const Bytes data = sample((std::size_t{5} << 19) + 7, 4);
    for (const unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(threads);
        carvelle::OutputFile closed;
        carvelle::GzipWriter gzip(closed);
        ASSERT_TRUE(gzip.prepare(threads));
        gzip.start();
        EXPECT_FALSE(gzip.write(data.data(), data.size()));
        EXPECT_FALSE(gzip.finish());
        EXPECT_FALSE(gzip.finish());
    }
}

// The thread setting: whole numbers taken, above 16 clamped, anything else
// the default (the usable processors, at most 16), each refusal explained.
TEST(GzipThreads, TheSettingIsTakenClampedOrExplained) {
    const unsigned usable = carvelle::usableProcessors();
    const unsigned fallback = usable < 16 ? usable : 16;
    ASSERT_GE(usable, 1u);
    struct Case {
        const char* text;
        unsigned threads;
        bool explained;
    };
    const Case cases[] = {
        {nullptr, fallback, false},
        {"", fallback, false},
        {"1", 1, false},
        {"16", 16, false},
        {"007", 7, false},
        {"17", 16, true},
        {"99999999999999999999999", 16, true},
        {"0", fallback, true},
        {"000", fallback, true},
        {"-1", fallback, true},
        {"abc", fallback, true},
        {"2x", fallback, true},
        {" 3", fallback, true},
        {"+3", fallback, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text == nullptr ? "unset" : c.text);
        const carvelle::GzipThreads setting = carvelle::gzipThreadsSetting(c.text);
        EXPECT_EQ(setting.threads, c.threads);
        EXPECT_EQ(*setting.problem != '\0', c.explained) << setting.problem;
    }
#if defined(__linux__)
    // The affinity mask, not the machine's count.
    cpu_set_t one;
    CPU_ZERO(&one);
    cpu_set_t saved;
    ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
    CPU_SET(0, &one);
    if (sched_setaffinity(0, sizeof one, &one) == 0) {
        EXPECT_EQ(carvelle::usableProcessors(), 1u);
        EXPECT_EQ(carvelle::gzipThreadsSetting(nullptr).threads, 1u);
        sched_setaffinity(0, sizeof saved, &saved);
    }
#endif
}

}  // namespace
