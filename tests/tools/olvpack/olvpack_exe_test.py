"""olvpack.exe on the real Setup.exe, under Wine. build --version: the version is read back by
olvpack list and by Windows' own version calls (version_probe.exe); the stamped carrier differs
from the unstamped one only inside the version record and the checksum, and its checksum is
the image loader's. verify of a signed carrier (signed here by the host's osslsigncode with a
throwaway certificate) where no osslsigncode.exe exists, as on most Windows machines."""
import os
import shutil
import struct
import subprocess
import unittest
from pathlib import Path

EMULATOR = os.environ["OLVAN_EMULATOR"]
OLVPACK = os.environ["OLVAN_OLVPACK"]
SETUP = os.environ["OLVAN_SETUP_EXE"]
PROBE = os.environ["OLVAN_VERSION_PROBE"]
WORK = Path(os.environ["OLVAN_WORK"])


def run(*args):
    r = subprocess.run([EMULATOR, *map(str, args)], capture_output=True, cwd=WORK)
    return r.returncode, (r.stdout + r.stderr).decode(errors="replace").replace("\r", "")


def pe_checksum(data, at):
    s = 0
    padded = data + b"\0" * (len(data) % 2)
    for i in range(0, len(padded), 2):
        if i in (at, at + 2):
            continue
        s += padded[i] | padded[i + 1] << 8
        s = (s & 0xFFFF) + (s >> 16)
    s = (s & 0xFFFF) + (s >> 16)
    return s + len(data)


class VersionStamp(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        (WORK / "payload").mkdir(parents=True)
        for name in ("wexApxSvr.exe", "OlvanSetup.exe"):
            (WORK / "payload" / name).write_bytes(b"stand-in " + name.encode())
        shutil.copy(SETUP, WORK / "Setup.exe")
        cls.built = {}
        for out, version in (("A.exe", None), ("B.exe", "65535.65535.65535.65535"),
                             ("C.exe", "1.2.3.4")):
            args = ["build", "--stub", "Setup.exe", "--payload", "payload", "--output", out]
            rc, text = run(OLVPACK, *args, *(["--version", version] if version else []))
            assert rc == 0, text
            cls.built[out] = (WORK / out).read_bytes()

    def test_windows_reads_the_stamped_version(self):
        for out, want in (("A.exe", "1.0.0.0"), ("B.exe", "65535.65535.65535.65535"),
                          ("C.exe", "1.2.3.4")):
            rc, text = run(PROBE, out)
            self.assertEqual(rc, 0, text)
            self.assertEqual(text, f"file {want}\nproduct {want}\nFileVersion {want}\n"
                                   f"ProductVersion {want}\n")

    def test_list_prints_the_version_and_verify_walks_it(self):
        rc, text = run(OLVPACK, "list", "C.exe")
        self.assertEqual(rc, 0, text)
        self.assertIn("version: 1.2.3.4\n", text)
        rc, text = run(OLVPACK, "verify", "B.exe")
        self.assertEqual(rc, 0, text)

    def test_only_the_version_record_and_the_checksum_change(self):
        a = self.built["A.exe"]
        pe = struct.unpack_from("<I", a, 0x3C)[0]
        checksum = pe + 24 + 64
        key = "VS_VERSION_INFO".encode("utf-16-le")
        # The record's key, not the program's own copy of that name in its read-only data: the
        # record's header says its value is a 52-byte fixed file information block.
        at = [i for i in range(len(a)) if a.startswith(key, i)]
        record = next(i - 6 for i in at if struct.unpack_from("<H", a, i - 4)[0] == 52)
        record_end = record + struct.unpack_from("<H", a, record)[0]
        for out in ("B.exe", "C.exe"):
            b = self.built[out]
            self.assertEqual(len(a), len(b))
            diff = [i for i in range(len(a)) if a[i] != b[i]]
            outside = [i for i in diff if not (record <= i < record_end or
                                               checksum <= i < checksum + 4)]
            self.assertEqual(outside, [], out)
            self.assertTrue(any(record <= i < record_end for i in diff), out)
            self.assertEqual(struct.unpack_from("<I", b, checksum)[0], pe_checksum(b, checksum))

    def test_refused_for_an_msi_stub_and_a_bad_version(self):
        rc, text = run(OLVPACK, "build", "--stub", "Setup.exe", "--payload", "payload",
                       "--output", "D.msi", "--msi", "--allow-incomplete", "--version", "1.2.3.4")
        self.assertEqual(rc, 1, text)
        self.assertIn("--version stamps Setup.exe only", text)
        for bad in ("1.2.3", "1.2.3.65536", "1.2.3.4.5", "1.2.3.x", "-1.2.3.4", "1..2.3"):
            rc, text = run(OLVPACK, "build", "--stub", "Setup.exe", "--payload", "payload",
                           "--output", "D.exe", "--version", bad)
            self.assertEqual(rc, 2, bad + ": " + text)
        self.assertFalse((WORK / "D.exe").exists())
        self.assertFalse((WORK / "D.msi").exists())


class SignedCarrierWithoutOsslsigncode(unittest.TestCase):
    def test_chain_not_checked_is_not_success_and_a_change_still_fails(self):
        if not (shutil.which("openssl") and shutil.which("osslsigncode")):
            self.skipTest("openssl or osslsigncode missing (scripts/setup-machine.sh installs them)")
        work = WORK / "signed"
        shutil.rmtree(work, ignore_errors=True)
        (work / "payload").mkdir(parents=True)
        for name in ("wexApxSvr.exe", "OlvanSetup.exe"):
            (work / "payload" / name).write_bytes(b"stand-in")
        rc, text = run(OLVPACK, "build", "--stub", SETUP, "--payload", "signed/payload",
                       "--output", "signed/U.exe")
        self.assertEqual(rc, 0, text)
        for cmd in ("openssl req -x509 -newkey rsa:2048 -nodes -keyout t.key -out t.crt -days 2 "
                    "-subj /CN=Throwaway-Signer -addext extendedKeyUsage=codeSigning",
                    "osslsigncode sign -certs t.crt -key t.key -h sha256 -n Olvan "
                    "-in U.exe -out S.exe"):
            subprocess.run(cmd.split(), cwd=work, check=True, capture_output=True)
        rc, text = run(OLVPACK, "verify", "signed/S.exe")
        self.assertEqual(rc, 3, text)
        self.assertIn("signature present, chain not checked: ", text)
        self.assertIn("signtool verify /pa", text)
        self.assertNotIn(": ok,", text)
        rc, text = run(OLVPACK, "verify", "signed/S.exe", "--no-signature-check")
        self.assertEqual(rc, 0, text)
        self.assertIn("signer: CN=Throwaway-Signer\n", text)
        self.assertIn("signature: not checked", text)
        self.assertIn("signed/S.exe: ok,", text)
        data = bytearray((work / "S.exe").read_bytes())
        data[0x4000] ^= 1  # in the program's code, covered by the signature
        (work / "T.exe").write_bytes(data)
        rc, text = run(OLVPACK, "verify", "signed/T.exe", "--no-signature-check")
        self.assertEqual(rc, 1, text)
        self.assertIn("changed after signing", text)


if __name__ == "__main__":
    unittest.main()
