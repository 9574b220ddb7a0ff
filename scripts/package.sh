#!/usr/bin/env bash
# Builds the packages a user installs, into build/packages/:
#   nelko-client-driver_VERSION_amd64.deb        Linux clients (FreeRDP 2 and 3)
#   NelkoClientDriver-VERSION-x64.msi and .zip    64-bit mstsc.exe
#   NelkoClientDriver-VERSION-x86.msi and .zip    32-bit clients
#   nelko-remote_VERSION_amd64.deb                the server side, for xrdp servers
#   nelko-remote-VERSION-x64.zip and -x86.zip     the server side, for Windows servers
# Installs the Debian packages it needs when they are missing (as root).
# Usage: scripts/package.sh [deb|windows]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${NELKO_JOBS:-$(nproc)}
out=$root/build/packages
kinds=("$@")
[[ ${#kinds[@]} -gt 0 ]] || kinds=(deb windows)

deb() {
  bash scripts/install-deps.sh core package
  local dir=$root/build/package
  # Built like a Debian package: system prefix, Debian's compiler and linker flags with every
  # hardening option (the preprocessor flags too, which CMake does not read by itself).
  # Given on every configuration: CMake reads the flags' environment variables only once.
  flag() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
  local cppflags ldflags
  # The trace log's first line names the build date and time on purpose.
  cppflags=$(flag CPPFLAGS | sed 's/-Wdate-time//')
  ldflags=$(flag LDFLAGS)
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr -DNELKO_BUILD_TESTS=OFF \
    -DCMAKE_C_FLAGS="$(flag CFLAGS) $cppflags" -DCMAKE_CXX_FLAGS="$(flag CXXFLAGS) $cppflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
    -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && cpack -B "$dir/cpack" >/dev/null)
  mkdir -p "$out"
  rm -f "$out"/*.deb
  cp "$dir"/packages/*.deb "$out/"
}

# The Windows builds are the test command's own folders: packaging adds nothing to compile.
windows() {
  bash scripts/install-deps.sh core windows package
  local arch dir
  rm -f "$out"/*.msi "$out"/*.zip
  for arch in x86_64 i686; do
    dir=$root/build/win-$arch
    [[ -f $dir/CMakeCache.txt ]] ||
      cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$dir" -j"$jobs" --target nelko_windows_packages
    mkdir -p "$out"
    cp "$dir"/packages/*.msi "$dir"/packages/*.zip "$out/"
  done
}

for kind in "${kinds[@]}"; do
  case $kind in
    deb | windows) "$kind" ;;
    *) echo "package: unknown kind '$kind' (deb, windows)" >&2; exit 2 ;;
  esac
done
ls -l "$out"
