// SPDX-License-Identifier: MIT
// The merge as one operation: the parts' heads, first structures and ends read before the output exists, then
// the copy of their structures beside the check of every record (on a thread of its own), then ENDLIB; or, for
// an .oas output, their elements replayed through the library's OASIS writer in place of the copy.
#include "carvelle_merge.hpp"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iterator>
#include <memory>
#include <thread>

#include "encoding/library_head.h"
#include "encoding/output.h"
#include "encoding/real8.h"
#include "encoding/record_writer.h"
#include "merge/klayout_context.h"
#include "merge/merge_outcome.h"
#include "merge/merge_part.h"
#include "merge/oasis_converter.h"
#include "merge/part_checker.h"
#include "merge/part_head.h"
#include "merge/part_reader.h"
#include "merge/part_scanner.h"
#include "merge/progress.h"
#include "platform/platform.h"

namespace carvelle {
namespace merge {

void (*afterHead)() = nullptr;
void (*beforeCopy)(std::size_t) = nullptr;
void (*beforeCheck)(std::size_t) = nullptr;

namespace {

// The buffer of the head and end reads.
constexpr std::size_t kPieceSize = std::size_t{1} << 20;
// A part's end is sought backwards from a small piece, since little or no NUL padding follows ENDLIB; its head
// (a few hundred bytes, unless another writer's head records are long) is read in pieces of this size too.
constexpr std::size_t kFirstEndPiece = std::size_t{4} << 10;
constexpr std::size_t kHeadPiece = kFirstEndPiece;
// The copy checks between slices whether the check of the parts has failed or a signal came.
constexpr std::uint64_t kCopySlice = std::uint64_t{64} << 20;

class Merger {
public:
    Merger(const std::string& output, const std::vector<std::string>& paths) : output_(output) {
        std::transform(paths.begin(), paths.end(), std::back_inserter(parts_), [](const std::string& path) {
            return Part{&path, {}, 0, 0, false, 0, 0};
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
        // An OASIS output: each part's structures replayed through the library's writer instead of copied.
        const bool oasis = hasOasisSuffix(output_.c_str());
        std::unique_ptr<OasisConverter> converter;
        Output out;
        if (oasis) {
            converter.reset(new OasisConverter);
            if (!converter->open(output_, fromReal8(unitAt(units_, 1)))) {
                outcome_.fail(converter->writeFailed() ? MergeFailure::Open : MergeFailure::NotInOasis,
                              converter->error());
                return result();
            }
        } else {
            if (!out.openBeside(output_)) {
                outcome_.fail(MergeFailure::Open, out.failure());
                return result();
            }
            if (!writeHead(out)) return result();
        }
        if (afterHead) afterHead();

        Progress progress(parts_.size());
        std::atomic<bool> copyFailed{false};
        for (std::size_t index = 0; index < parts_.size(); ++index) {
            // Written already, joined, with the head.
            if (parts_[index].hasContext()) progress.skip(index, parts_[index].contextBegin, parts_[index].contextEnd);
        }
        PartChecker checker(parts_, progress);
        checker.stopWhen(copyFailed);
        checker.contextWritten(!context_.empty());
        std::thread checking;
        try {
            checking = std::thread([&] { checker.checkAll(); });
        } catch (...) {
            checker.checkAll();  // no thread to be had: check first, then copy
        }
        const bool copied = oasis ? convertAll(*converter, progress) : copyAll(out, progress);
        if (!copied) copyFailed = true;
        if (checking.joinable()) checking.join();
        // A failed merge leaves no output: the OASIS writer's temporary file goes with it.
        if (oasis && (!copied || SignalGuard::interrupted() || checker.outcome.failure != MergeFailure::None)) {
            converter->abandon();
        }
        if (SignalGuard::interrupted()) {
            outcome_.fail(MergeFailure::Interrupted, "interrupted by a signal");
            return result();
        }
        if (checker.outcome.failure != MergeFailure::None) {
            outcome_ = std::move(checker.outcome);
            return result();
        }
        if (!copied) return result();
        if (oasis) {
            if (!converter->finish()) {
                outcome_.fail(MergeFailure::Write, converter->error());
                return result();
            }
            std::error_code ignored;
            bytes_ = std::filesystem::file_size(nativePath(output_.c_str()), ignored);
            structures_ = checker.structures();
            return result();
        }

        std::uint8_t end[kEmptyRecordSize];
        RecordWriter(end).emptyRecord(Record::EndLib);
        if (!out.write(end, sizeof end) || !out.finish()) {
            outcome_.fail(MergeFailure::Write, out.failure());
            return result();
        }
        bytes_ = out.compressed() ? out.fileBytes() : bytes_ + sizeof end;
        structures_ = checker.structures() + (context_.empty() ? 0 : 1);
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
        // The same file twice would give each of its structures twice: the second name is a slip.
        for (std::size_t earlier = 0; earlier < index; ++earlier) {
            const FileIdentity& seen = parts_[earlier].identity;
            if (seen.device == part.identity.device && seen.file == part.identity.file) {
                return outcome_.fail(MergeFailure::PartRepeated, "part " + path + " is the same file as part " +
                                                                     *parts_[earlier].path +
                                                                     ": a part may be given once only");
            }
        }
        // The head, and the first structure as far as its name, or whole if it is KLayout's context.
        PartScanner scanner;
        FirstStructure first;
        scanner.visit(&first);
        bool fed = true;
        auto enough = [&] {
            return scanner.headRead() && (first.decided() || (!scanner.inStructure() && scanner.offset() > scanner.bodyStart()));
        };
        for (std::size_t got = 1; fed && got > 0 && !enough();) {
            got = reader.read(buffer_.get(), kHeadPiece, error);
            if (!error.empty()) {
                if (!unchanged(reader, part, outcome_)) return false;
                return outcome_.fail(reader.damaged() ? MergeFailure::NotALibrary : MergeFailure::Open, error);
            }
            fed = scanner.feed(buffer_.get(), got);
            scanner.structures().clear();
        }
        if (!fed || (!scanner.headRead() && !scanner.finish())) {
            if (!unchanged(reader, part, outcome_)) return false;
            return outcome_.fail(MergeFailure::NotALibrary, "part " + path + " is not a complete library: " +
                                                                scanner.error());
        }
        if (index == 0) {
            units_ = scanner.units();
            nameRecords_ = scanner.nameRecords();
            headRecords_ = scanner.headRecords();
        } else if (!sameUnits(scanner.units(), units_)) {
            return outcome_.fail(MergeFailure::UnitsDiffer, "UNITS differ: part " + path + " has " +
                                                                describeUnits(scanner.units()) + ";\n  part " +
                                                                *parts_[0].path + " has " + describeUnits(units_));
        } else if (std::string record = firstDifferentRecord(scanner.nameRecords(), nameRecords_);
                   !record.empty() || !(record = firstDifferentRecord(scanner.headRecords(), headRecords_)).empty()) {
            return outcome_.fail(MergeFailure::HeadDiffers, "part " + path + " and part " + *parts_[0].path +
                                                                " differ in their head at " + record +
                                                                " (the merge keeps such records only when every "
                                                                "part has the same)");
        }
        if (first.isContext()) {
            bool disagree = false;
            if (!context_.add(first.bytes(), path, error, disagree)) {
                return outcome_.fail(disagree ? MergeFailure::DuplicateStructure : MergeFailure::NotALibrary, error);
            }
            part.contextBegin = first.begin();
            part.contextEnd = first.begin() + first.bytes().size();
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

    // The head, and the parts' contexts joined, which KLayout reads only as the first structure.
    bool writeHead(Output& out) {
        std::uint8_t* head = buffer_.get();
        RecordWriter records(head);
        putLibraryHead(records, version_, LibraryClock::fromEnvironment().now(), output_.data(), output_.size(), unitAt(units_, 0),
                       unitAt(units_, 1), reinterpret_cast<const std::uint8_t*>(headRecords_.data()),
                       headRecords_.size(), reinterpret_cast<const std::uint8_t*>(nameRecords_.data()),
                       nameRecords_.size());
        const auto size = static_cast<std::size_t>(records.position() - head);
        if (!out.write(head, size)) return outcome_.fail(MergeFailure::Write, out.failure());
        bytes_ = size;
        if (!context_.empty()) {
            const std::string context = context_.bytes();
            if (!out.write(context.data(), context.size())) return outcome_.fail(MergeFailure::Write, out.failure());
            bytes_ += context.size();
        }
        return true;
    }

    // Copies each part's structures as far as the check has come, leaving out the repeated ones.
    bool copyAll(Output& out, Progress& progress) {
        std::string error;
        return walkParts(
            progress, kCopySlice, [](PartReader&, const Part&) {}, [](std::uint64_t) {},
            [&](PartReader& file, const Part& part, std::uint64_t at, std::uint64_t until) {
                // The kernel copies between plain files; bytes to decompress or compress pass through a buffer.
                const bool plain = !file.gzip() && !out.compressed();
                if (plain ? !out.file().copy(file.file(), at, until - at, error)
                          : !copyThroughBuffer(file, out, at, until - at, error)) {
                    return failCopy(file, part, out, error);
                }
                bytes_ += until - at;
                return true;
            });
    }

    // Replays each part's structures through the OASIS writer as far as the check has come, leaving out the
    // repeated ones and the contexts (KLayout's context cell is GDSII's; an OASIS file keeps none).
    bool convertAll(OasisConverter& converter, Progress& progress) {
        std::string error;
        return walkParts(
            progress, kPieceSize,
            [&](PartReader&, const Part& part) { converter.startPart(*part.path, part.bodyStart); },
            [&](std::uint64_t at) { converter.skipTo(at); },
            [&](PartReader& file, const Part& part, std::uint64_t at, std::uint64_t until) {
                const auto piece = static_cast<std::size_t>(until - at);
                if (!file.readAt(at, buffer_.get(), piece, error)) {
                    if (!unchanged(file, part, outcome_)) return false;
                    return outcome_.fail(file.damaged() ? MergeFailure::NotALibrary : MergeFailure::Open, error);
                }
                if (!converter.feed(buffer_.get(), piece)) {
                    if (!unchanged(file, part, outcome_)) return false;
                    return outcome_.fail(converter.writeFailed() ? MergeFailure::Write : MergeFailure::NotInOasis,
                                         converter.error());
                }
                return true;
            });
    }

    // Walks each part's structures as far as the check has come, leaving out the repeated ones: begin(file, part)
    // once a part is open, skip(at) past each left-out span, and take(file, part, at, until) for each run of at
    // most slice bytes, which returns false (having recorded why) to end the walk.
    template <typename Begin, typename Skip, typename Take>
    bool walkParts(Progress& progress, std::uint64_t slice, Begin begin, Skip skip, Take take) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> skips;
        for (std::size_t index = 0; index < parts_.size(); ++index) {
            const Part& part = parts_[index];
            PartReader file;
            if (!reopen(file, part, outcome_)) return false;
            std::uint64_t end = part.bodyEnd;
            if (beforeCopy) {
                // Once the check is through with the part: a change made there is met by the copy alone.
                std::uint64_t checkedEnd = end;
                progress.wait(index, ~std::uint64_t{0} - 1, skips, checkedEnd);
                beforeCopy(index);
            }
            begin(file, part);
            std::size_t skipped = 0;
            for (std::uint64_t at = part.bodyStart; at < end;) {
                const std::uint64_t allowed = std::min(progress.wait(index, at, skips, end), end);
                if (at >= end) break;
                if (allowed <= at) return false;  // the check failed, or a signal came
                while (at < allowed) {
                    if (SignalGuard::interrupted()) return false;
                    if (skipped < skips.size() && skips[skipped].first <= at) {
                        at = skips[skipped++].second;
                        skip(at);
                        continue;
                    }
                    std::uint64_t until = std::min(allowed, at + slice);
                    if (skipped < skips.size()) until = std::min(until, skips[skipped].first);
                    if (!take(file, part, at, until)) return false;
                    at = until;
                }
            }
            if (!unchanged(file, part, outcome_)) return false;
        }
        return true;
    }

    // A copy that failed: a part cut or rewritten meanwhile reads short or as damage, so that comes first; then
    // the output's own failure, then the part's.
    bool failCopy(PartReader& file, const Part& part, Output& out, const std::string& error) {
        if (!unchanged(file, part, outcome_)) return false;
        if (out.file().failed() || writeFailed_) return outcome_.fail(MergeFailure::Write, out.failure());
        return outcome_.fail(file.damaged() ? MergeFailure::NotALibrary : MergeFailure::Open, error);
    }

    bool copyThroughBuffer(PartReader& file, Output& out, std::uint64_t at, std::uint64_t size, std::string& error) {
        while (size > 0) {
            const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, kPieceSize));
            if (!file.readAt(at, buffer_.get(), piece, error)) return false;
            if (!out.write(buffer_.get(), piece)) {
                writeFailed_ = true;
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
    std::string units_, nameRecords_, headRecords_;
    ContextJoin context_;
    std::uint16_t version_ = 0;
    Outcome outcome_;
    std::uint64_t bytes_ = 0, structures_ = 0;
    bool writeFailed_ = false;  // by the copy through the buffer
};

}  // namespace
}  // namespace merge

MergeResult merge_libraries(const std::string& output, const std::vector<std::string>& parts) noexcept {
    try {
        // Outlives the merge, whose temporary file is gone before a signal that came is delivered.
        const SignalGuard guard;
        return merge::Merger(output, parts).run();
    } catch (...) {
        merge::Outcome outcome;
        outcome.outOfMemory();
        MergeResult result;
        result.failure = outcome.failure;
        result.message.swap(outcome.message);
        return result;
    }
}

}  // namespace carvelle
