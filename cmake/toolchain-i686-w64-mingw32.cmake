# Cross build for 32-bit Windows with mingw-w64 (Debian: g++-mingw-w64-i686-posix).
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
# Tests run under Wine through scripts/wine-run.sh (CMAKE_CROSSCOMPILING_EMULATOR); the
# 64-bit Wine prefix runs 32-bit programs when wine32:i386 is installed.
set(NELKO_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include("${CMAKE_CURRENT_LIST_DIR}/NelkoMinGWToolchain.cmake")
