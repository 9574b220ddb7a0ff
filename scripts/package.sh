#!/usr/bin/env bash
# Builds the packages a user installs, into build/packages/:
#   nelko-client-driver_VERSION_amd64.deb        Linux clients (FreeRDP 2 and 3)
#   NelkoClientDriver-VERSION-x64.msi and .zip    64-bit mstsc.exe
#   NelkoClientDriver-VERSION-x86.msi and .zip    32-bit clients
#   nelko-remote_VERSION_amd64.deb                the server side, for xrdp servers
#   nelko-remote-VERSION-x64.zip and -x86.zip     the server side, for Windows servers
# Installs the Debian packages it needs when they are missing (as root).
# Usage: scripts/package.sh [deb|windows]...   (default: both)
# The packages name the vendor, maintainer and licence of cmake/NelkoVendor.cmake; set
# NELKO_VENDOR, NELKO_MAINTAINER and NELKO_LICENSE_FILE to give your own.
source "$(dirname "$0")/preamble.sh"
set -e
out=$root/build/packages
kinds=("$@")
vendor=()
for setting in NELKO_VENDOR NELKO_MAINTAINER NELKO_LICENSE_FILE; do
  if [[ -n ${!setting:-} ]]; then vendor+=("-D$setting=${!setting}"); fi
done
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
    -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" "${vendor[@]}" >/dev/null
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
    if [[ ! -f $dir/CMakeCache.txt ]]; then
      cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo "${vendor[@]}" >/dev/null
    elif [[ ${#vendor[@]} -gt 0 ]]; then
      cmake -S "$root" -B "$dir" "${vendor[@]}" >/dev/null
    fi
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
