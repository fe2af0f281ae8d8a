// SPDX-License-Identifier: MIT
#include "carvelle_merge.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "encoding/library_head.h"
#include "encoding/output.h"
#include "encoding/real8.h"
#include "encoding/record_writer.h"
#include "merge/part_reader.h"
#include "merge/part_scanner.h"
#include "platform/platform.h"

namespace carvelle {

void (*merge::afterHead)() = nullptr;

namespace {

using merge::PartReader;
using merge::PartScanner;

// The buffer of the head and end reads.
constexpr std::size_t kPieceSize = std::size_t{1} << 20;
// A part's end is sought backwards from a small piece, since little or no NUL padding follows ENDLIB; its head
// (a few hundred bytes, unless another writer's head records are long) is read in pieces of this size too.
constexpr std::size_t kFirstEndPiece = std::size_t{4} << 10;
constexpr std::size_t kHeadPiece = kFirstEndPiece;
// The copy checks between slices whether the check of the parts has failed or a signal came.
constexpr std::uint64_t kCopySlice = std::uint64_t{64} << 20;
// Two definitions of one structure are compared in pieces of this size.
constexpr std::size_t kComparePiece = std::size_t{64} << 10;

Real8 realAt(const std::string& payload, std::size_t index) {
    Real8 real{};
    std::copy_n(payload.begin() + static_cast<std::ptrdiff_t>(sizeof(Real8) * index), real.size(), real.begin());
    return real;
}

bool sameUnits(const std::string& a, const std::string& b) {
    return sameReal8(realAt(a, 0), realAt(b, 0)) && sameReal8(realAt(a, 1), realAt(b, 1));
}

// A UNITS payload as "user unit 0.0050000000000000001, 5.0000000000000001e-09 m (3E 14 7A ...)": enough digits
// to tell apart two doubles, and the bytes, which tell apart what the digits cannot.
std::string describeUnits(const std::string& payload) {
    char text[160];
    int at = std::snprintf(text, sizeof text, "user unit %.17g, %.17g m (", fromReal8(realAt(payload, 0)),
                           fromReal8(realAt(payload, 1)));
    for (std::size_t i = 0; i < payload.size() && at > 0 && static_cast<std::size_t>(at) + 4 < sizeof text; ++i) {
        at += std::snprintf(text + at, sizeof text - static_cast<std::size_t>(at), i == 0 ? "%02X" : " %02X",
                            static_cast<std::uint8_t>(payload[i]));
    }
    return std::string(text) + ")";
}

// The first record at which two runs of whole head records differ, by name; empty when they are the same.
std::string firstDifferentRecord(const std::string& a, const std::string& b) {
    std::size_t at = 0;
    auto lengthAt = [](const std::string& records, std::size_t offset) {
        return std::size_t{static_cast<std::uint8_t>(records[offset])} << 8 |
               static_cast<std::uint8_t>(records[offset + 1]);
    };
    while (at < a.size() && at < b.size()) {
        const std::size_t length = lengthAt(a, at);
        if (a.compare(at, length, b, at, lengthAt(b, at)) != 0) break;
        at += length;
    }
    if (at >= a.size() && at >= b.size()) return {};
    const std::string& longer = at < a.size() ? a : b;
    return recordName(static_cast<std::uint8_t>(longer[at + 2]));
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
    FileIdentity identity;                     // as the part was when its head was read
    std::uint64_t bodyStart = 0, bodyEnd = 0;  // the structures lie between UNITS and ENDLIB
    // Decompressed on the way: its end is known only once the check has read it all.
    bool gzip = false;
};

// Where a structure is defined, for the comparison with a later definition of its name.
struct Definition {
    std::size_t part;
    std::uint64_t begin, end;
};

// How far the check has come: the copy takes only bytes already checked, and leaves out the structures found
// to be copies of earlier ones.
class Progress {
public:
    explicit Progress(std::size_t parts) : skips_(parts), ends_(parts, ~std::uint64_t{0}) {}

    // The check allows the copy up to `safe` in part `part` (all of the parts before it).
    void allow(std::size_t part, std::uint64_t safe) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            part_ = part;
            safe_ = safe;
        }
        moved_.notify_all();
    }
    void skip(std::size_t part, std::uint64_t begin, std::uint64_t end) {
        const std::lock_guard<std::mutex> lock(mutex_);
        skips_[part].emplace_back(begin, end);
    }
    // Where the structures of a gzip part end, once the check has read its ENDLIB.
    void end(std::size_t part, std::uint64_t end) {
        const std::lock_guard<std::mutex> lock(mutex_);
        ends_[part] = end;
    }
    void stop() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
        }
        moved_.notify_all();
    }
    // Waits until the check allows more than `at` in part `part`, and returns how far, with the structures
    // to leave out and where the part's structures end if the check knows it; 0 once stopped or on a signal.
    std::uint64_t wait(std::size_t part, std::uint64_t at, std::vector<std::pair<std::uint64_t, std::uint64_t>>& skips,
                       std::uint64_t& end) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (stopped_ || SignalGuard::interrupted()) return 0;
            if (part_ > part || (part_ == part && safe_ > at)) break;
            // A signal handler cannot wake the wait: look again now and then.
            moved_.wait_for(lock, std::chrono::milliseconds(50));
        }
        skips = skips_[part];
        end = std::min(end, ends_[part]);
        return part_ > part ? ~std::uint64_t{0} : safe_;
    }

private:
    std::mutex mutex_;
    std::condition_variable moved_;
    std::size_t part_ = 0;
    std::uint64_t safe_ = 0;
    bool stopped_ = false;
    std::vector<std::vector<std::pair<std::uint64_t, std::uint64_t>>> skips_;
    std::vector<std::uint64_t> ends_;
};

// Checks every record of every part, in part order, and that a structure name defined twice has the same
// records both times. Runs beside the copy, ahead of it: the copy takes only what was checked, and a fault
// discards the output.
class PartChecker {
public:
    PartChecker(const std::vector<Part>& parts, Progress& progress) : parts_(parts), progress_(progress) {}

    bool checkAll() noexcept {
        try {
            for (std::size_t index = 0; index < parts_.size(); ++index) {
                if (!check(index)) break;
                progress_.allow(index + 1, 0);
            }
        } catch (...) {
            outcome.outOfMemory();
        }
        if (outcome.failure == MergeFailure::None) return true;
        progress_.stop();
        return false;
    }
    // One part on its own, for the message of a part whose end is wrong.
    bool check(std::size_t index) {
        const std::string& path = *parts_[index].path;
        PartReader file;
        std::string error;
        if (!file.open(path, error)) return outcome.fail(MergeFailure::Open, error);
        if (file.identity() != parts_[index].identity) {
            return outcome.fail(MergeFailure::PartChanged, "part " + path + " changed while it was merged");
        }
        PartScanner scanner;
        std::uint64_t ended = parts_[index].bodyStart;  // the end of the last structure read
        for (;;) {
            if (SignalGuard::interrupted()) return outcome.fail(MergeFailure::Interrupted, "interrupted by a signal");
            if (stopped_ && stopped_->load(std::memory_order_relaxed)) return false;
            std::size_t size = 0;
            const std::uint8_t* bytes = file.next(size, error);
            if (bytes == nullptr) return failRead(file, error);
            if (size == 0 || !scanner.feed(bytes, size)) break;
            if (!scanner.structures().empty()) ended = scanner.structures().back().end;
            if (!takeStructures(scanner, index, file)) return false;
            // A structure whose name came before may yet prove a copy to leave out: the copy stops at its start.
            const bool mayRepeat = scanner.inStructure() &&
                                   (!scanner.openNamed() || firstDefined_.count(scanner.openName()) > 0);
            // Outside a structure, no further than the last one's end: past it may lie ENDLIB.
            progress_.allow(index, !scanner.inStructure() ? ended
                                   : mayRepeat            ? scanner.openBegin()
                                                          : scanner.offset());
        }
        if (!scanner.finish()) {
            return outcome.fail(MergeFailure::NotALibrary, "part " + path + " is not a complete library: " +
                                                               scanner.error());
        }
        if (!file.unchanged(error)) return outcome.fail(MergeFailure::PartChanged, error);
        if (file.gzip()) progress_.end(index, ended);
        return true;
    }
    void stopWhen(const std::atomic<bool>& stopped) { stopped_ = &stopped; }

    std::size_t structures() const { return firstDefined_.size(); }
    Outcome outcome;

private:
    // A damaged gzip part is no complete library; a plain part that cannot be read changed under the merge.
    bool failRead(const PartReader& file, const std::string& error) {
        return outcome.fail(file.damaged() ? MergeFailure::NotALibrary : MergeFailure::PartChanged, error);
    }

    bool takeStructures(PartScanner& scanner, std::size_t index, PartReader& file) {
        for (PartScanner::Structure& structure : scanner.structures()) {
            const Definition here{index, structure.begin, structure.end};
            const auto [at, added] = firstDefined_.emplace(std::move(structure.name), here);
            if (!added) {
                if (!sameDefinition(at->first, at->second, here, file)) return false;
                progress_.skip(index, here.begin, here.end);
            }
        }
        scanner.structures().clear();
        return true;
    }

    // Compares two definitions of one name, BGNSTR's timestamps aside, reading both again.
    bool sameDefinition(const std::string& name, const Definition& first, const Definition& again,
                        PartReader& current) {
        const std::string& firstPath = *parts_[first.part].path;
        PartReader other;
        std::string error;
        PartReader* earlier = &current;
        // The check's reader of a gzip part is past the definitions, and would start again from the part's first
        // byte for each: readers that move forward only, kept for the next comparison, read them.
        PartReader* file = current.gzip() ? compareReader(again.part, currentCompare_) : &current;
        if (file == nullptr) return false;
        if (first.part != again.part && parts_[first.part].gzip) {
            auto& kept = earlierCompare_[first.part % earlierCompare_.size()];
            if (!(earlier = compareReader(first.part, kept))) return false;
        } else if (first.part != again.part || current.gzip()) {
            if (!other.open(firstPath, error)) return outcome.fail(MergeFailure::Open, error);
            if (other.identity() != parts_[first.part].identity) {
                return outcome.fail(MergeFailure::PartChanged, "part " + firstPath + " changed while it was merged");
            }
            earlier = &other;
        }
        if (!buffers_) buffers_.reset(new std::uint8_t[2 * kComparePiece]);
        std::uint8_t* const a = buffers_.get();
        std::uint8_t* const b = a + kComparePiece;
        const std::uint64_t shorter = std::min(first.end - first.begin, again.end - again.begin);
        std::uint64_t differ = shorter;
        std::uint64_t skipFrom = 0, skipTo = 0;  // BGNSTR's payload, once its header is known to be the same
        for (std::uint64_t at = 0; at < shorter && differ == shorter; at += kComparePiece) {
            const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(shorter - at, kComparePiece));
            if (!earlier->readAt(first.begin + at, a, size, error)) return failRead(*earlier, error);
            if (!file->readAt(again.begin + at, b, size, error)) return failRead(*file, error);
            if (at == 0 && size >= kRecordHeaderSize && std::equal(a, a + kRecordHeaderSize, b)) {
                skipFrom = kRecordHeaderSize;
                skipTo = std::size_t{a[0]} << 8 | a[1];
            }
            for (std::size_t i = 0; i < size; ++i) {
                if (a[i] != b[i] && (at + i < skipFrom || at + i >= skipTo)) {
                    differ = at + i;
                    break;
                }
            }
        }
        if (differ == shorter && first.end - first.begin == again.end - again.begin) return true;
        const std::string where = first.part == again.part ? "twice in part " + firstPath
                                                           : "in part " + firstPath + " and again in part " +
                                                                 *parts_[again.part].path;
        return outcome.fail(MergeFailure::DuplicateStructure,
                            "structure \"" + name + "\" is defined " + where + " with other records: they differ at byte " +
                                std::to_string(differ) + " of the structure (byte " +
                                std::to_string(first.begin + differ) + " of the first, byte " +
                                std::to_string(again.begin + differ) + " of the second)");
    }

    // A reader of gzip part index for the comparisons, kept in slot, so that definitions met in order cost one
    // decompression of the part.
    struct KeptReader {
        std::size_t part = ~std::size_t{0};
        PartReader reader;
    };
    PartReader* compareReader(std::size_t index, KeptReader& slot) {
        if (slot.part == index) return &slot.reader;
        slot.part = ~std::size_t{0};
        std::string error;
        const std::string& path = *parts_[index].path;
        if (!slot.reader.open(path, error)) return outcome.fail(MergeFailure::Open, error), nullptr;
        if (slot.reader.identity() != parts_[index].identity) {
            return outcome.fail(MergeFailure::PartChanged, "part " + path + " changed while it was merged"), nullptr;
        }
        slot.part = index;
        return &slot.reader;
    }

    const std::vector<Part>& parts_;
    Progress& progress_;
    KeptReader currentCompare_;
    std::array<KeptReader, 4> earlierCompare_;
    const std::atomic<bool>* stopped_ = nullptr;
    std::unordered_map<std::string, Definition> firstDefined_;
    std::unique_ptr<std::uint8_t[]> buffers_;
};

class Merger {
public:
    Merger(const std::string& output, const std::vector<std::string>& paths) : output_(output) {
        std::transform(paths.begin(), paths.end(), std::back_inserter(parts_), [](const std::string& path) {
            return Part{&path, {}, 0, 0};
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
        Output out;
        if (!out.openBeside(output_)) {
            outcome_.fail(MergeFailure::Open, out.failure());
            return result();
        }
        if (!writeHead(out)) return result();
        if (merge::afterHead) merge::afterHead();

        Progress progress(parts_.size());
        std::atomic<bool> copyFailed{false};
        PartChecker checker(parts_, progress);
        checker.stopWhen(copyFailed);
        std::thread checking;
        try {
            checking = std::thread([&] { checker.checkAll(); });
        } catch (...) {
            checker.checkAll();  // no thread to be had: check first, then copy
        }
        const bool copied = copyAll(out, progress);
        if (!copied) copyFailed = true;
        if (checking.joinable()) checking.join();
        if (SignalGuard::interrupted()) {
            outcome_.fail(MergeFailure::Interrupted, "interrupted by a signal");
            return result();
        }
        if (checker.outcome.failure != MergeFailure::None) {
            outcome_ = std::move(checker.outcome);
            return result();
        }
        if (!copied) return result();

        std::uint8_t end[kEmptyRecordSize];
        RecordWriter(end).emptyRecord(Record::EndLib);
        if (!out.write(end, sizeof end) || !out.finish()) {
            outcome_.fail(MergeFailure::Write, out.failure());
            return result();
        }
        bytes_ = out.compressed() ? out.fileBytes() : bytes_ + sizeof end;
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
        const std::filesystem::path output = nativePath(output_.c_str());
        if (std::filesystem::is_directory(output, ignored)) {
            return outcome_.fail(MergeFailure::Open, "output " + output_ + " is a folder");
        }
        // Replacing a part with the merge would lose it if anything went wrong later, and a forgotten output
        // name makes the first part the output: refused either way.
        const auto same = std::find_if(parts_.begin(), parts_.end(), [&](const Part& part) {
            return std::filesystem::equivalent(output, nativePath(part.path->c_str()), ignored);
        });
        if (same != parts_.end()) {
            return outcome_.fail(MergeFailure::OutputIsPart, "output " + output_ + " is also the part " + *same->path);
        }
        return true;
    }

    // Reads a part's head and end before the output exists: a part that is no library, is cut short or
    // whose head differs is refused at once, and the copy learns where the structures lie.
    bool inspect(std::size_t index) {
        Part& part = parts_[index];
        const std::string& path = *part.path;
        if (path.find('\0') != std::string::npos) {
            return outcome_.fail(MergeFailure::Open, "the name of part " + std::to_string(index + 1) + " holds a NUL byte");
        }
        PartReader reader;
        std::string error;
        if (!reader.open(path, error)) return outcome_.fail(MergeFailure::Open, error);
        PartFile& file = reader.file();
        part.identity = file.identity();
        part.gzip = reader.gzip();
        PartScanner scanner;
        bool fed = true;
        for (std::size_t got = 1; fed && got > 0 && !scanner.headRead();) {
            got = reader.read(buffer_.get(), kHeadPiece, error);
            if (!error.empty()) {
                return outcome_.fail(reader.damaged() ? MergeFailure::NotALibrary : MergeFailure::Open, error);
            }
            fed = scanner.feed(buffer_.get(), got);
        }
        if (!fed || (!scanner.headRead() && !scanner.finish())) {
            return outcome_.fail(MergeFailure::NotALibrary, "part " + path + " is not a complete library: " +
                                                                scanner.error());
        }
        if (index == 0) {
            units_ = scanner.units();
            headRecords_ = scanner.headRecords();
        } else if (!sameUnits(scanner.units(), units_)) {
            return outcome_.fail(MergeFailure::UnitsDiffer, "part " + path + " has " +
                                                                describeUnits(scanner.units()) + ", part " +
                                                                *parts_[0].path + " has " + describeUnits(units_));
        } else if (const std::string record = firstDifferentRecord(scanner.headRecords(), headRecords_);
                   !record.empty()) {
            return outcome_.fail(MergeFailure::HeadDiffers, "part " + path + " and part " + *parts_[0].path +
                                                                " differ in their head at " + record +
                                                                " (the merge keeps such records only when every "
                                                                "part has the same)");
        }
        version_ = std::max(version_, scanner.version());
        part.bodyStart = scanner.bodyStart();
        if (part.gzip) {
            // Its end is found by the check, which reads it all.
            part.bodyEnd = ~std::uint64_t{0};
            return true;
        }
        if (!findEnd(file, part, error)) {
            if (!error.empty()) return outcome_.fail(MergeFailure::Open, error);
            // The checker walks the part to say where and how it went wrong.
            Progress progress(parts_.size());
            PartChecker checker(parts_, progress);
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

    bool writeHead(Output& out) {
        std::uint8_t* head = buffer_.get();
        RecordWriter records(head);
        putLibraryHead(records, version_, currentTimestamp(), output_.data(), output_.size(), realAt(units_, 0),
                       realAt(units_, 1), reinterpret_cast<const std::uint8_t*>(headRecords_.data()),
                       headRecords_.size());
        const auto size = static_cast<std::size_t>(records.position() - head);
        if (!out.write(head, size)) return outcome_.fail(MergeFailure::Write, out.failure());
        bytes_ = size;
        return true;
    }

    // Copies each part's structures as far as the check has come, leaving out the repeated ones.
    bool copyAll(Output& out, Progress& progress) {
        std::string error;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> skips;
        for (std::size_t index = 0; index < parts_.size(); ++index) {
            const Part& part = parts_[index];
            PartReader file;
            if (!file.open(*part.path, error)) return outcome_.fail(MergeFailure::Open, error);
            if (file.identity() != part.identity) {
                return outcome_.fail(MergeFailure::PartChanged, "part " + *part.path + " changed while it was merged");
            }
            // The kernel copies between plain files; bytes to decompress or compress pass through a buffer.
            const bool plain = !file.gzip() && !out.compressed();
            std::uint64_t end = part.bodyEnd;
            std::size_t skipped = 0;
            for (std::uint64_t at = part.bodyStart; at < end;) {
                const std::uint64_t allowed = std::min(progress.wait(index, at, skips, end), end);
                if (at >= end) break;
                if (allowed <= at) return false;  // the check failed, or a signal came
                while (at < allowed) {
                    if (SignalGuard::interrupted()) return false;
                    if (skipped < skips.size() && skips[skipped].first <= at) {
                        at = skips[skipped++].second;
                        continue;
                    }
                    std::uint64_t until = std::min(allowed, at + kCopySlice);
                    if (skipped < skips.size()) until = std::min(until, skips[skipped].first);
                    if (plain ? !out.file().copy(file.file(), at, until - at, error)
                              : !copyThroughBuffer(file, out, at, until - at, error)) {
                        return outcome_.fail(file.damaged() ? MergeFailure::NotALibrary : MergeFailure::Write, error);
                    }
                    bytes_ += until - at;
                    at = until;
                }
            }
            if (!file.unchanged(error)) return outcome_.fail(MergeFailure::PartChanged, error);
        }
        return true;
    }

    bool copyThroughBuffer(PartReader& file, Output& out, std::uint64_t at, std::uint64_t size, std::string& error) {
        while (size > 0) {
            const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, kPieceSize));
            if (!file.readAt(at, buffer_.get(), piece, error)) return false;
            if (!out.write(buffer_.get(), piece)) {
                error = out.failure();
                return false;
            }
            at += piece;
            size -= piece;
        }
        return true;
    }

    const std::string& output_;
    std::vector<Part> parts_;
    std::unique_ptr<std::uint8_t[]> buffer_{new std::uint8_t[kPieceSize]};
    std::string units_, headRecords_;
    std::uint16_t version_ = 0;
    Outcome outcome_;
    std::uint64_t bytes_ = 0, structures_ = 0;
};

}  // namespace

MergeResult merge_libraries(const std::string& output, const std::vector<std::string>& parts) noexcept {
    try {
        // Outlives the merge, whose temporary file is gone before a signal that came is delivered.
        const SignalGuard guard;
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
