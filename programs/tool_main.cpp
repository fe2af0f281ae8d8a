// SPDX-License-Identifier: MIT
#include "tool_main.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

// The narrow arguments of main hold names in the ANSI code page, where a name beyond it is lost before any code
// of ours sees it: the wide ones go on as UTF-8, which the tools open through the wide calls.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> utf8(static_cast<std::size_t>(argc));
    std::vector<const char*> pointers(static_cast<std::size_t>(argc) + 1, nullptr);
    for (int i = 0; i < argc; ++i) {
        std::string& text = utf8[static_cast<std::size_t>(i)];
        const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        text.resize(size > 0 ? static_cast<std::size_t>(size) : 1);
        if (size > 0) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text.data(), size, nullptr, nullptr);
        text.resize(std::strlen(text.c_str()));
        pointers[static_cast<std::size_t>(i)] = text.c_str();
    }
    return runTool(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return runTool(argc, argv); }
#endif
