#!/usr/bin/env bash
# Benchmark (not a test) of the unpacker against plain copies, under Wine. Two modes:
#
#   scripts/bench-unpack.sh [MiB] [pairs]              in one process: utl_FileUnpack of a
#       MiB payload (default 256) against CopyFileA of the same carrier, in turn for a number
#       of pairs (default 7), outputs removed between runs; medians and ranges of both times
#       and of their ratio.
#   scripts/bench-unpack.sh --processes [MiB] [runs]   whole processes, side by side, in
#       turn: Setup.exe carrying a MiB payload file (start-up, checks, unpack with the digest
#       check, ending at the missing agent), the same with a Setup.exe whose digest never uses
#       the SHA extensions, NSIS installers made by makensis from the same file (stored,
#       silent; without and with its CRC check) and a CopyFileA program copying it; medians,
#       ranges and ratios.
#   OLVAN_BENCH_STUB=FILE  another Setup.exe build as the stub; with --processes it is the
#       Setup.exe that runs (an older build, to compare)
#   OLVAN_BENCH_ARCH=x86_64  with --processes: the same sources built as x86_64 programs,
#       NSIS's amd64 stub, all run by Wine's 64-bit loader. Where the kernel cannot run i386
#       programs the i686 figures come through qemu's emulation (which carries out the SHA and
#       SSE instructions in software); these are the figures of the processor itself.
[ "${1:-}" != --help ] || { while IFS= read -r l && [ "${l:0:1}" = "#" ]; do [ "${l:1:1}" = "!" ] || printf '%s\n' "${l:2}"; done < "$0"; exit 0; }
set -euo pipefail
cd "$(dirname "$0")/.."
MODE=inproc
if [ "${1:-}" = "--processes" ]; then MODE=processes; shift; fi
MIB=${1:-256}
RUNS=${2:-7}
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(/usr/lib/wine/wine64 --version)"

ARCH=${OLVAN_BENCH_ARCH:-i686}
case "$ARCH" in
  i686) WIN=build/win32; NSIS_TARGET=x86-ansi
        cmake --preset win32 >/dev/null ;;
  x86_64) WIN=build/win64-bench; NSIS_TARGET=amd64-unicode; export OLVAN_WINE_64_ONLY=1
        [ "$MODE" = processes ] || { echo "bench-unpack: OLVAN_BENCH_ARCH=x86_64 needs --processes" >&2; exit 1; }
        cmake -S . -B "$WIN" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
          -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null ;;
  *) echo "bench-unpack: OLVAN_BENCH_ARCH is i686 or x86_64" >&2; exit 1 ;;
esac
echo "programs: $ARCH"
cmake --build "$WIN" -j2 --target Setup bench_unpack bench_copy | tail -n 1

if [ "$MODE" = inproc ]; then
  scripts/with-wine.sh bash -c "wine $WIN/bench_unpack.exe ${OLVAN_BENCH_STUB:-$WIN/Setup.exe} $MIB $RUNS"
  exit
fi

command -v makensis >/dev/null || { echo "bench-unpack: makensis missing (scripts/setup-machine.sh installs it)" >&2; exit 1; }
# The same program with the portable SHA-256 only, for the cost of the digest without the
# processor's SHA extensions.
PORTABLE=$WIN-sha-portable
cmake -S . -B "$PORTABLE" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$ARCH.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DOLVAN_SHA256_PORTABLE=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$PORTABLE" -j2 --target Setup | tail -n 1
cmake --preset host-release >/dev/null
cmake --build --preset host-release -j2 --target olvpack | tail -n 1
B=build/bench
rm -rf "$B"
mkdir -p "$B/payload"
head -c "$((MIB << 20))" /dev/urandom > "$B/payload/payload.bin"
build/host-release/olvpack build --stub "${OLVAN_BENCH_STUB:-$WIN/Setup.exe}" --payload "$B/payload" --output "$B/Setup.exe" --allow-incomplete
build/host-release/olvpack build --stub "$PORTABLE/Setup.exe" --payload "$B/payload" --output "$B/SetupPortable.exe" --allow-incomplete
cat > "$B/bench.nsi" <<NSI
Target $NSIS_TARGET
Name "bench"
OutFile "nsis-bench.exe"
SetCompress off
CRCCheck off
SilentInstall silent
RequestExecutionLevel admin
InstallDir "C:\nsisout"
Section
  SetOutPath "\$INSTDIR"
  File "payload\payload.bin"
SectionEnd
NSI
sed -e 's/^CRCCheck off$/CRCCheck force/' -e 's/^OutFile .*$/OutFile "nsis-crc.exe"/' "$B/bench.nsi" > "$B/crc.nsi"
(cd "$B" && makensis -V1 bench.nsi && makensis -V1 crc.nsi)
cp "$WIN/bench_copy.exe" "$B/"

export MIB RUNS
scripts/with-wine.sh python3 - <<'PY'
import os, shutil, statistics, subprocess, time
from pathlib import Path
C = Path(os.environ["OLVAN_WINE_C"])
bench = C / "bench"
shutil.copytree("build/bench", bench, ignore=shutil.ignore_patterns("payload", "*.nsi"))
shutil.copy("build/bench/payload/payload.bin", bench / "payload.bin")
env = dict(os.environ, WINEDEBUG="-all", LC_ALL="en_US.UTF-8")
# with-wine.sh names the 64-bit loader for 64-bit-only runs.
wine = os.environ.get("WINELOADER", "wine")
work, nsis_out, copy_out = C / "tmp" / "OlvanSetup0", C / "nsisout", bench / "copy.bin"
progs = [
    ("Setup.exe", ["C:\\bench\\Setup.exe"], work),
    ("Setup.exe, portable SHA-256", ["C:\\bench\\SetupPortable.exe"], work),
    ("NSIS", ["C:\\bench\\nsis-bench.exe", "/S"], nsis_out),
    ("NSIS, CRC check", ["C:\\bench\\nsis-crc.exe", "/S"], nsis_out),
    ("CopyFileA", ["C:\\bench\\bench_copy.exe", "C:\\bench\\payload.bin", "C:\\bench\\copy.bin"], copy_out),
]
def clear(p):
    if p.is_dir(): shutil.rmtree(p)
    elif p.exists(): p.unlink()
    # Every run starts with nothing left to write back: writeback of the inputs or of an
    # earlier output was seen to slow down whichever program ran meanwhile.
    os.sync()
os.sync()
# A warm-up round: the file cache holds the three inputs before anything is timed.
size = int(os.environ["MIB"]) << 20
def check(name, out):
    # Each run must have written the whole payload, or its time means nothing.
    got = out / "payload.bin" if out.is_dir() else out
    if not got.exists() or got.stat().st_size != size:
        raise SystemExit(f"bench-unpack: {name} did not write the payload ({got})")
for name, cmd, out in progs:
    subprocess.run([wine, *cmd], env=env, capture_output=True)
    check(name, out)
    clear(out)
times = {name: [] for name, _, _ in progs}
for _ in range(int(os.environ["RUNS"])):
    for name, cmd, out in progs:
        t0 = time.perf_counter()
        subprocess.run([wine, *cmd], env=env, capture_output=True)
        times[name].append(time.perf_counter() - t0)
        check(name, out)
        clear(out)
print(f"payload: {os.environ['MIB']} MiB, {os.environ['RUNS']} runs of each, in turn")
for name, t in times.items():
    print(f"{name:28s} median {statistics.median(t):.3f} s  min {min(t):.3f} s  max {max(t):.3f} s")
s, n, c = (statistics.median(times[k]) for k in ("Setup.exe", "NSIS", "CopyFileA"))
print(f"ratio Setup.exe / NSIS:      {s / n:.2f}")
r, p = (statistics.median(times[k]) for k in ("NSIS, CRC check", "Setup.exe, portable SHA-256"))
print(f"ratio Setup.exe / NSIS with its CRC check:         {s / r:.2f}")
print(f"ratio Setup.exe, portable / NSIS with its CRC check: {p / r:.2f}")
print(f"ratio Setup.exe / CopyFileA: {s / c:.2f}")
print(f"ratio NSIS / CopyFileA:      {n / c:.2f}")
PY
