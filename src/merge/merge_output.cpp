// SPDX-License-Identifier: MIT
#include "merge/merge_output.h"

namespace carvelle::merge {

bool Output::create(const std::string& path, std::string& error) {
    const bool compressed = hasGzipSuffix(path.c_str());
    if (compressed && !gzipAvailable()) {
        error = "cannot create " + path + ": this build writes no gzip files";
        return false;
    }
    if (!file_.create(path, error)) return false;
    if (compressed) {
        path_ = path;
        gzip_ = std::make_unique<GzipWriter>(GzipWriter::Sink{&Output::put, this}, gzipThreadsFromEnvironment());
        gzip_->start();
    }
    return true;
}

bool Output::complete(std::string& error) {
    if (gzip_ && !gzip_->finish()) return failed(error);
    return file_.complete(error);
}

bool Output::put(void* context, const void* data, std::size_t size) {
    auto& self = *static_cast<Output*>(context);
    self.written_ += size;
    return self.file_.write(static_cast<const std::uint8_t*>(data), size, self.writeError_);
}

bool Output::failed(std::string& error) {
    gzip_->finish();  // joins the threads: the error is ours to read
    error = writeError_.empty() ? "cannot compress " + path_ : writeError_;
    return false;
}

}  // namespace carvelle::merge
