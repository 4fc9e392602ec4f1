#pragma once

#include <string>
#include <vector>

// The window as a module of its own (quelmar-window.so): the executable opens it only in its graphical mode, so
// that the command-line modes never load Qt's graphical libraries. The module takes every layer below the views
// from the executable that opens it.
namespace quelmar::WindowModule {

// Where the executable looks for the module: beside itself (a build tree), else in ../lib/quelmar/ (installed).
inline constexpr const char* fileName = "quelmar-window.so";
inline constexpr const char* installedFolder = "../lib/quelmar";
// The name of the one function it exports, of type Run.
inline constexpr const char* entryName = "quelmar_window_run";
using Run = int (*)(const std::vector<std::string>* arguments);

// The graphical start: the application, the controller on the process's boards, the window; returns the exit status
// once it has closed. The arguments are the process's (program path first).
int run(const std::vector<std::string>& arguments);

} // namespace quelmar::WindowModule
