// SPDX-License-Identifier: MIT
// Runs the carvelle-info program as a shell would, on files built by the test in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include "gds_test_support.h"

namespace gdstest {

struct Outcome {
    int status;  // the exit status, or -1 when the program died by a signal
    std::string out, err;
};

class InfoTool : public ::testing::Test {
protected:
    // environment: NAME=VALUE words that go before the program on the command line.
    Outcome run(const std::string& arguments, const std::string& environment = "") {
        const std::string out = dir.file("stdout"), err = dir.file("stderr");
        const int status =
            std::system((environment + " " + CARVELLE_INFO + " " + arguments + " >" + out + " 2>" + err).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(out), read(err)};
    }
    static std::string read(const std::string& path) {
        std::ostringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    }
    std::string write(const std::string& name, const Bytes& bytes) {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    TempDir dir;
};

}  // namespace gdstest
