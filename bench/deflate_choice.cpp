// SPDX-License-Identifier: MIT
// Compresses a file in independent 1 MiB pieces, as the library's workers
// do, with each candidate deflate library at its fast levels, on one thread:
// throughput of the input and the compressed size.
// Build: g++ -O2 deflate_choice.cpp -lisal -ldeflate -lz
// Usage: deflate_choice FILE...
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

namespace {

constexpr std::size_t kPiece = std::size_t{1} << 20;
using Compress = std::function<std::size_t(const unsigned char*, std::size_t, unsigned char*, std::size_t)>;

std::size_t isal(int level, const unsigned char* in, std::size_t size, unsigned char* out, std::size_t room) {
    static const std::size_t kLevelBuffer[] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT,
                                               ISAL_DEF_LVL2_DEFAULT, ISAL_DEF_LVL3_DEFAULT};
    static std::vector<unsigned char> levelBuffer(ISAL_DEF_LVL3_DEFAULT);
    isal_zstream s;
    isal_deflate_stateless_init(&s);
    s.level = static_cast<uint32_t>(level);
    s.level_buf = levelBuffer.data();
    s.level_buf_size = static_cast<uint32_t>(kLevelBuffer[level]);
    s.next_in = const_cast<unsigned char*>(in);
    s.avail_in = static_cast<uint32_t>(size);
    s.next_out = out;
    s.avail_out = static_cast<uint32_t>(room);
    s.end_of_stream = 0;
    s.flush = FULL_FLUSH;
    if (isal_deflate_stateless(&s) != COMP_OK) return 0;
    return room - s.avail_out;
}

std::size_t deflate1(int level, const unsigned char* in, std::size_t size, unsigned char* out, std::size_t room) {
    static libdeflate_compressor* compressors[13] = {};
    if (!compressors[level]) compressors[level] = libdeflate_alloc_compressor(level);
    return libdeflate_deflate_compress(compressors[level], in, size, out, room);
}

std::size_t zlib1(int level, const unsigned char* in, std::size_t size, unsigned char* out, std::size_t room) {
    z_stream s{};
    deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    s.next_in = const_cast<unsigned char*>(in);
    s.avail_in = static_cast<uInt>(size);
    s.next_out = out;
    s.avail_out = static_cast<uInt>(room);
    deflate(&s, Z_FULL_FLUSH);
    const std::size_t n = room - s.avail_out;
    deflateEnd(&s);
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    struct Candidate { std::string name; Compress compress; };
    std::vector<Candidate> candidates;
    for (int l = 0; l <= 3; ++l)
        candidates.push_back({"isa-l " + std::to_string(l), [l](auto a, auto b, auto c, auto d) { return isal(l, a, b, c, d); }});
    for (int l : {1, 2, 3, 4, 6})
        candidates.push_back({"libdeflate " + std::to_string(l), [l](auto a, auto b, auto c, auto d) { return deflate1(l, a, b, c, d); }});
    for (int l : {1, 6})
        candidates.push_back({"zlib " + std::to_string(l), [l](auto a, auto b, auto c, auto d) { return zlib1(l, a, b, c, d); }});
    std::vector<unsigned char> out(2 * kPiece);
    std::printf("file\tlibrary level\tMB/s\tratio\n");
    for (int f = 1; f < argc; ++f) {
        std::FILE* file = std::fopen(argv[f], "rb");
        if (!file) return 1;
        std::vector<unsigned char> data;
        unsigned char chunk[1 << 16];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) data.insert(data.end(), chunk, chunk + n);
        std::fclose(file);
        for (auto& c : candidates) {
            double best = 1e9;
            std::size_t total = 0;
            for (int run = 0; run < 3; ++run) {
                total = 0;
                const auto start = std::chrono::steady_clock::now();
                for (std::size_t at = 0; at < data.size(); at += kPiece) {
                    const std::size_t size = std::min(kPiece, data.size() - at);
                    total += c.compress(data.data() + at, size, out.data(), out.size());
                }
                const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (s < best) best = s;
            }
            std::printf("%s\t%s\t%.0f\t%.2f\n", argv[f], c.name.c_str(), data.size() / best / 1e6,
                        double(data.size()) / double(total));
        }
    }
    return 0;
}
