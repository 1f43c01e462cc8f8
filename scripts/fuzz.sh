#!/usr/bin/env bash
# Builds the libFuzzer targets (host, clang, ASan + UBSan) and runs each for a bounded time,
# starting from its seeds in tests/fuzz/seeds/<target>/. Prints one "fuzz:" line per target;
# exits non-zero when a target finds a crash (the reproducer is left in the build folder).
#   scripts/fuzz.sh                  every target, OLVAN_FUZZ_SECONDS (default 15) each
#   scripts/fuzz.sh fuzz_des_base64  one target
[ "${1:-}" != --help ] || { while IFS= read -r l && [ "${l:0:1}" = "#" ]; do [ "${l:1:1}" = "!" ] || printf '%s\n' "${l:2}"; done < "$0"; exit 0; }
set -uo pipefail
cd "$(dirname "$0")/.."

# One line per target: name and the longest input it is given, in bytes.
FUZZERS=(
  "fuzz_des_base64 512"
  "fuzz_xml_sections 262144"
  "fuzz_package 16384"
)

BUILD=${OLVAN_FUZZ_BUILD:-build/fuzz}
SECS=${OLVAN_FUZZ_SECONDS:-15}
JOBS=${OLVAN_JOBS:-2}

selected=()
for entry in "${FUZZERS[@]}"; do
  name=${entry%% *}
  if [ $# -eq 0 ] || [[ " $* " == *" $name "* ]]; then selected+=("$entry"); fi
done
[ ${#selected[@]} -gt 0 ] || { echo "fuzz: no such target: $*" >&2; exit 2; }

CC=clang CXX=clang++ cmake --preset host -B "$BUILD" -DOLVAN_FUZZ=ON >/dev/null || exit 1
targets=()
for entry in "${selected[@]}"; do targets+=("${entry%% *}"); done
cmake --build "$BUILD" -j"$JOBS" --target "${targets[@]}" >/dev/null || exit 1

# TinyXML's parser recurses once per nesting level. Instrumented as here it takes about
# 2.7 KB of stack per level (Setup.exe about 150 bytes), so the 4096 levels the XML reader
# admits need some 11 MB. With 16 MB they fit, and an unguarded deep text overflows after
# some 6,000 levels, well before the parser's cost (which grows with the square of the
# depth) runs into the time limit.
ulimit -s 16384 || { echo "fuzz: cannot set a 16 MB stack limit" >&2; exit 1; }

status=0
for entry in "${selected[@]}"; do
  name=${entry%% *}
  max_len=${entry##* }
  exe=$(find "$BUILD" -type f -name "$name" -perm -u+x | head -n 1)
  corpus="$BUILD/corpus/$name"
  artifacts="$BUILD/artifacts/$name/"
  mkdir -p "$corpus" "$artifacts"
  log="$BUILD/$name.log"
  if "$exe" -max_total_time="$SECS" -max_len="$max_len" -rss_limit_mb=2048 -timeout=10 \
       -print_final_stats=1 -artifact_prefix="$artifacts" \
       "$corpus" "tests/fuzz/seeds/$name" >"$log" 2>&1; then
    runs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$' || echo '?')
    echo "fuzz: $name ok ($runs runs in ${SECS}s)"
  else
    echo "fuzz: $name FAILED (see $log; reproducers in $artifacts)"
    tail -n 40 "$log"
    status=1
  fi
done
exit $status
