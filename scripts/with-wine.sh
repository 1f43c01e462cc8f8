#!/usr/bin/env bash
# Runs a command with a throwaway 64-bit Wine prefix, a persistent wineserver and a private
# Xvfb display, then tears them down. The command sees WINEPREFIX, DISPLAY and
# OLVAN_WINE_C (the prefix's drive C on disk).
#   scripts/with-wine.sh ctest --test-dir build/win32
# The pristine prefix is made once per Wine version and cloned with hard links per run.
#   OLVAN_WINE_64_ONLY=1  the command runs 64-bit Windows programs only (preset win64-check):
#                         Wine's 64-bit loader runs everything, nothing needs the 32-bit one
[ "${1:-}" != --help ] || { while IFS= read -r l && [ "${l:0:1}" = "#" ]; do [ "${l:1:1}" = "!" ] || printf '%s\n' "${l:2}"; done < "$0"; exit 0; }
set -euo pipefail

if [ -n "${OLVAN_WINE_64_ONLY:-}" ]; then
  # Debian's `wine` script always picks the 32-bit loader when it is installed, even where
  # the kernel cannot start it; the 64-bit loader runs 64-bit programs on any x86_64 kernel.
  # WINELOADER is what Wine itself starts for child processes; scripts/wine-run uses it too.
  export WINELOADER=/usr/lib/wine/wine64
  WINE=$WINELOADER
else
  WINE=wine
fi

# Wine runs 32-bit Windows programs through its 32-bit loader, a Linux i386 program. Some
# kernels cannot run those (no IA-32 emulation: "Exec format error"); there the command runs
# in a private user and mount namespace whose own binfmt_misc hands i386 programs to
# qemu-i386. Nothing outside the namespace changes. The same Wine, a little slower.
if [ -z "${OLVAN_WINE_64_ONLY:-}" ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1 &&
   [ -z "${OLVAN_WINE_I386_NS:-}" ]; then
  # qemu-user 9.1 and later ship static programs under the plain name.
  QEMU=$(command -v qemu-i386 || command -v qemu-i386-static || true)
  if [ -z "$QEMU" ]; then
    echo "with-wine: this kernel cannot run Wine's 32-bit loader and qemu-i386 is missing (scripts/setup-machine.sh installs it)" >&2
    exit 1
  fi
  export OLVAN_WINE_I386_NS="$QEMU"
  exec unshare --user --map-root-user --mount --propagation private "$0" "$@"
fi
if [ -n "${OLVAN_WINE_I386_NS:-}" ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  # The i386 ELF magic and mask; F opens the interpreter now, so any later mount view works.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$OLVAN_WINE_I386_NS"':F' \
    > /proc/sys/fs/binfmt_misc/register
fi

CACHE=${OLVAN_WINE_CACHE:-/var/tmp/olvan-wine}
ver=$("$WINE" --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' '_')
TEMPLATE="$CACHE/template-$ver"
# A prefix made by the 64-bit loader alone lacks the 32-bit side's registrations: its own.
[ -n "${OLVAN_WINE_64_ONLY:-}" ] && TEMPLATE="$TEMPLATE-64only"
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
      WINEPREFIX="$TEMPLATE" "$WINE" wineboot -i >/dev/null 2>&1
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
# A small program first: in a fresh clone, reg.exe started first has been seen to hang. A
# 32-bit one for the i686 runs (it starts the 32-bit side), the 64-bit one for 64-bit runs.
if [ -n "${OLVAN_WINE_64_ONLY:-}" ]; then
  "$WINE" 'C:\windows\system32\cmd.exe' /c exit >/dev/null 2>&1 || true
else
  wine 'C:\windows\syswow64\cmd.exe' /c exit >/dev/null 2>&1 || true
fi

set +e
"$@"
rc=$?
exit $rc
