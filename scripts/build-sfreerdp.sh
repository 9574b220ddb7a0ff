#!/usr/bin/env bash
# Builds a real FreeRDP 3 client for Windows (ARCH x86_64 or i686) with mingw-w64 from
# Debian's own source packages, OpenSSL linked in statically, so that the Windows DLL can be
# tried in a real client under Wine. Built once per machine and kept outside the clone in
# NELKO_SFREERDP_CACHE (default /var/cache/nelko/sfreerdp)/KEY/, KEY naming the bitness,
# both source versions and a hash of the build recipe; prints that program's path last.
#
# The program is FreeRDP's sample client (sfreerdp.exe), not its Windows client
# (wfreerdp.exe): Debian repacks FreeRDP without client/Windows (Files-Excluded in
# debian/copyright, freerdp2 and freerdp3 alike), so no Debian source holds the Windows
# client. The sample has the same connection, channel manager and add-in loader, no window.
#
# Usage: scripts/build-sfreerdp.sh x86_64|i686
# Environment: NELKO_SFREERDP_CACHE, NELKO_KEEP_BUILD=1 (keep the work folder of a failed
# build, for a look at its logs).
source "$(dirname "$0")/preamble.sh"
arch=${1:-}
case $arch in
  x86_64) openssl_target=(mingw64) freerdp_target=() ;;
  # OpenSSL's 32-bit assembler files take their addresses through the GOT, which the COFF
  # assembler of mingw-w64 cannot represent: C only there.
  # WinPR takes SSIZE_T from ssize_t where the C library has one; Windows' own SSIZE_T
  # (long) differs from mingw-w64's 32-bit ssize_t (int): WinPR is told to keep Windows'.
  i686) openssl_target=(mingw no-asm) freerdp_target=(-DHAVE_SSIZE_T=0 -DHAVE_WIN_SSIZE_T=1) ;;
  *) echo "usage: build-sfreerdp.sh x86_64|i686" >&2; exit 2 ;;
esac
triple=$arch-w64-mingw32
cache=${NELKO_SFREERDP_CACHE:-/var/cache/nelko/sfreerdp}
log() { echo "build-sfreerdp: $*" >&2; }

# Only what needs no library Debian lacks for mingw-w64 (codecs, Kerberos, smartcards):
# the client, its channels and TLS. Static libcrypto needs the first three system libraries;
# the rest are CMake's own defaults for Windows, which setting the list would drop.
system_libraries="-lcrypt32 -lws2_32 -lbcrypt -lkernel32 -luser32 -lgdi32 -lwinspool -lshell32 -lole32"
system_libraries+=" -loleaut32 -luuid -lcomdlg32 -ladvapi32"
freerdp_options=("${freerdp_target[@]}" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF
  -DWITH_SAMPLE=ON -DWITH_CLIENT_WINDOWS=OFF -DWITH_CLIENT_SDL=OFF -DWITH_SERVER=OFF -DWITH_SHADOW=OFF
  -DWITH_PROXY=OFF -DWITH_MANPAGES=OFF -DWITH_FFMPEG=OFF -DWITH_SWSCALE=OFF -DWITH_DSP_FFMPEG=OFF
  -DWITH_CAIRO=OFF -DWITH_JPEG=OFF -DWITH_OPENH264=OFF -DWITH_FAAD2=OFF -DWITH_FAAC=OFF -DWITH_SOXR=OFF
  -DWITH_LAME=OFF -DWITH_GSM=OFF -DWITH_OPUS=OFF -DWITH_KRB5=OFF -DWITH_PKCS11=OFF
  -DWITH_SMARTCARD_EMULATE=OFF -DWITH_WINPR_TOOLS=OFF -DWITH_FUSE=OFF -DWITH_URIPARSER=OFF
  -DWITH_WEBVIEW=OFF -DWITH_AAD=OFF -DCHANNEL_URBDRC=OFF -DUSE_UNWIND=OFF
  # Add-ins by their bare file name, so the DLL search order finds them (the exe's folder,
  # then the current one), not below an install prefix that means nothing on Windows.
  -DWITH_ADD_PLUGIN_TO_RPATH=ON
  -DOPENSSL_USE_STATIC_LIBS=ON "-DCMAKE_C_STANDARD_LIBRARIES=$system_libraries"
  "-DCMAKE_CXX_STANDARD_LIBRARIES=$system_libraries")
# GCC 14 (Debian 13) makes incompatible pointer types an error, and FreeRDP 3.15 assigns
# functions of its own Windows WTS API to the table of mingw-w64's slightly other types.
if (($("$triple-gcc" -dumpversion | sed "s/[^0-9].*//") >= 14)); then
  freerdp_options+=("-DCMAKE_C_FLAGS=-Wno-error=incompatible-pointer-types")
fi
openssl_options=("${openssl_target[@]}" "--cross-compile-prefix=$triple-" no-tests no-shared)

# FreeRDP builds its sample client everywhere but on Windows; the sample gives up where
# signal handlers cannot be had, which Windows never offers (errno ENOSYS), and never starts
# Windows sockets (WSAStartup), as FreeRDP's Windows clients do; and it ends at a dropped
# connection, where wfreerdp and xfreerdp reconnect (+auto-reconnect) in the same process
# with the same add-in: its loop is given their call.
adapt_freerdp() {  # adapt_freerdp SOURCE_FOLDER
  local sample=$1/client/Sample/tf_freerdp.c
  grep -q 'if (freerdp_handle_signals() != 0)' "$sample" && grep -q -P '^\t\tif \(!freerdp_check_event_handles\(instance->context\)\)$' "$sample" ||
    { log "the sample client's source is not as expected"; return 1; }
  sed -i -e '/if (freerdp_handle_signals() != 0)/i\
#ifdef _WIN32\
\tWSADATA wsaData;\
\tif (WSAStartup(MAKEWORD(2, 2), \&wsaData) != 0)\
\t\treturn FALSE;\
#endif' \
    -e 's/if (freerdp_handle_signals() != 0)/if (freerdp_handle_signals() != 0 \&\& errno != ENOSYS)/' \
    -e '/^\t\tif (!freerdp_check_event_handles(instance->context))$/{n;a\
\t\t\tif (client_auto_reconnect(instance))\
\t\t\t\tcontinue;
}' "$sample"
  echo $'if(WIN32 AND WITH_SAMPLE)\n  add_subdirectory(Sample)\nendif()' >>"$1/client/CMakeLists.txt"
}

bash scripts/install-deps.sh core windows sfreerdp >&2 || exit 1
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
# Where each source is taken from, in order: the release's own first, then a suite whose
# files this archive does have (a snapshot mirror, say, can lack the files of a suite whose
# index still lists them: bookworm-backports' freerdp3, trixie's and trixie-security's
# openssl here).
case $release in
  bookworm) freerdp_suites=(bookworm-backports trixie) openssl_suites=(bookworm-security bookworm) ;;
  *) freerdp_suites=("$release") openssl_suites=("$release-security" "$release" bookworm) ;;
esac

# A list and indexes of this script's own, so that the machine's apt setup stays as it is:
# deb-src for each suite wanted, with the URI and keyring of the machine's entry for it, or
# of the release's own entry; a security suite only where the machine has an entry for it.
declare -A entry=()
while read -r suite suite_uri suite_keyring; do entry[$suite]="$suite_uri $suite_keyring"; done < <(bash scripts/apt-suites.sh)
[[ -n ${entry[$release]:-} ]] || { log "no apt entry for '$release' to take the source packages' URI from"; exit 1; }
wanted=()
for suite in "${freerdp_suites[@]}" "${openssl_suites[@]}"; do
  [[ $suite == *-security && -z ${entry[$suite]:-} ]] || wanted+=("$suite")
done
apt_dir=$cache/apt
mkdir -p "$apt_dir/lists/partial"
for suite in "${wanted[@]}"; do
  read -r uri keyring <<<"${entry[$suite]:-${entry[$release]}}"
  signed_by=""
  [[ $keyring == - ]] || signed_by="[signed-by=$keyring] "
  echo "deb-src $signed_by$uri $suite main"
done | sort -u >"$apt_dir/sources.list.new"
apt=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o Dir::Etc::sourceparts=- -o "Dir::State::Lists=$apt_dir/lists")
if ! cmp -s "$apt_dir/sources.list.new" "$apt_dir/sources.list" || ! compgen -G "$apt_dir/lists/*Sources*" >/dev/null; then
  mv "$apt_dir/sources.list.new" "$apt_dir/sources.list"
  apt-get "${apt[@]}" update -qq >&2 || { log "apt-get update of the source indexes failed"; exit 1; }
fi
rm -f "$apt_dir/sources.list.new"

source_version() {  # source_version PACKAGE/SUITE
  apt-get "${apt[@]}" source --print-uris "$1" 2>/dev/null |
    sed -n "s/^'[^']*' [a-z0-9.+-]*_\([^ ]*\)\.dsc .*/\1/p" | head -n 1
}
# The versions each suite offers ("" where none or not wanted), and a program built from
# any pair of them earlier.
declare -A version=()
for suite in "${freerdp_suites[@]}"; do version[freerdp3/$suite]=$(source_version "freerdp3/$suite"); done
for suite in "${openssl_suites[@]}"; do
  version[openssl/$suite]=""
  [[ " ${wanted[*]} " == *" $suite "* ]] && version[openssl/$suite]=$(source_version "openssl/$suite")
done
# Any change of the options, of the source edits or of the toolchain builds anew.
options_hash=$({ printf '%s\n' "${openssl_options[@]}" "${freerdp_options[@]}"; declare -f adapt_freerdp
  cat cmake/NelkoMinGWToolchain.cmake "cmake/toolchain-$triple.cmake"; } | sha256sum | cut -c1-10)
key_of() { echo "$arch-freerdp_$1-openssl_$2-$options_hash"; }  # key_of FREERDP_VERSION OPENSSL_VERSION
for freerdp in "${freerdp_suites[@]}"; do
  for openssl in "${openssl_suites[@]}"; do
    [[ -n ${version[freerdp3/$freerdp]} && -n ${version[openssl/$openssl]} ]] || continue
    exe=$cache/$(key_of "${version[freerdp3/$freerdp]}" "${version[openssl/$openssl]}")/sfreerdp.exe
    [[ -f $exe ]] && { echo "$exe"; exit 0; }
  done
done

# Built in a folder of its own and moved into the cache whole: an interrupted build leaves
# nothing a later run would take for finished.
work=$(mktemp -d "$cache/.build-$arch.XXXXXX") || exit 1
built=""
trap 'if [[ -n $built || ${NELKO_KEEP_BUILD:-} != 1 ]]; then rm -rf "$work"; else log "kept $work"; fi' EXIT
start=$SECONDS

# Unpacked by hand, as dpkg-source would: an archive may lack a package's .dsc, while apt
# checks every file it does fetch against the signed index's hashes.
unpack() {  # unpack PACKAGE/SUITE FOLDER
  local package=${1%/*} download=$work/download-${1//\//-} orig debian patch
  mkdir -p "$download"
  (cd "$download" && apt-get "${apt[@]}" source --download-only -qq "$1") >>"$work/source.log" 2>&1
  orig=$(find "$download" -maxdepth 1 -name "${package}_*.orig.tar.*" ! -name '*.asc' | head -n 1)
  debian=$(find "$download" -maxdepth 1 -name "${package}_*.debian.tar.*" | head -n 1)
  [[ -n $orig && -n $debian ]] || return 1
  mkdir -p "$2" && tar -xf "$orig" -C "$2" --strip-components=1 && tar -xf "$debian" -C "$2" || return 1
  [[ -f $2/debian/patches/series ]] || return 0
  while read -r patch _; do
    [[ -z $patch || $patch == \#* ]] && continue
    patch -d "$2" -p1 -s -N <"$2/debian/patches/$patch" || { log "patch $patch of $package failed"; return 1; }
  done <"$2/debian/patches/series"
}
# Sets SOURCE_SUITE to the first of the suites whose source of PACKAGE could be unpacked.
unpack_first() {  # unpack_first PACKAGE FOLDER SUITE...
  local package=$1 folder=$2 suite
  shift 2
  source_suite=""
  for suite in "$@"; do
    [[ -n ${version[$package/$suite]} ]] || continue
    rm -rf "$folder"
    if unpack "$package/$suite" "$folder"; then source_suite=$suite; return 0; fi
    log "$package ${version[$package/$suite]} ($suite) cannot be fetched; trying the next suite"
  done
  log "no source of $package to be had:"
  tail -n 5 "$work/source.log" >&2
  return 1
}
unpack_first openssl "$work/openssl-source" "${openssl_suites[@]}" || exit 1
openssl_version=${version[openssl/$source_suite]}
unpack_first freerdp3 "$work/freerdp-source" "${freerdp_suites[@]}" || exit 1
freerdp_version=${version[freerdp3/$source_suite]}
adapt_freerdp "$work/freerdp-source" || exit 1
key=$(key_of "$freerdp_version" "$openssl_version")
log "building sfreerdp.exe ($arch; FreeRDP $freerdp_version, OpenSSL $openssl_version) in $work;" \
  "sources ready after $((SECONDS - start)) s"

step=$SECONDS
(cd "$work/openssl-source" && ./Configure "${openssl_options[@]}" --prefix="$work/openssl" --libdir=lib &&
  make -j"$jobs" build_libs && make install_dev) >"$work/openssl.log" 2>&1 ||
  { tail -n 40 "$work/openssl.log" >&2; log "OpenSSL failed, log $work/openssl.log"; exit 1; }
log "OpenSSL built in $((SECONDS - step)) s"

step=$SECONDS
# The project's own toolchain (static runtime, mingw-w64 search paths), told where OpenSSL is.
cat >"$work/toolchain.cmake" <<TOOLCHAIN
include("$root/cmake/toolchain-$triple.cmake")
list(APPEND CMAKE_FIND_ROOT_PATH "$work/openssl")
set(OPENSSL_ROOT_DIR "$work/openssl")
TOOLCHAIN
(cmake -S "$work/freerdp-source" -B "$work/freerdp" -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
  "${freerdp_options[@]}" && cmake --build "$work/freerdp" -j"$jobs" --target sfreerdp) >"$work/freerdp.log" 2>&1 ||
  { tail -n 40 "$work/freerdp.log" >&2; log "FreeRDP failed, log $work/freerdp.log"; exit 1; }
built=$(find "$work/freerdp" -name sfreerdp.exe -type f | head -n 1)
[[ -n $built ]] || { log "the build made no sfreerdp.exe"; exit 1; }
log "FreeRDP built in $((SECONDS - step)) s"

mkdir -p "$work/result"
"$triple-strip" -o "$work/result/sfreerdp.exe" "$built" || exit 1
rm -rf "${cache:?}/$key"
mv "$work/result" "$cache/$key" || exit 1
log "done in $((SECONDS - start)) s: $(du -sh "$cache/$key" | cut -f1) in $cache/$key"
echo "$cache/$key/sfreerdp.exe"
