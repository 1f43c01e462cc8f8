#!/usr/bin/env python3
"""scripts/setup-machine.sh against stand-in apt-get, dpkg, dpkg-query, npm, patch and id
programs on PATH, with apt's configuration, its lists and the dependencies folder in a
temporary folder: no network, and the machine's own package set-up is never touched."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "scripts", "setup-machine.sh")

# Every stand-in appends its command line to $STATE/calls and keeps what it installed in
# $STATE. apt-get update follows $STATE/update.plan, one word a call (then "ok").
STUBS = {
    "id": 'echo 0\n',
    "dpkg": r'''
echo "dpkg $*" >> "$STATE/calls"
case "$1" in
  --print-foreign-architectures) cat "$STATE/arch" 2>/dev/null || true ;;
  --add-architecture) echo "$2" >> "$STATE/arch" ;;
esac
''',
    "dpkg-query": r'''
pkg=${@: -1}
line=$(grep -m1 "^$pkg " "$STATE/installed" 2>/dev/null) || exit 1
printf 'install ok installed %s' "${line#* }"
''',
    "apt-get": r'''
echo "apt-get $*" >> "$STATE/calls"
L=$OLVAN_APT_LISTS
case " $* " in
*" update "*)
  plan=$(head -n1 "$STATE/update.plan" 2>/dev/null); sed -i 1d "$STATE/update.plan" 2>/dev/null
  case "${plan:-ok}" in
  sig)
    echo "W: GPG error: http://deb.debian.org/debian bookworm InRelease: The following signatures couldn't be verified because the public key is not available: NO_PUBKEY 6ED0E7B82643E131" >&2
    echo "E: The repository 'http://deb.debian.org/debian bookworm InRelease' is not signed." >&2
    exit 100 ;;
  sigwarn)
    echo "W: An error occurred during the signature verification. The repository is not updated and the previous index files will be used. GPG error: http://deb.debian.org/debian bookworm InRelease: The following signatures were invalid: EXPKEYSIG 6ED0E7B82643E131" >&2
    exit 0 ;;
  silent) exit 100 ;;
  lock)
    echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (apt-get)" >&2
    exit 100 ;;
  esac
  for a in amd64 $(cat "$STATE/arch" 2>/dev/null); do
    : > "$L/deb.debian.org_debian_dists_bookworm_main_binary-${a}_Packages"
    [ "$plan" = midsync ] && [ "$a" = i386 ] && continue
    : > "$L/security.debian.org_debian-security_dists_bookworm-security_main_binary-${a}_Packages"
  done
  [ -e "$OLVAN_APT_ETC/sources.list.d/olvan-backports.sources" ] &&
    : > "$L/deb.debian.org_debian_dists_bookworm-backports_main_binary-amd64_Packages"
  ls "$OLVAN_APT_ETC"/sources.list.d/olvan-deb-src.* >/dev/null 2>&1 &&
    : > "$L/deb.debian.org_debian_dists_bookworm_main_source_Sources"
  if [ "$plan" = midsync ]; then
    echo "E: Failed to fetch http://security.debian.org/debian-security/dists/bookworm-security/main/binary-i386/by-hash/SHA256/0f1e  File has unexpected size (40312 != 40288). Mirror sync in progress? [IP: 151.101.2.132 80]" >&2
    echo "   Hashes of expected file:" >&2
    echo "    - Filesize:40288 [weak]" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100
  fi ;;
*" install "*)
  case " $* " in
  *" -t bookworm-backports "*) echo "qemu-user 1:10.0.2+ds-1~bpo12+1" >> "$STATE/installed" ;;
  *" -t bookworm "*) ;;
  *) if [ -e "$STATE/broken" ]; then
       echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100
     fi ;;
  esac
  for p in "$@"; do case "$p" in -*|bookworm*) ;; *) echo "$p 1.0" >> "$STATE/installed" ;; esac; done ;;
*" source "*)
  mkdir -p tinyxml-2.6.2/debian/patches
  echo '#ifndef TIXML_USE_STL' > tinyxml-2.6.2/tinyxml.h
  : > tinyxml-2.6.2/debian/patches/enforce-use-stl.patch
  : > tinyxml-2.6.2/tinyxml.cpp ;;
esac
''',
    "npm": r'''
echo "npm $*" >> "$STATE/calls"
while [ "$#" -gt 0 ] && [ "$1" != --prefix ]; do shift; done
prefix=$2
mkdir -p "$prefix/node_modules/7zip-bin/win/ia32" "$prefix/node_modules/7zip-bin/linux/x64"
: > "$prefix/node_modules/7zip-bin/win/ia32/7za.exe"
: > "$prefix/node_modules/7zip-bin/linux/x64/7za"
''',
    "patch": r'''
echo "patch $*" >> "$STATE/calls"
cat > /dev/null
''',
}

# Other programs that change the package set-up: a call reaching one fails the test instead of
# the machine's own.
for _name in ("apt", "apt-cache", "apt-key", "apt-mark", "aptitude", "add-apt-repository"):
    STUBS[_name] = 'echo "$(basename "$0") $*" >> "$STATE/calls"\nexit 1\n'

PKGS = ("g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 xvfb xauth "
        "x11-utils cmake ninja-build clang libclang-rt-14-dev dpkg-dev googletest "
        "fonts-wqy-microhei imagemagick openssl python3 osslsigncode nsis locales libwine-dev").split()
DEBIAN_SOURCES = ("Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm bookworm-updates\n"
                  "Components: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n")


def summary(call):
    """A call without the options every install carries and without the package list."""
    words = call.split()
    if words[:2] == ["apt-get", "install"]:
        t = words[words.index("-t") + 1] if "-t" in words else None
        return "apt-get install" + (" -t " + t if t else "")
    return " ".join(words[:2])


class SetupMachineTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="olvan-setup-machine-")
        self.state = os.path.join(self.tmp, "state")
        self.bin = os.path.join(self.tmp, "bin")
        self.etc = os.path.join(self.tmp, "etc-apt")
        self.lists = os.path.join(self.tmp, "lists")
        self.deps = os.path.join(self.tmp, "deps")
        for d in (self.state, self.bin, self.lists, os.path.join(self.etc, "sources.list.d")):
            os.makedirs(d)
        for name, body in STUBS.items():
            path = os.path.join(self.bin, name)
            with open(path, "w") as f:
                f.write("#!/bin/bash\n" + body)
            os.chmod(path, 0o755)
        self.write("etc-apt/sources.list.d/debian.sources", DEBIAN_SOURCES)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def write(self, rel, text):
        with open(os.path.join(self.tmp, rel), "w") as f:
            f.write(text)

    def installed_machine(self):
        self.write("state/arch", "i386\n")
        self.write("state/installed", "".join(p + " 1.0\n" for p in PKGS) +
                   "qemu-user 1:10.0.2+ds-1~bpo12+1\n")
        self.write("etc-apt/sources.list.d/olvan-deb-src.sources", "Types: deb-src\n")
        self.write("etc-apt/sources.list.d/olvan-backports.sources", "Types: deb\n")
        tx = os.path.join(self.deps, "tinyxml", "tinyxml-2.6.2")
        os.makedirs(tx)
        for f in ("tinyxml.cpp", "tinyxml.h"):
            open(os.path.join(tx, f), "w").close()
        for d in ("win/ia32/7za.exe", "linux/x64/7za"):
            p = os.path.join(self.deps, "npm/node_modules/7zip-bin", d)
            os.makedirs(os.path.dirname(p), exist_ok=True)
            open(p, "w").close()

    def run_script(self):
        env = dict(os.environ, STATE=self.state, PATH=self.bin + os.pathsep + os.environ["PATH"],
                   OLVAN_APT_ETC=self.etc, OLVAN_APT_LISTS=self.lists, OLVAN_DEPS=self.deps,
                   OLVAN_APT_TRIES="2", OLVAN_APT_PAUSE="0")
        if os.path.exists(os.path.join(self.state, "calls")):
            os.remove(os.path.join(self.state, "calls"))
        p = subprocess.run(["bash", SCRIPT], env=env, cwd=self.tmp, capture_output=True, text=True,
                           timeout=60)
        calls = []
        if os.path.exists(os.path.join(self.state, "calls")):
            with open(os.path.join(self.state, "calls")) as f:
                calls = [summary(c) for c in f.read().splitlines()]
        return p, calls

    def test_mirror_mid_sync_and_unresolvable_install_end_ready(self):
        self.write("state/update.plan", "midsync\nmidsync\n")
        self.write("state/broken", "")
        p, calls = self.run_script()
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(calls, ["dpkg --print-foreign-architectures", "dpkg --add-architecture",
                                 "apt-get update", "apt-get update", "apt-get install",
                                 "apt-get install -t bookworm",
                                 "apt-get install -t bookworm-backports", "apt-get source",
                                 "patch -s", "npm install"])
        self.assertIn("setup-machine: ready", p.stdout)
        with open(os.path.join(self.etc, "sources.list.d", "olvan-deb-src.sources")) as f:
            self.assertIn("Types: deb-src\nURIs: http://deb.debian.org/debian", f.read())

    def test_lists_written_by_a_failed_run_are_fetched_by_the_next(self):
        self.write("state/update.plan", "sig\n")
        p, calls = self.run_script()
        self.assertNotEqual(p.returncode, 0)
        self.assertEqual(calls[-1], "apt-get update")  # stopped there, once
        self.assertEqual(calls.count("apt-get update"), 1)
        # Everything else came in meanwhile; one list written by the failed run is wanted.
        self.installed_machine()
        main = ["deb.debian.org_debian_dists_bookworm_main_binary-%s_Packages" % a
                for a in ("amd64", "i386")]
        backports = "deb.debian.org_debian_dists_bookworm-backports_main_binary-amd64_Packages"
        sources = "deb.debian.org_debian_dists_bookworm_main_source_Sources"
        for wanted, fetched, then in (("qemu", sources, ["apt-get install -t bookworm-backports"]),
                                      ("tinyxml", backports, ["apt-get source", "patch -s"])):
            shutil.rmtree(self.lists)
            os.makedirs(self.lists)
            for name in main + [fetched]:
                self.write("lists/" + name, "")
            qemu = "1:7.2" if wanted == "qemu" else "1:10.0.2+ds-1~bpo12+1"
            self.write("state/installed", "".join(p + " 1.0\n" for p in PKGS) +
                       "qemu-user %s\n" % qemu)
            if wanted == "tinyxml":
                shutil.rmtree(os.path.join(self.deps, "tinyxml"))
            p, calls = self.run_script()
            self.assertEqual(p.returncode, 0, p.stderr)
            self.assertEqual(calls, ["dpkg --print-foreign-architectures", "apt-get update"] + then,
                             wanted)

    def test_missing_package_is_installed_after_an_update(self):
        # libwine-dev: the Wine headers that the Windows-values check compiles against.
        self.installed_machine()
        for gone in ("nsis", "libwine-dev"):
            self.write("state/installed", "".join(p + " 1.0\n" for p in PKGS if p != gone) +
                       "qemu-user 1:10.0.2+ds-1~bpo12+1\n")
            p, calls = self.run_script()
            self.assertEqual(p.returncode, 0, p.stderr)
            self.assertEqual(calls, ["dpkg --print-foreign-architectures", "apt-get update",
                                     "apt-get install"], gone)
            self.assertIn("installing " + gone, p.stdout, gone)

    def test_signature_error_stops_even_when_apt_keeps_old_indexes(self):
        self.write("state/update.plan", "sigwarn\n")
        p, calls = self.run_script()
        self.assertNotEqual(p.returncode, 0)
        self.assertEqual(calls[-1], "apt-get update")

    def test_failed_update_that_is_no_index_fetch_stops(self):
        for plan in ("silent", "lock"):  # no error line at all; an error of another kind
            self.write("state/update.plan", plan + "\n" + plan + "\n")
            p, calls = self.run_script()
            self.assertNotEqual(p.returncode, 0, plan)
            self.assertEqual(calls[-1], "apt-get update", plan)

    def test_installed_machine_runs_no_apt_get(self):
        self.installed_machine()  # and no index fetched at all: apt's lists were cleaned
        p, calls = self.run_script()
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(calls, ["dpkg --print-foreign-architectures"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
