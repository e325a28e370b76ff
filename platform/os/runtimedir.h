#pragma once
// The directory where this user's single-copy locks live, one side per
// operating system (runtimedir_posix.cpp, runtimedir_win.cpp). Plain C++,
// UTF-8 paths.

#include <string>

namespace lumo {

// Made if need be; empty when no directory that only this user can write
// can be had (the program then runs unguarded rather than refuse to run).
std::string userRuntimeDirectory();

}  // namespace lumo
