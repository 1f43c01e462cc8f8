#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine.
# Run as root. Idempotent: a second run only checks and returns within seconds.
#   OLVAN_DEPS  where source packages and npm packages go (default /opt/olvan-deps)
set -euo pipefail

DEPS=${OLVAN_DEPS:-/opt/olvan-deps}
export DEBIAN_FRONTEND=noninteractive

if [ "$(id -u)" -ne 0 ]; then
  echo "setup-machine: run as root" >&2
  exit 1
fi

PKGS=(g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 xvfb xauth x11-utils cmake ninja-build
      clang libclang-rt-14-dev dpkg-dev googletest fonts-wqy-microhei imagemagick
      openssl python3 osslsigncode nsis locales)
# npm comes with whatever Node.js the machine has; Debian's own when there is none.
command -v npm >/dev/null 2>&1 || PKGS+=(nodejs npm)

need_update=0

# 32-bit Wine needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

# Source packages: derive a deb-src entry from the machine's own deb entries, so that
# whatever mirror this machine uses also serves the sources.
SRC_LIST=/etc/apt/sources.list.d/olvan-deb-src.sources
SRC_LIST_OLD=/etc/apt/sources.list.d/olvan-deb-src.list
if [ ! -e "$SRC_LIST" ] && [ ! -e "$SRC_LIST_OLD" ]; then
  have_src=0
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    if grep -Eq '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' "$f"; then have_src=1; fi
  done
  if [ "$have_src" = 0 ]; then
    if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
      # deb822 stanzas: copy each enabled stanza with Types set to deb-src.
      tmp=$(mktemp)
      for f in /etc/apt/sources.list.d/*.sources; do
        grep -q '^Types:.*\bdeb\b' "$f" || continue
        sed -e 's/^Types:.*/Types: deb-src/' "$f"
        echo
      done > "$tmp"
      chmod 644 "$tmp"
      mv "$tmp" "$SRC_LIST"
    fi
    if [ -s /etc/apt/sources.list ]; then
      grep -E '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list | sed -E 's/^([[:space:]]*)deb[[:space:]]/\1deb-src /' > "$SRC_LIST_OLD"
    fi
    need_update=1
  fi
fi

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -gt 0 ] || [ "$need_update" = 1 ]; then
  apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup-machine: installing ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine's 32-bit loader is an i386 program; kernels without IA-32 emulation run it through
# qemu's user mode (scripts/with-wine.sh). Bookworm's qemu 7.2 takes about a minute to start
# each 32-bit Wine process (its search for free guest memory walks page by page); the
# backported 10.x starts one in under a second. Only qemu-user comes from backports.
BPO_LIST=/etc/apt/sources.list.d/olvan-backports.sources
if [ ! -e "$BPO_LIST" ]; then
  printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\n' > "$BPO_LIST"
  apt-get update -qq
fi
if ! dpkg-query -W -f='${Status} ${Version}' qemu-user 2>/dev/null | grep -q 'install ok installed 1:\(9\.[1-9]\|[1-9][0-9]\)'; then
  echo "setup-machine: installing qemu-user from bookworm-backports"
  apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user >/dev/null
fi

mkdir -p "$DEPS"

# TinyXML from Debian's source package, with Debian's patches applied by dpkg-source.
if ! ls "$DEPS"/tinyxml/tinyxml-*/tinyxml.cpp >/dev/null 2>&1; then
  rm -rf "$DEPS/tinyxml"
  mkdir -p "$DEPS/tinyxml"
  (cd "$DEPS/tinyxml" && apt-get source -qq tinyxml >/dev/null 2>&1)
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
