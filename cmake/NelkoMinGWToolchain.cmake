# Shared part of toolchain-i686-w64-mingw32.cmake and toolchain-x86_64-w64-mingw32.cmake;
# those set NELKO_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR, then include this file.
if(NOT NELKO_MINGW_TRIPLE)
  message(FATAL_ERROR "Use toolchain-i686-w64-mingw32.cmake or toolchain-x86_64-w64-mingw32.cmake")
endif()

set(CMAKE_SYSTEM_NAME Windows)

# The -posix variants use the winpthreads thread model (std::thread, std::mutex).
set(CMAKE_C_COMPILER ${NELKO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NELKO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NELKO_MINGW_TRIPLE}-windres)
# windres runs "<triple>-gcc" as preprocessor, an alternatives link that may be missing or
# point at the win32 variant; name it. A custom preprocessor needs windres' default
# arguments spelled out.
set(CMAKE_RC_FLAGS_INIT
  "--preprocessor=${NELKO_MINGW_TRIPLE}-gcc-posix --preprocessor-arg=-E --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED")

# Every exe and dll imports system DLLs only: no libgcc_s, libstdc++ or libwinpthread DLLs.
set(_nelko_static_link "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_nelko_static_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_nelko_static_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_nelko_static_link}")
unset(_nelko_static_link)

# Test programs (add_test, gtest_discover_tests, try_run) run under Wine.
get_filename_component(_nelko_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_nelko_root}/scripts/wine-run.sh"
  CACHE FILEPATH "Runs the Windows test programs (Wine)")
unset(_nelko_root)

# Look for libraries, headers and packages in the mingw-w64 tree only, never in the Linux
# system; programs (tools run at build time) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${NELKO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY ON)
set(CMAKE_FIND_PACKAGE_NO_SYSTEM_PACKAGE_REGISTRY ON)
# pkg-config sees the mingw-w64 .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/${NELKO_MINGW_TRIPLE}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Boost: Debian's headers through a build-local link folder (not inside try_compile).
get_property(_nelko_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT _nelko_in_try_compile)
  include("${CMAKE_CURRENT_LIST_DIR}/NelkoBoostHeaders.cmake")
endif()
unset(_nelko_in_try_compile)
