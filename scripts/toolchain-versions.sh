#!/usr/bin/env bash
# Prints the versions of everything that goes into Setup.exe and the release tools: the
# system, the compilers, the linker, the MinGW-w64 runtime and headers, the build tools and
# the third-party sources. Two machines that print the same lines build the same bytes
# from one commit.
#   scripts/toolchain-versions.sh
[ "${1:-}" != --help ] || { while IFS= read -r l && [ "${l:0:1}" = "#" ]; do [ "${l:1:1}" = "!" ] || printf '%s\n' "${l:2}"; done < "$0"; exit 0; }
set -uo pipefail
DEPS=${OLVAN_DEPS:-/opt/olvan-deps}

first_line() { "$@" 2>/dev/null | head -n 1 || true; }

echo "system: $(. /etc/os-release 2>/dev/null && echo "$PRETTY_NAME") $(uname -m)"
echo "i686-w64-mingw32-g++-posix: $(first_line i686-w64-mingw32-g++-posix --version)"
echo "i686-w64-mingw32-ld: $(first_line i686-w64-mingw32-ld --version)"
echo "i686-w64-mingw32-windres: $(first_line i686-w64-mingw32-windres --version)"
echo "host c++: $(first_line c++ --version)"
echo "cmake: $(first_line cmake --version)"
echo "ninja: $(first_line ninja --version)"
if command -v dpkg-query >/dev/null 2>&1; then
  for p in g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix-runtime binutils-mingw-w64-i686 \
           mingw-w64-i686-dev mingw-w64-common g++-12 binutils libc6-dev libstdc++-12-dev \
           cmake ninja-build osslsigncode; do
    echo "package $p: $(dpkg-query -W -f='${Version}' "$p" 2>/dev/null || echo 'not installed')"
  done
fi
for d in "$DEPS"/tinyxml/tinyxml_*.dsc; do
  [ -e "$d" ] && echo "source tinyxml: $(basename "$d" .dsc | sed 's/^tinyxml_//') (Debian source package, patched by scripts/setup-machine.sh)"
done
