#!/usr/bin/env bash
# Runs every test: the host build (OS-free code and tools under AddressSanitizer and
# UndefinedBehaviorSanitizer), the Win32 build under Wine (unit, end-to-end and image
# tests), the Win32 unit tests as 64-bit programs (win64-check), the check that two checkouts
# of HEAD build the same Setup.exe, and the fuzzers for a bounded time. Prints each runner's
# closing lines.
#   scripts/test.sh            everything
#   OLVAN_SKIP_FUZZ=1 scripts/test.sh   without the fuzzers
#   OLVAN_WINE_QEMU=1 scripts/test.sh   the i686 Wine suites even where the kernel cannot run
#                                       i386 programs (through qemu-i386: slow)
#   OLVAN_SKIP_REPRO=1 scripts/test.sh  without the two-checkout build of the committed HEAD
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
  # Wine's 32-bit loader is a Linux i386 program. A kernel without IA-32 emulation cannot
  # run it; with-wine.sh can hand it to qemu-i386, but there every Wine process costs a
  # minute or more, too slow for the whole suite: then these suites are skipped, loudly,
  # unless OLVAN_WINE_QEMU=1 asks for them anyway.
  if /usr/lib/wine/wine --version >/dev/null 2>&1 || [ -n "${OLVAN_WINE_QEMU:-}" ]; then
    step test-win32 scripts/with-wine.sh ctest --preset win32 -j1 -LE heavy
    step test-win32-heavy scripts/with-wine.sh ctest --preset win32 -j1 -L heavy
  else
    echo "== test-win32, test-win32-heavy: SKIPPED: this kernel cannot run i386 programs" \
         "(Wine's 32-bit loader); OLVAN_WINE_QEMU=1 runs them through qemu-i386 (slow)"
    summary+=("test-win32: SKIPPED (kernel without IA-32 emulation)")
    summary+=("test-win32-heavy: SKIPPED (kernel without IA-32 emulation)")
    # The image checks read the PE file and need no Wine.
    step test-win32-image ctest --preset win32 -R '^setup_image_test$'
  fi
fi
# The win64-check configuration: the same Win32 sources and unit test programs built as x86_64
# programs and run under Wine's 64-bit loader. It stands in for the i686 Wine tests where the
# kernel cannot run 32-bit Linux programs (no IA-32 emulation: Wine's 32-bit loader does not
# start); it tests the sources, not the shipped i686 Setup.exe, and has no end-to-end tests.
# Its unit tests are cheap (about 3 minutes with the build on 2 cores) and run everywhere; the
# unpacker sweep (1.5 to 4 minutes more) only where the i686 one cannot run.
if step build-win64-check bash -c "cmake --preset win64-check >/dev/null && cmake --build --preset win64-check -j$JOBS"; then
  step test-win64-check env OLVAN_WINE_64_ONLY=1 scripts/with-wine.sh ctest --preset win64-check -j1 -LE heavy
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    step test-win64-check-heavy env OLVAN_WINE_64_ONLY=1 scripts/with-wine.sh ctest --preset win64-check -j1 -L heavy
  fi
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
