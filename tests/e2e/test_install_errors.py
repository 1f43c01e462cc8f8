"""Where the install sequence stops, with the number the setup log gives, the reason line
before it and the exit code a deployment tool reads, and the failures it goes on after."""
import hashlib
import struct
import unittest

from olvan_e2e import *  # noqa: F401,F403


def agent_and_installer():
    return [("wexApxSvr.exe", STANDIN_AGENT.read_bytes()),
            ("OlvanSetup.exe", STANDIN_INSTALLER.read_bytes())]


class InstallErrorTest(unittest.TestCase):
    def setUp(self):
        need_wine(self)
        reset_install_machine()
        self.dir = install_folder()
        self.exe = self.dir / "Setup.exe"

    def tearDown(self):
        kill_all("Setup.exe", "wexApxSvr.exe", "OlvanSetup.exe")

    def run_with(self, data, code=None, env=None, starter=False):
        """Runs the carrier (through the starter that passes a table of inherited files, when
        starter is set); the exit code must be code, or the failure's own number."""
        self.exe.write_bytes(data)
        if starter:
            self.code = wine(STARTER, win_path(self.exe), env=env or ENGLISH, timeout=240).returncode
        else:
            self.code = run_setup(self.exe, env)
        if code is not None:
            self.assertEqual(self.code, exit_code(code))
        return setup_log()

    def assert_failed(self, log, number):
        self.assertIn(f"install failed with Err {number}.".encode(), log)
        self.assertEqual(log[-1], b"Exit main")
        self.assertEqual(self.code, exit_code(number))

    def test_351_working_folder_cannot_be_made(self):
        (C / "tmp").write_bytes(b"a file where the folder belongs")
        log = self.run_with(packed(SETUP.read_bytes(), agent_and_installer()))
        self.assert_failed(log, 351)
        self.assertEqual(log[-3], b"utl_GetTempWorkPath: a file stands at C:\\tmp.")

    def test_352_at_exactly_530000_bytes_and_530001_passes_the_size_check(self):
        stub = SETUP.read_bytes()
        log = self.run_with(stub + b"\0" * (EXE_OFFSET - len(stub)))
        self.assert_failed(log, 352)
        reset_install_machine()
        # One byte of package passes the size check; the unpacker then misses its marker.
        log = self.run_with(stub + b"\0" * (EXE_OFFSET - len(stub)) + b"\x01")
        self.assert_failed(log, 159)

    def test_unpacker_number_reaches_the_log(self):
        pkg = mixed(PACKAGE_MARKER) + package_entry("big", b"x", data_len=10 ** 6)
        log = self.run_with(carrier(SETUP.read_bytes(), pkg))
        self.assert_failed(log, 163)
        self.assertIn(b"utl_FileUnpack:Err: 163.", module_log("UtlFile"))

    def test_167_package_changed_after_the_build_starts_nothing(self):
        # The genuine program with a package that is not the one it was built with: one byte
        # of the installer's content changed after olvpack bound the program to its package.
        entries = [("7za.exe", STANDIN_7ZA.read_bytes())] + agent_and_installer()
        data = bytearray(packed(SETUP.read_bytes(), entries))
        first = EXE_OFFSET + len(PACKAGE_MARKER) + 8 + len("7za.exe")  # olvpack sorts by name
        data[first + 10] ^= 0x01
        log = self.run_with(bytes(data))
        self.assert_failed(log, 167)
        self.assertEqual(module_log("UtlFile")[-1], b"utl_FileUnpack:Err: 167.")
        self.assertEqual(standin_calls(), [])  # neither 7-Zip, the agent nor the installer
        # Nothing of the refused package stays; the reason names the carrier, the package's
        # digest and the program's.
        self.assertEqual(tree(WORK), [])
        read = hashlib.sha256(data[EXE_OFFSET:]).hexdigest()
        self.assertRegex(log[-3], rb"^utl_FileUnpack: the package of .*\\Setup\.exe has sha256 "
                         + read.encode() + rb"; the program is bound to [0-9a-f]{64}\.$")

    def test_168_package_read_into_the_signature_starts_nothing(self):
        # A program that holds no digest, whose header names a certificate table that starts
        # inside the installer's content: the agent before it is written, then refused.
        stub = bytearray(SETUP.read_bytes())
        pkg = package(agent_and_installer())
        table = EXE_OFFSET + len(pkg) - 100
        pe = struct.unpack_from("<I", stub, 0x3c)[0]
        struct.pack_into("<II", stub, pe + 24 + 92 + 4 + 4 * 8, table, 200)
        log = self.run_with(carrier(bytes(stub), pkg) + b"\0" * 100)
        self.assert_failed(log, 168)
        self.assertEqual(standin_calls(), [])
        self.assertEqual(tree(WORK), [])
        self.assertIn(b"runs into the program's certificate table", log[-3])

    def test_167_foreign_msi_beside_a_bound_program_starts_nothing(self):
        # The copy beside the program and the source it is copied from again both hold
        # another package than the one the program was built with.
        reg_add("HKLM\\SOFTWARE\\Olvan", "InstallByMsi", "REG_DWORD", 1)
        foreign = packed(b"MSI", [("7za.exe", STANDIN_7ZA.read_bytes())] + agent_and_installer(),
                         MSI_OFFSET)
        src = install_folder("msisource") / "Client.msi"
        src.write_bytes(foreign + b"\0")  # another file: the copy is seen to be replaced
        reg_add("HKLM\\SOFTWARE\\Olvan", "MsiSourceName", "REG_SZ", win_path(src))
        (self.dir / "OlvanSetup.msi").write_bytes(foreign)
        log = self.run_with(packed(SETUP.read_bytes(), agent_and_installer()))
        self.assert_failed(log, 167)
        self.assertEqual(standin_calls(), [])
        self.assertEqual(tree(WORK), [])
        self.assertEqual((self.dir / "OlvanSetup.msi").read_bytes(), src.read_bytes())
        reasons = [l for l in log if l.startswith(b"utl_FileUnpack: the package of ")]
        self.assertEqual(len(reasons), 2, log)
        self.assertIn(b"\\OlvanSetup.msi has sha256 ", reasons[1])

    def test_355_without_the_agent(self):
        log = self.run_with(packed(SETUP.read_bytes(),
                                   [("OlvanSetup.exe", STANDIN_INSTALLER.read_bytes())]))
        self.assert_failed(log, 355)
        self.assertEqual(standin_calls(), [])

    def test_357_without_the_installer_and_old_managed_config_removed(self):
        old = WORK / "UrlCmdCustomCfg"
        (old / "sub").mkdir(parents=True)
        (old / "old.xml").write_bytes(b"old")
        (old / "sub" / "deep.xml").write_bytes(b"deep")
        log = self.run_with(packed(SETUP.read_bytes(),
                                   [("wexApxSvr.exe", STANDIN_AGENT.read_bytes())]))
        self.assert_failed(log, 357)
        self.assertFalse(old.exists())
        self.assertEqual([c for c in standin_calls() if c[1] != "end"],
                         [("wexApxSvr.exe", "-uninstallwmark"), ("wexApxSvr.exe", "-setUpdInfo"),
                          ("wexApxSvr.exe", "-exitwexclient")])

    def test_missing_qt_and_unsuccessful_extractions_do_not_stop_the_sequence(self):
        # The archiver prints no "Everything is Ok": tool.7z and the managed configuration
        # fail to extract, Qt.7z is not there at all; the upgrade still runs to its end.
        # The setup is started with a C runtime's table of inherited files, as a spawn from
        # another program would: 7-Zip gets none of it. (The starter's table does reach the
        # program it starts: shown on the stand-in itself.)
        (self.dir / "7za.exe").write_bytes(STANDIN_7ZA.read_bytes())
        probe = wine(STARTER, win_path(self.dir / "7za.exe"), timeout=60).stdout
        self.assertIn(b"7-Zip stand-in received: cbReserved2 %d, lpReserved2 set." % (4 + 3 * 5),
                      probe)
        entries = [("7za.exe", STANDIN_7ZA.read_bytes()), ("tool.7z", b"7z?"),
                   ("UrlCmdCustomCfg.7z", b"7z?")] + agent_and_installer()
        log = self.run_with(packed(SETUP.read_bytes(), entries), code=3010,
                            env={**ENGLISH, "OLVAN_STANDIN_EXIT": "3010"}, starter=True)
        self.assertEqual(log.count(b"7-Zip stand-in received: cbReserved2 0, lpReserved2 none."),
                         2, log)
        self.assertEqual(log[-2], b"OlvanSetup.exe ended with exit code 3010.")
        wp = "C:\\tmp\\OlvanSetup0"
        self.assertIn(f"{wp}\\Qt.7z".encode(), log)
        self.assertNotIn(f'{wp}\\7za.exe x "{wp}\\Qt.7z" -o"{wp}" -y'.encode(), log)
        self.assertIn(f'{wp}\\7za.exe x "{wp}\\tool.7z" -o"{wp}" -y'.encode(), log)
        self.assertIn(b"7-Zip stand-in: nothing was extracted", log)
        self.assertIn(b"unpack managecfg fail!", log)
        self.assertTrue((WORK / "Qt").is_dir())
        self.assertTrue(any(l.startswith(b"is-stp ended at ") for l in log), log)
        self.assertFalse(any(l.startswith(b"install failed") for l in log), log)
        self.assertEqual(standin_calls()[-2:], [("OlvanSetup.exe", ""), ("OlvanSetup.exe", "end")])

    def test_installer_that_never_appears(self):
        entries = [("wexApxSvr.exe", STANDIN_AGENT.read_bytes()),
                   ("OlvanSetup.exe", b"not a program")]
        log = self.run_with(packed(SETUP.read_bytes(), entries), code=1603)
        self.assertIn(b"C:\\tmp\\OlvanSetup0\\OlvanSetup.exe could not be started, error 193.",
                      log)
        i = log.index(b"is-stp started at 600")
        self.assertEqual(log[i + 1], b"is-stp ended at 0.")
        self.assertFalse(any(l.startswith(b"install failed") for l in log), log)


if __name__ == "__main__":
    unittest.main()
