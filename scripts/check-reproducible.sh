#!/usr/bin/env bash
# Shows that one commit gives the same Setup.exe and the same carrier whatever the checkout's
# folder and the time: clones the commit into two folders whose paths differ in length,
# builds Setup.exe and the host olvpack in each (those targets only), packs the same demo
# payload with each, and compares the stubs, the olvpack programs and the carriers byte for
# byte (the carriers stamped with one version). Prints their SHA-256 and the time it took.
#   scripts/check-reproducible.sh [COMMIT]     default: HEAD (committed work only)
# Exit codes: 0 the same bytes, 1 they differ, 2 a build failed.
[ "${1:-}" != --help ] || { while IFS= read -r l && [ "${l:0:1}" = "#" ]; do [ "${l:1:1}" = "!" ] || printf '%s\n' "${l:2}"; done < "$0"; exit 0; }
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
COMMIT=$(git rev-parse --verify "${1:-HEAD}^{commit}")
DEPS=${OLVAN_DEPS:-/opt/olvan-deps}
JOBS=${OLVAN_JOBS:-2}
WORK=$ROOT/build/repro
start=$(date +%s)

rm -rf "$WORK"
A=$WORK/a
B=$WORK/second-checkout-in-a-folder-with-a-longer-path/b
mkdir -p "$A" "$B"

# The demo payload, made once from fixed bytes: the real 7-Zip console and the client's
# configuration files (archives are left out: 7-Zip stores the files' times).
P=$WORK/payload
mkdir -p "$P"
if [ -f "$DEPS/npm/node_modules/7zip-bin/win/ia32/7za.exe" ]; then
  cp "$DEPS/npm/node_modules/7zip-bin/win/ia32/7za.exe" "$P/7za.exe"
fi
printf '<locations><location name="HQ"/></locations>\r\n' > "$P/locations.xml"
printf '[conn]\r\nserver=access.example\r\n' > "$P/conn_cfg.ini"
printf '<portal url="https://portal.example"/>\r\n' > "$P/Portal-cfg.xml"

build_in() {  # folder
  local d=$1
  git clone -q --no-checkout "$ROOT" "$d/src"
  git -C "$d/src" -c advice.detachedHead=false checkout -q "$COMMIT"
  (
    cd "$d/src"
    cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF >/dev/null
    cmake --build build/win32 -j"$JOBS" --target Setup >/dev/null
    cmake -S . -B build/host-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DOLVAN_SANITIZE=OFF \
      -DBUILD_TESTING=OFF >/dev/null
    cmake --build build/host-release -j"$JOBS" --target olvpack >/dev/null
    build/host-release/olvpack build --stub build/win32/Setup.exe --payload "$P" \
      --output "$d/Setup.exe" --version 1.2.3.4 --allow-incomplete >/dev/null
  ) || { echo "check-reproducible: the build in $d failed" >&2; exit 2; }
}

build_in "$A"
# A later second: a time stamp taken from the clock would differ.
sleep 1
build_in "$B"

status=0
for f in src/build/win32/Setup.exe src/build/host-release/olvpack Setup.exe; do
  if cmp -s "$A/$f" "$B/$f"; then
    echo "same: $f $(sha256sum < "$A/$f" | cut -d' ' -f1)"
  else
    echo "DIFFERENT: $f ($(cmp -l "$A/$f" "$B/$f" | wc -l) bytes differ; first: $(cmp "$A/$f" "$B/$f" | head -n 1))"
    status=1
  fi
done
echo "commit $COMMIT, checkouts $A and $B, $(( $(date +%s) - start )) s"
[ $status -eq 0 ] && rm -rf "$WORK"
exit $status
