#!/usr/bin/env bash
# Exits 0 when this machine can execute 32-bit x86 programs, 1 with the reason on standard
# output when it cannot. A real probe: it writes a 96-byte static i386 ELF program that
# only calls exit(42) and runs it. Kernels built or booted without IA-32 emulation refuse
# it ("Exec format error"), whatever `uname -m` says; then 32-bit Wine cannot start either.
#
# Usage: can-run-32bit.sh [FOLDER]   (FOLDER for the probe file; default: $TMPDIR or /tmp,
#        which must allow execution)
set -u
dir=${1:-${TMPDIR:-/tmp}}
probe=$(mktemp "$dir/nelko-ia32-probe.XXXXXX") || { echo "cannot create a probe file in $dir"; exit 1; }
trap 'rm -f "$probe"' EXIT

# ELF header (52 bytes), one PT_LOAD program header (32 bytes) mapping the file at
# 0x08048000, then the code at 0x08048054: mov eax,1; mov ebx,42; int 0x80.
printf '%b' \
  '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
  '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
  '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
  '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
  '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"

output=$("$probe" 2>&1)
rc=$?
[[ $rc -eq 42 ]] && exit 0
reason=${output##*: }
echo "this kernel cannot execute 32-bit programs (${reason:-exit code $rc}; IA-32 emulation is off or missing)"
exit 1
