#!/usr/bin/env bash
# Makes the release set in dist/: configures and builds Setup.exe and the release tools
# (olvpack, olvsign) for Linux and for Windows, runs the tools' tests (the Windows programs
# under Wine), and writes the stub, both sets of tools, the release guide, the table of
# install errors, the toolchain versions and SHA256SUMS into dist/<name>/, packed as
# dist/<name>.zip and dist/<name>.tar.gz (file times and order fixed: the archives are the
# same for the same commit).
#   scripts/release.sh        <name> is olvan-setup-<git describe>
# A machine whose Wine cannot run 32-bit programs stops before packing; with
# OLVAN_RELEASE_UNTESTED_WINDOWS_TOOLS=1 it packs anyway and says so in TOOLCHAIN.txt.
[ "${1:-}" != --help ] || { while IFS= read -r l && [ "${l:0:1}" = "#" ]; do [ "${l:1:1}" = "!" ] || printf '%s\n' "${l:2}"; done < "$0"; exit 0; }
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then scripts/setup-machine.sh >/dev/null; fi
JOBS=${OLVAN_JOBS:-2}
VERSION=$(git describe --tags --always --dirty)
NAME=olvan-setup-$VERSION
# Every file of the set gets the commit's time.
STAMP=$(git log -1 --format=%ct)

echo "== Setup.exe, olvpack.exe, olvsign.exe (build/win32)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$JOBS" --target Setup olvpack olvsign | tail -n 1

echo "== Linux tools and their tests (build/host-release)"
cmake --preset host-release >/dev/null
cmake --build --preset host-release -j"$JOBS" \
  --target olvpack olvsign package_carrier_test olvsign_test | tail -n 1
ctest --test-dir build/host-release -R '^(package_carrier_test|olvsign_|olvpack_)' \
  --output-on-failure | tail -n 3

echo "== Windows tools' tests under Wine"
windows_tested=yes
if ! OLVAN_REFERENCE_OLVPACK=$PWD/build/host-release/olvpack scripts/with-wine.sh \
    ctest --preset win32 -R '^(olvpack_cli|olvsign_cli|olvpack_sign_exe)$' | tail -n 3; then
  if [ -z "${OLVAN_RELEASE_UNTESTED_WINDOWS_TOOLS:-}" ]; then
    echo "release: the Windows tools' tests failed or could not run under Wine" >&2
    exit 1
  fi
  windows_tested="NO: the tests failed or could not run under Wine"
fi

echo "== dist/$NAME"
rm -rf dist
SET=dist/$NAME
mkdir -p "$SET/linux" "$SET/windows"
cp build/win32/Setup.exe "$SET/"
cp build/host-release/olvpack build/host-release/olvsign "$SET/linux/"
cp build/win32/olvpack.exe build/win32/olvsign.exe "$SET/windows/"
cp docs/release-guide.md "$SET/RELEASE.md"
cp docs/install-errors.md "$SET/INSTALL-ERRORS.md"
{
  echo "commit: $(git rev-parse HEAD)$(git diff --quiet HEAD || echo ' (with uncommitted changes)')"
  echo "Windows tools tested under Wine: $windows_tested"
  scripts/toolchain-versions.sh
} > "$SET/TOOLCHAIN.txt"
(cd "$SET" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort \
  | xargs sha256sum > SHA256SUMS)
find "$SET" -exec touch -h -d "@$STAMP" {} +

tar -C dist --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$STAMP" -cf - "$NAME" \
  | gzip -n -9 > "dist/$NAME.tar.gz"
python3 - "$SET" "dist/$NAME.zip" <<'PY'
import os, sys, time, zipfile
root, out = sys.argv[1], sys.argv[2]
base = os.path.dirname(root)
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for d, dirs, files in sorted(os.walk(root)):
        dirs.sort()
        for f in sorted(files):
            path = os.path.join(d, f)
            info = zipfile.ZipInfo(os.path.relpath(path, base),
                                   time.gmtime(os.path.getmtime(path))[:6])
            info.external_attr = (0o755 if os.access(path, os.X_OK) else 0o644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as fh:
                z.writestr(info, fh.read())
PY
(cd dist && sha256sum "$NAME.zip" "$NAME.tar.gz")
cat "$SET/SHA256SUMS"
