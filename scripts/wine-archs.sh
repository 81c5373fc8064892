#!/usr/bin/env bash
# Which Windows builds run under Wine on this host, and how.
#   wine-archs.sh test      every build the Wine tests run: win32 and win64
#   wine-archs.sh run       the one build `make run` and `make bench` start: win32
#                           where the host runs 32-bit programs, else win64
#   wine-archs.sh host      "yes" when the host runs 32-bit (i386) programs, else "no"
#   wine-archs.sh emulated  the builds that run through user-mode emulation: win32,
#                           when it runs, on a host that runs no 32-bit programs
#                           (its private 32-bit Wine comes from scripts/i386-wine.sh)
# WINE_ARCH=win32 or win64 forces the choice. HOST_RUNS_I386=yes or no stands
# in for the detection, so that the emulated path can be tried anywhere.
set -euo pipefail

# Runs a six-instruction i386 program that exits with 7: some kernels run no
# 32-bit programs at all (no ia32 emulation), whatever packages are installed.
detect_i386() {
  local dir status
  if ! command -v as >/dev/null || ! command -v ld >/dev/null; then
    echo "Telling whether this host runs 32-bit programs needs as and ld: install binutils." >&2
    exit 1
  fi
  dir=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1, %%eax\n movl $7, %%ebx\n int $0x80\n' > "$dir/probe.s"
  status=0
  if as --32 -o "$dir/probe.o" "$dir/probe.s" 2>/dev/null &&
     ld -m elf_i386 -o "$dir/probe" "$dir/probe.o" 2>/dev/null; then
    "$dir/probe" 2>/dev/null || status=$?
  fi
  rm -rf "$dir"
  [ "$status" -eq 7 ] && echo yes || echo no
}

host=${HOST_RUNS_I386:-$(detect_i386)}
case "$host" in
  yes|no) ;;
  *) echo "HOST_RUNS_I386 must be yes or no, not '$host'." >&2; exit 1 ;;
esac

# Timings under emulation mean nothing, so runs keep to the 64-bit build there.
case "${WINE_ARCH:-}" in
  "") test_archs="win32 win64"
      if [ "$host" = yes ]; then run_arch=win32; else run_arch=win64; fi ;;
  win32) test_archs=win32; run_arch=win32 ;;
  win64) test_archs=win64; run_arch=win64 ;;
  *) echo "WINE_ARCH must be win32 or win64, not '$WINE_ARCH'." >&2; exit 1 ;;
esac

case "${1:-}" in
  test) echo "$test_archs" ;;
  run) echo "$run_arch" ;;
  host) echo "$host" ;;
  emulated) if [ "$host" = no ] && [[ " $test_archs " == *" win32 "* ]]; then echo win32; else echo; fi ;;
  *) echo "usage: wine-archs.sh test|run|host|emulated" >&2; exit 2 ;;
esac
