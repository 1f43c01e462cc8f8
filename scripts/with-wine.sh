#!/usr/bin/env bash
# Runs a command with a throwaway 64-bit Wine prefix, a persistent wineserver and a private
# Xvfb display, then tears them down. The command sees WINEPREFIX, DISPLAY and
# OLVAN_WINE_C (the prefix's drive C on disk).
#   scripts/with-wine.sh ctest --test-dir build/win32
# The pristine prefix is made once per Wine version and cloned with hard links per run.
set -euo pipefail

CACHE=${OLVAN_WINE_CACHE:-/var/tmp/olvan-wine}
ver=$(wine --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' '_')
TEMPLATE="$CACHE/template-$ver"
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers: the setup needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

mkdir -p "$CACHE"
if [ ! -f "$TEMPLATE/.ready" ]; then
  (
    flock 9
    if [ ! -f "$TEMPLATE/.ready" ]; then
      rm -rf "$TEMPLATE"
      WINEPREFIX="$TEMPLATE" wineboot -i >/dev/null 2>&1
      WINEPREFIX="$TEMPLATE" wineserver -w
      touch "$TEMPLATE/.ready"
    fi
  ) 9>"$CACHE/.lock"
fi

RUN=$(mktemp -d "$CACHE/run.XXXXXX")
export WINEPREFIX="$RUN/prefix"
cp -al "$TEMPLATE" "$WINEPREFIX"
# Files that Wine rewrites in place get copies of their own; the rest stays shared.
find "$WINEPREFIX" -maxdepth 1 -name '*.reg' -exec sh -c 'cp --remove-destination "$0" "$0.tmp" && mv "$0.tmp" "$0"' {} \;
rm -f "$WINEPREFIX/.ready"
export OLVAN_WINE_C="$WINEPREFIX/drive_c"

xvfb_pid=
cleanup() {
  WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$RUN"
}
trap cleanup EXIT

if [ -z "${OLVAN_NO_XVFB:-}" ]; then
  exec 8>"$RUN/display"
  Xvfb -displayfd 8 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$RUN/display" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -n1 "$RUN/display")"
  exec 8>&-
fi

wineserver -p
# A small 32-bit program first: in a fresh clone, reg.exe started first has been seen to hang.
wine 'C:\windows\syswow64\cmd.exe' /c exit >/dev/null 2>&1 || true

set +e
"$@"
rc=$?
exit $rc
