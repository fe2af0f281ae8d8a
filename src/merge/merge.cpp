// SPDX-License-Identifier: MIT
#include "carvelle_merge.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <thread>
#include <unordered_map>

#include "encoding/record_writer.h"
#include "merge/merge_files.h"
#include "merge/part_scanner.h"

namespace carvelle {
namespace {

using merge::OutputFile;
using merge::PartFile;
using merge::PartScanner;

// The buffer of the head and end reads.
constexpr std::size_t kPieceSize = std::size_t{1} << 20;
// A part's head (HEADER to UNITS) takes at most 65,600 bytes; its end is sought backwards from a small
// piece, since little or no NUL padding follows ENDLIB.
constexpr std::size_t kHeadSize = std::size_t{128} << 10;
constexpr std::size_t kFirstEndPiece = std::size_t{4} << 10;
// The copy checks between slices whether the check of the parts has failed.
constexpr std::uint64_t kCopySlice = std::uint64_t{64} << 20;

// A UNITS payload as "user unit 0.001, 1e-09 m", for messages only.
std::string describeUnits(const std::string& payload) {
    double values[2];
    for (std::size_t i = 0; i < 2; ++i) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(payload.data()) + sizeof(Real8) * i;
        std::uint64_t mantissa = 0;
        for (std::size_t b = 1; b < sizeof(Real8); ++b) mantissa = mantissa << 8 | bytes[b];
        const double magnitude = std::ldexp(static_cast<double>(mantissa), 4 * ((bytes[0] & 0x7F) - 64) - 56);
        values[i] = (bytes[0] & 0x80) ? -magnitude : magnitude;
    }
    char text[64];
    std::snprintf(text, sizeof text, "user unit %.15g, %.15g m", values[0], values[1]);
    return text;
}

struct Outcome {
    MergeFailure failure = MergeFailure::None;
    std::string message;
    bool fail(MergeFailure why, std::string text) {
        failure = why;
        message = std::move(text);
        return false;
    }
    bool outOfMemory() noexcept {
        failure = MergeFailure::Write;
        try {
            message = "out of memory";
        } catch (...) {
        }
        return false;
    }
};

struct Part {
    const std::string* path;
    std::uint64_t bodyStart = 0, bodyEnd = 0;  // the structures lie between UNITS and ENDLIB
};

// Checks every record of every part, in part order, and that no structure name is defined twice. Runs beside
// the copy: the structures are copied while they are checked, and a fault discards the output.
class PartChecker {
public:
    PartChecker(const std::vector<Part>& parts, std::atomic<bool>& stop) : parts_(parts), stop_(stop) {}

    bool checkAll() noexcept {
        try {
            for (std::size_t index = 0; index < parts_.size(); ++index) {
                if (!check(index)) return false;
            }
            return true;
        } catch (...) {
            return outcome.outOfMemory();
        }
    }
    // One part on its own, for the message of a part whose end is wrong.
    bool check(std::size_t index) {
        const std::string& path = *parts_[index].path;
        PartFile file;
        std::string error;
        if (!file.open(path, error)) return outcome.fail(MergeFailure::Open, error);
        PartScanner scanner;
        for (std::uint64_t at = 0; at < file.size(); at += PartFile::kViewSize) {
            if (stop_.load(std::memory_order_relaxed)) return false;
            const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(file.size() - at, PartFile::kViewSize));
            const std::uint8_t* bytes = file.view(at, size, error);
            if (bytes == nullptr) return outcome.fail(MergeFailure::Open, error);
            if (!scanner.feed(bytes, size)) break;
            if (!takeNames(scanner, index)) return false;
        }
        if (!scanner.finish()) {
            return outcome.fail(MergeFailure::NotALibrary, "part " + path + " is not a complete library: " +
                                                               scanner.error());
        }
        return true;
    }

    std::size_t structures() const { return firstDefined_.size(); }
    Outcome outcome;

private:
    bool takeNames(PartScanner& scanner, std::size_t index) {
        for (std::string& name : scanner.names()) {
            const auto [at, added] = firstDefined_.emplace(std::move(name), index);
            if (!added) {
                const std::string& first = *parts_[at->second].path;
                return outcome.fail(MergeFailure::DuplicateStructure,
                                    "structure \"" + at->first + "\" is defined in part " + first +
                                        (at->second == index ? " twice" : " and again in part " + *parts_[index].path));
            }
        }
        scanner.names().clear();
        return true;
    }

    const std::vector<Part>& parts_;
    std::atomic<bool>& stop_;
    std::unordered_map<std::string, std::size_t> firstDefined_;  // name -> index of the part that defines it
};

class Merger {
public:
    Merger(const std::string& output, const std::vector<std::string>& paths) : output_(output) {
        std::transform(paths.begin(), paths.end(), std::back_inserter(parts_), [](const std::string& path) {
            return Part{&path};
        });
    }

    MergeResult run() {
        if (parts_.empty()) {
            outcome_.fail(MergeFailure::NoParts, "no parts to merge");
            return result();
        }
        if (!checkOutput()) return result();
        for (std::size_t index = 0; index < parts_.size(); ++index) {
            if (!inspect(index)) return result();
        }
        OutputFile out;
        std::string error;
        if (!out.create(output_, error)) {
            outcome_.fail(MergeFailure::Open, error);
            return result();
        }
        if (!writeHead(out)) return result();

        std::atomic<bool> checkFailed{false}, copyFailed{false};
        PartChecker checker(parts_, copyFailed);
        std::thread checking;
        try {
            checking = std::thread([&] {
                if (!checker.checkAll()) checkFailed = true;
            });
        } catch (...) {
            checkFailed = !checker.checkAll();  // no thread to be had: check first, then copy
        }
        const bool copied = copyAll(out, checkFailed);
        if (!copied) copyFailed = true;
        if (checking.joinable()) checking.join();
        if (checker.outcome.failure != MergeFailure::None) {
            outcome_ = std::move(checker.outcome);
            return result();
        }
        if (!copied) return result();

        std::uint8_t end[kEmptyRecordSize];
        RecordWriter(end).emptyRecord(Record::EndLib);
        if (!out.write(end, sizeof end, error) || !out.complete(error)) {
            outcome_.fail(MergeFailure::Write, error);
            return result();
        }
        bytes_ += sizeof end;
        structures_ = checker.structures();
        return result();
    }

private:
    MergeResult result() {
        MergeResult done;
        done.failure = outcome_.failure;
        done.message = std::move(outcome_.message);
        if (done.failure == MergeFailure::None) {
            done.bytes = bytes_;
            done.structures = structures_;
        }
        return done;
    }

    bool checkOutput() {
        if (output_.empty() || output_.find('\0') != std::string::npos) {
            return outcome_.fail(MergeFailure::Open, "the output name is empty or holds a NUL byte");
        }
        if (output_.size() > kMaxTextLength) {
            return outcome_.fail(MergeFailure::Open, "output name longer than " + std::to_string(kMaxTextLength) +
                                                         " bytes: LIBNAME cannot hold it");
        }
        std::error_code ignored;
        if (std::filesystem::is_directory(output_, ignored)) {
            return outcome_.fail(MergeFailure::Open, "output " + output_ + " is a folder");
        }
        // Replacing a part with the merge would lose it if anything went wrong later, and a forgotten output
        // name makes the first part the output: refused either way.
        const auto same = std::find_if(parts_.begin(), parts_.end(), [&](const Part& part) {
            return std::filesystem::equivalent(output_, *part.path, ignored);
        });
        if (same != parts_.end()) {
            return outcome_.fail(MergeFailure::OutputIsPart, "output " + output_ + " is also the part " + *same->path);
        }
        return true;
    }

    // Reads a part's head and end before the output exists: a part that is no library, is cut short or
    // whose units differ is refused at once, and the copy learns where the structures lie.
    bool inspect(std::size_t index) {
        Part& part = parts_[index];
        const std::string& path = *part.path;
        PartFile file;
        std::string error;
        if (!file.open(path, error)) return outcome_.fail(MergeFailure::Open, error);
        PartScanner scanner;
        const std::size_t got = file.read(buffer_.get(), kHeadSize, error);
        if (!error.empty()) return outcome_.fail(MergeFailure::Open, error);
        if (!scanner.feed(buffer_.get(), got) || (!scanner.headRead() && !scanner.finish())) {
            return outcome_.fail(MergeFailure::NotALibrary, "part " + path + " is not a complete library: " +
                                                                scanner.error());
        }
        if (units_.empty()) {
            units_ = scanner.units();
        } else if (scanner.units() != units_) {
            return outcome_.fail(MergeFailure::UnitsDiffer, "part " + path + " has " +
                                                                describeUnits(scanner.units()) + ", part " +
                                                                *parts_[0].path + " has " + describeUnits(units_));
        }
        part.bodyStart = scanner.bodyStart();
        if (!findEnd(file, part, error)) {
            if (!error.empty()) return outcome_.fail(MergeFailure::Open, error);
            // The checker walks the part to say where and how it went wrong.
            std::atomic<bool> never{false};
            PartChecker checker(parts_, never);
            if (!checker.check(index)) {
                outcome_ = std::move(checker.outcome);
                return false;
            }
            return outcome_.fail(MergeFailure::NotALibrary, "part " + path + " does not end with ENDLIB");
        }
        return true;
    }

    // A library ends with ENDLIB and then nothing but NUL padding: its last nonzero byte is ENDLIB's third.
    bool findEnd(PartFile& file, Part& part, std::string& error) {
        std::uint8_t endLib[kEmptyRecordSize];
        RecordWriter(endLib).emptyRecord(Record::EndLib);
        std::uint64_t end = file.size();
        for (std::size_t piece = kFirstEndPiece; end > part.bodyStart; piece = std::min(piece * 16, kPieceSize)) {
            const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(end - part.bodyStart, piece));
            if (!file.readAt(end - size, buffer_.get(), size, error)) return false;
            const std::uint8_t* last = buffer_.get() + size;
            while (last != buffer_.get() && last[-1] == 0) --last;
            if (last != buffer_.get()) {
                const std::uint64_t third = end - size + static_cast<std::uint64_t>(last - buffer_.get()) - 1;
                std::uint8_t found[kEmptyRecordSize];
                if (third < part.bodyStart + 2 || third + 2 > file.size()) return false;
                if (!file.readAt(third - 2, found, sizeof found, error)) return false;
                part.bodyEnd = third - 2;
                return std::equal(found, found + sizeof found, endLib);
            }
            end -= size;
        }
        return false;
    }

    bool writeHead(OutputFile& out) {
        std::uint8_t* head = buffer_.get();
        RecordWriter records(head);
        // HEADER's payload, the stream version, is kept with the tags.
        const RecordTag version = tagOf(Record::StreamVersion);
        records.header(Record::Header, 2).put2(static_cast<std::uint16_t>(version.recordType << 8 | version.dataType));
        records.timestampRecord(Record::BgnLib, currentTimestamp());
        records.stringRecord(Record::LibName, output_.data(), output_.size());
        Real8 user{}, meter{};
        std::copy_n(units_.begin(), user.size(), user.begin());
        std::copy_n(units_.begin() + user.size(), meter.size(), meter.begin());
        records.header(Record::Units, user.size() + meter.size()).put8(user).put8(meter);
        const auto size = static_cast<std::size_t>(records.position() - head);
        std::string error;
        if (!out.write(head, size, error)) return outcome_.fail(MergeFailure::Write, error);
        bytes_ = size;
        return true;
    }

    bool copyAll(OutputFile& out, const std::atomic<bool>& checkFailed) {
        std::string error;
        for (const Part& part : parts_) {
            PartFile file;
            if (!file.open(*part.path, error)) return outcome_.fail(MergeFailure::Open, error);
            for (std::uint64_t at = part.bodyStart; at < part.bodyEnd; at += kCopySlice) {
                if (checkFailed.load(std::memory_order_relaxed)) return false;
                if (!out.copy(file, at, std::min(kCopySlice, part.bodyEnd - at), error)) {
                    return outcome_.fail(MergeFailure::Write, error);
                }
            }
            bytes_ += part.bodyEnd - part.bodyStart;
        }
        return true;
    }

    const std::string& output_;
    std::vector<Part> parts_;
    std::unique_ptr<std::uint8_t[]> buffer_{new std::uint8_t[kPieceSize]};
    std::string units_;
    Outcome outcome_;
    std::uint64_t bytes_ = 0, structures_ = 0;
};

}  // namespace

MergeResult merge_libraries(const std::string& output, const std::vector<std::string>& parts) noexcept {
    try {
        return Merger(output, parts).run();
    } catch (...) {
        Outcome outcome;
        outcome.outOfMemory();
        MergeResult result;
        result.failure = outcome.failure;
        result.message.swap(outcome.message);
        return result;
    }
}

}  // namespace carvelle
