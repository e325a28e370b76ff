# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix
# threads, for std::thread and friends); tests run under Wine.
#   -DLUMO_WINDOWS_KIT=<dir>   where scripts/windows-sdk.sh put Qt, SQLite
#                              and libmosquitto for Windows
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LUMO_WINDOWS_KIT)
if(LUMO_WINDOWS_KIT)
  list(APPEND CMAKE_FIND_ROOT_PATH "${LUMO_WINDOWS_KIT}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
# Tests are listed by running them, under Wine: when ctest runs, not while
# building.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
