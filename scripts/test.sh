#!/usr/bin/env bash
# Runs every test: the host build (OS-free code and tools under AddressSanitizer and
# UndefinedBehaviorSanitizer), the Win32 build under Wine (unit, end-to-end and image
# tests), the Win32 unit tests as 64-bit programs (win64-check), the check that two checkouts
# of HEAD build the same Setup.exe, and the fuzzers for a bounded time. Prints each runner's
# closing lines.
#   scripts/test.sh            everything
#   OLVAN_SKIP_FUZZ=1 scripts/test.sh   without the fuzzers
#   OLVAN_SKIP_REPRO=1 scripts/test.sh  without the two-checkout build of the committed HEAD
[ "${1:-}" != --help ] || { while IFS= read -r l && [ "${l:0:1}" = "#" ]; do [ "${l:1:1}" = "!" ] || printf '%s\n' "${l:2}"; done < "$0"; exit 0; }
set -uo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
  scripts/setup-machine.sh || exit 1
fi

JOBS=${OLVAN_JOBS:-2}
status=0
summary=()

step() {  # name, command...
  local name=$1; shift
  local log="build/logs/$name.log"
  mkdir -p build/logs
  echo "== $name"
  local rc=0
  "$@" >"$log" 2>&1 || rc=$?
  if [ $rc -eq 0 ]; then
    summary+=("$name: ok")
  else
    summary+=("$name: FAILED (see $log)")
    status=1
    tail -n 60 "$log"
  fi
  # The runner's closing lines.
  grep -E '^(100%|[0-9]+% tests passed|Total Test time|The following tests FAILED|[[:space:]]+[0-9]+ - )|^(fuzz:|same:|DIFFERENT:|commit )' "$log" || true
  return $rc
}

# A configuration that does not build is not tested (its failure is already counted).
if step build-host bash -c "cmake --preset host >/dev/null && cmake --build --preset host -j$JOBS"; then
  step test-host ctest --preset host -j"$JOBS"
fi
if step build-win32 bash -c "cmake --preset win32 >/dev/null && cmake --build --preset win32 -j$JOBS"; then
  # One Wine test at a time, and the heavy ones (the unpacker sweep) in a prefix of their
  # own: windows started in a prefix that the sweep has flooded were seen to hang.
  # On a kernel without IA-32 emulation with-wine.sh hands Wine's 32-bit loader to qemu-i386.
  step test-win32 scripts/with-wine.sh ctest --preset win32 -j1 -LE heavy
  step test-win32-heavy scripts/with-wine.sh ctest --preset win32 -j1 -L heavy
fi
# The win64-check configuration: the same Win32 sources and unit test programs built as x86_64
# programs and run under Wine's 64-bit loader, for faults that only one of the two builds
# shows (pointer sizes, the registry views). It tests the sources, not the shipped i686
# Setup.exe, and has no end-to-end tests.
if step build-win64-check bash -c "cmake --preset win64-check >/dev/null && cmake --build --preset win64-check -j$JOBS"; then
  step test-win64-check env OLVAN_WINE_64_ONLY=1 scripts/with-wine.sh ctest --preset win64-check -j1 -LE heavy
fi
if [ -z "${OLVAN_SKIP_REPRO:-}" ]; then
  step reproducible scripts/check-reproducible.sh
fi
if [ -z "${OLVAN_SKIP_FUZZ:-}" ] && [ -x scripts/fuzz.sh ]; then
  step fuzz scripts/fuzz.sh
fi

echo
echo "== Summary"
printf '%s\n' "${summary[@]}"
[ -f build/win32/Setup.exe ] && echo "Setup.exe: $(stat -c %s build/win32/Setup.exe) bytes (package offset 530000)"
exit $status
