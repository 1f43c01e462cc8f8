#!/usr/bin/env bash
# Benchmark: unpacking a 256 MiB package with utl_FileUnpack against CopyFileA of the same
# carrier, in one run under Wine. Prints both times, the ratio and the stub size.
#   scripts/bench-unpack.sh [MiB]     (default 256)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2 --target Setup bench_unpack | tail -n 1
scripts/with-wine.sh bash -c "wine build/win32/bench_unpack.exe build/win32/Setup.exe ${1:-256}"
