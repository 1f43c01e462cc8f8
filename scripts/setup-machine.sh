#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine.
# Run as root. Idempotent: a second run only checks and returns within a second.
#   scripts/setup-machine.sh        (as root; as anyone else: sudo scripts/setup-machine.sh)
#   OLVAN_DEPS       where source packages and npm packages go (default /opt/olvan-deps)
#   OLVAN_APT_ETC    apt's configuration folder (default /etc/apt)
#   OLVAN_APT_LISTS  where apt keeps the fetched indexes (default /var/lib/apt/lists)
#   OLVAN_APT_TRIES, OLVAN_APT_PAUSE  tries of `apt-get update` and seconds between them (3, 10)
#
# A package mirror can be caught mid-sync: one index then has an unexpected size or hash sum
# and `apt-get update` exits 100. Such an update is tried again a few times; when only fetch,
# size or hash-sum errors of indexes remain, the script goes on with the indexes it has. A
# signature error is never passed over, and nothing is installed unauthenticated. When an
# install cannot be resolved (an amd64 library from the security suite whose i386 twin sits in
# the index that failed), it is tried once more preferring bookworm's own suite.
[ "${1:-}" != --help ] || { while IFS= read -r l && [ "${l:0:1}" = "#" ]; do [ "${l:1:1}" = "!" ] || printf '%s\n' "${l:2}"; done < "$0"; exit 0; }
set -euo pipefail

DEPS=${OLVAN_DEPS:-/opt/olvan-deps}
APT_ETC=${OLVAN_APT_ETC:-/etc/apt}
APT_LISTS=${OLVAN_APT_LISTS:-/var/lib/apt/lists}
APT_TRIES=${OLVAN_APT_TRIES:-3}
APT_PAUSE=${OLVAN_APT_PAUSE:-10}
export DEBIAN_FRONTEND=noninteractive

if [ "$(id -u)" -ne 0 ]; then
  echo "setup-machine: run as root" >&2
  exit 1
fi

# libwine-dev: Wine's own Windows headers, one of the independent sets the tests check the
# program's self-defined Windows values against (MinGW-w64's, ddk/ included, are the other).
PKGS=(g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 xvfb xauth x11-utils cmake ninja-build
      clang libclang-rt-14-dev dpkg-dev googletest fonts-wqy-microhei imagemagick
      openssl python3 osslsigncode nsis locales libwine-dev)
# npm comes with whatever Node.js the machine has; Debian's own when there is none.
command -v npm >/dev/null 2>&1 || PKGS+=(nodejs npm)

# apt-get update, tried APT_TRIES times. Returns 0 when it succeeded, or when what still
# fails is only the fetch of some indexes (size, hash sum, network); 1 on anything else,
# a signature error above all.
apt_update() {
  local try out rc
  for ((try = 1; try <= APT_TRIES; try++)); do
    rc=0
    out=$(apt-get update -qq 2>&1) || rc=$?
    # Before the exit code: when a signature fails on a suite fetched before, apt keeps its
    # old indexes, warns and exits 0.
    if grep -Eqi 'NO_PUBKEY|EXPKEYSIG|REVKEYSIG|BADSIG|signature|not signed|GPG error|is not valid yet|no longer (signed|valid)' <<<"$out"; then
      printf '%s\n' "$out" >&2
      echo "setup-machine: apt-get update failed on a signature; not going on" >&2
      return 1
    fi
    if [ "$rc" -eq 0 ] && ! grep -q '^E:' <<<"$out"; then
      return 0
    fi
    if [ "$try" -lt "$APT_TRIES" ]; then
      echo "setup-machine: apt-get update failed (try $try of $APT_TRIES), again in ${APT_PAUSE}s" >&2
      sleep "$APT_PAUSE"
    fi
  done
  # There must be error lines, and each must be an index that could not be fetched.
  if ! grep -q '^E:' <<<"$out" || grep '^E:' <<<"$out" | grep -Evq 'Failed to fetch|Some index files failed to download|unexpected size|Hash Sum mismatch|Mirror sync in progress'; then
    printf '%s\n' "$out" >&2
    echo "setup-machine: apt-get update failed" >&2
    return 1
  fi
  printf '%s\n' "$out" | grep '^E:' >&2 || true
  echo "setup-machine: going on with the indexes apt has (a mirror caught mid-sync)" >&2
  return 0
}

# apt-get install; when the packages cannot be resolved, once more preferring bookworm itself.
apt_install() {  # apt-get install options and packages...
  if apt-get install -y -qq --no-install-recommends "$@" >/dev/null; then
    return 0
  fi
  echo "setup-machine: install failed; trying again with -t bookworm (these packages then come without bookworm-security's updates)" >&2
  apt-get install -y -qq --no-install-recommends -t bookworm "$@" >/dev/null
}

# True when apt holds no fetched index whose file name matches the pattern.
not_fetched() {  # glob under APT_LISTS
  ! compgen -G "$APT_LISTS/$1" >/dev/null
}

need_update=0

# 32-bit Wine needs the i386 architecture. Any package missing makes an update anyway; one
# that is not leaves the indexes alone, fetched or not.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

# Source packages: derive a deb-src entry from the machine's own deb entries, so that
# whatever mirror this machine uses also serves the sources.
SRC_LIST=$APT_ETC/sources.list.d/olvan-deb-src.sources
SRC_LIST_OLD=$APT_ETC/sources.list.d/olvan-deb-src.list
if [ ! -e "$SRC_LIST" ] && [ ! -e "$SRC_LIST_OLD" ]; then
  have_src=0
  for f in "$APT_ETC"/sources.list "$APT_ETC"/sources.list.d/*.list "$APT_ETC"/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    if grep -Eq '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' "$f"; then have_src=1; fi
  done
  if [ "$have_src" = 0 ]; then
    if ls "$APT_ETC"/sources.list.d/*.sources >/dev/null 2>&1; then
      # deb822 stanzas: copy each enabled stanza with Types set to deb-src.
      tmp=$(mktemp)
      for f in "$APT_ETC"/sources.list.d/*.sources; do
        grep -q '^Types:.*\bdeb\b' "$f" || continue
        sed -e 's/^Types:.*/Types: deb-src/' "$f"
        echo
      done > "$tmp"
      chmod 644 "$tmp"
      mv "$tmp" "$SRC_LIST"
    fi
    if [ -s "$APT_ETC"/sources.list ]; then
      grep -E '^[[:space:]]*deb[[:space:]]' "$APT_ETC"/sources.list | sed -E 's/^([[:space:]]*)deb[[:space:]]/\1deb-src /' > "$SRC_LIST_OLD"
    fi
  fi
fi

# Wine's 32-bit loader is an i386 program; kernels without IA-32 emulation run it through
# qemu's user mode (scripts/with-wine.sh). Bookworm's qemu 7.2 takes about a minute to start
# each 32-bit Wine process (its search for free guest memory walks page by page); the
# backported 10.x starts one in under a second. Only qemu-user comes from backports.
BPO_LIST=$APT_ETC/sources.list.d/olvan-backports.sources
if [ ! -e "$BPO_LIST" ]; then
  printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\n' > "$BPO_LIST"
fi

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
need_qemu=0
if ! dpkg-query -W -f='${Status} ${Version}' qemu-user 2>/dev/null | grep -q 'install ok installed 1:\(9\.[1-9]\|[1-9][0-9]\)'; then
  need_qemu=1
fi
need_tinyxml=0
ls "$DEPS"/tinyxml/tinyxml-*/tinyxml.cpp >/dev/null 2>&1 || need_tinyxml=1

# The lists written above take effect only through an update; one that failed before leaves
# them written but never fetched, so update whenever an index this run needs is missing.
if [ "$need_qemu" = 1 ] && not_fetched '*bookworm-backports*_Packages*'; then need_update=1; fi
if [ "$need_tinyxml" = 1 ] && not_fetched '*_source_Sources*'; then need_update=1; fi
if [ "${#missing[@]}" -gt 0 ] || [ "$need_update" = 1 ]; then
  apt_update
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup-machine: installing ${missing[*]}"
  apt_install "${missing[@]}"
fi
if [ "$need_qemu" = 1 ]; then
  echo "setup-machine: installing qemu-user from bookworm-backports"
  apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user >/dev/null
fi

mkdir -p "$DEPS"

# TinyXML from Debian's source package, with Debian's patches applied by dpkg-source.
if [ "$need_tinyxml" = 1 ]; then
  rm -rf "$DEPS/tinyxml"
  mkdir -p "$DEPS/tinyxml"
  (cd "$DEPS/tinyxml" && apt-get source -qq tinyxml >/dev/null 2>&1) || {
    echo "setup-machine: apt-get source tinyxml failed" >&2
    exit 1
  }
fi
# Debian forces TIXML_USE_STL so that users match its shared library's ABI. We compile the
# sources into our own program and keep the STL (std::string, iostreams) out of Setup.exe, so
# that one patch is reversed; the security and entity-encoding patches stay applied.
TX=$(ls -d "$DEPS"/tinyxml/tinyxml-*/ | head -n 1)
if grep -q '^#ifndef TIXML_USE_STL' "$TX/tinyxml.h"; then
  (cd "$TX" && patch -s -R -p1 < debian/patches/enforce-use-stl.patch)
fi

# 7-Zip: the real Windows console (win/ia32/7za.exe) and the Linux one to make archives.
SZ="$DEPS/npm/node_modules/7zip-bin"
if [ ! -f "$SZ/win/ia32/7za.exe" ]; then
  mkdir -p "$DEPS/npm"
  npm install --silent --no-audit --no-fund --prefix "$DEPS/npm" 7zip-bin@5 >/dev/null
fi
chmod +x "$SZ/linux/x64/7za"

echo "setup-machine: ready (deps in $DEPS)"
