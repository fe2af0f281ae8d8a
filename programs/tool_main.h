// SPDX-License-Identifier: MIT
#pragma once

// The entry point of the command-line tools (tool_main.cpp): each tool
// defines runTool, which takes its arguments as UTF-8 on every platform.
int runTool(int argc, const char* const* argv);
