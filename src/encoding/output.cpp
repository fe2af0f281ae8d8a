// SPDX-License-Identifier: MIT
#include "encoding/output.h"

#include <new>

namespace carvelle {

bool Output::prepare(const char* name) {
    discard();
    process_.take();
    failed_ = false;
    refusal_ = Refusal::None;
    if (hasOasisSuffix(name)) {
        oasis_.reset(new (std::nothrow) OasisStream(file_));
        if (oasis_ && oasis_->prepare(gzipThreadsFromEnvironment())) return true;
        oasis_.reset();
        refusal_ = Refusal::NoMemory;
        failed_ = true;
        return false;
    }
    if (!hasGzipSuffix(name)) return true;
    if (!gzipAvailable()) {
        refusal_ = Refusal::NoDeflate;
    } else {
        gzip_.reset(new (std::nothrow) GzipWriter(file_));
        if (gzip_ && gzip_->prepare(gzipThreadsFromEnvironment())) return true;
        gzip_.reset();
        refusal_ = Refusal::NoMemory;
    }
    failed_ = true;
    return false;
}

bool Output::open(const char* name) {
    if (!prepare(name)) return false;
    if (!file_.open(name)) {
        gzip_.reset();
        oasis_.reset();
        failed_ = true;
        return false;
    }
    if (gzip_) gzip_->start();
    if (oasis_) oasis_->start();
    return true;
}

bool Output::openBeside(const std::string& path) {
    path_ = path;
    if (!prepare(path.c_str())) return false;
    if (!file_.openBeside(path)) {
        gzip_.reset();
        oasis_.reset();
        failed_ = true;
        return false;
    }
    if (gzip_) gzip_->start();
    if (oasis_) oasis_->start();
    return true;
}

bool Output::finish() {
    if (process_.forked()) {
        abandon();
        return false;
    }
    // The workers are joined and the buffers freed before the close; a file
    // whose compression failed is not given its name.
    if (gzip_ && !gzip_->finish()) failed_ = true;
    if (oasis_ && !oasis_->finish()) failed_ = true;
    if (failed_) {
        file_.discard();
        return false;
    }
    if (!file_.close()) failed_ = true;
    return !failed_;
}

void Output::discard() {
    if (process_.forked()) {
        abandon();
        return;
    }
    gzip_.reset();
    oasis_.reset();
    file_.discard();
}

void Output::abandon() {
    if (gzip_) {
        gzip_->abandon();
        // Its threads and condition variables belong to the parent: a
        // destructor would join threads that do not exist here, or wait on
        // a condition variable's waiters for good.
        static_cast<void>(gzip_.release());
    }
    if (oasis_) oasis_->abandon();
    failed_ = true;
    file_.abandon();
}

std::string Output::failure() const {
    switch (refusal_) {
        case Refusal::NoDeflate:
            return "cannot create " + path_ + ": this build writes no gzip files";
        case Refusal::NoMemory:
            return "out of memory";
        case Refusal::None:
            break;
    }
    if (file_.failed()) return file_.failure();
    return failed_ ? "cannot compress " + path_ : std::string();
}

}  // namespace carvelle
