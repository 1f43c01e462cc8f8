"""Where the install sequence stops, with the number the setup log gives, the reason line
before it and the exit code a deployment tool reads, and the failures it goes on after."""
import hashlib
import os
import struct
import subprocess
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

    def assert_failed(self, log, number, code=None, bound=True):
        """The run's first lines, then the Parts' failure line with its meaning right after
        it, the end line and "Exit main"."""
        code = number if code is None else code
        self.assertEqual(log[0], start_line(win_path(self.exe), bound))
        self.assertRegex(log[1], rb"^The C: free space is \d+M\.$")
        i = log.index(f"install failed with Err {number}.".encode())
        self.assertEqual(log[i + 1:], [error_line(number), end_line(code), b"Exit main"])
        self.assertEqual(self.code, exit_code(code))

    def test_351_working_folder_cannot_be_made(self):
        (C / "tmp").write_bytes(b"a file where the folder belongs")
        log = self.run_with(packed(SETUP.read_bytes(), agent_and_installer()))
        self.assert_failed(log, 351)
        self.assertEqual(log[-5], b"utl_GetTempWorkPath: a file stands at C:\\tmp.")

    def test_351_names_the_longest_entry_held_in_the_old_working_folder(self):
        # A name of 100 accented letters, held open without delete sharing: the line before
        # 351 gives it as far as names are shown (96 escaped letters), the error and why.
        # Wine names host files in the host's code set: a locale glibc knows (the build
        # makes en_US.UTF-8 in its own folder).
        locales = Path(os.environ.get("OLVAN_BUILD_DIR", "build/win32")) / "locales"
        if not (locales / "en_US.UTF-8" / "LC_CTYPE").exists():
            self.skipTest(f"no en_US.UTF-8 locale in {locales}")
        english = dict(ENGLISH, LOCPATH=str(locales))
        name = "\u00e9" * 100
        (WORK / name).parent.mkdir(parents=True)
        (WORK / name).write_bytes(b"held")
        path = "utf8:" + (win_path(WORK) + "\\" + name).encode().hex()
        # Read access, sharing reading and writing only.
        holder = subprocess.Popen(["wine", str(DRIVER), "hold-file", path, "80000000", "3"],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  env={**os.environ, "WINEDEBUG": "-all", **english})
        try:
            self.assertEqual(holder.stdout.readline().strip(), b"held")
            log = self.run_with(packed(SETUP.read_bytes(), agent_and_installer()), env=english)
        finally:
            holder.communicate(b"", timeout=60)
        self.assert_failed(log, 351)
        self.assertEqual(log[-5], b"utl_GetTempWorkPath: " + b"\\u00e9" * 96 +
                         b"... below C:\\tmp could not be removed or moved aside, error 32 "
                         b"(another program holds it).")

    def test_352_at_exactly_530000_bytes_and_530001_passes_the_size_check(self):
        stub = SETUP.read_bytes()
        log = self.run_with(stub + b"\0" * (EXE_OFFSET - len(stub)))
        self.assert_failed(log, 352, bound=False)
        reset_install_machine()
        # One byte of package passes the size check; the unpacker then misses its marker.
        log = self.run_with(stub + b"\0" * (EXE_OFFSET - len(stub)) + b"\x01")
        self.assert_failed(log, 159, bound=False)

    def test_unpacker_number_reaches_the_log(self):
        pkg = mixed(PACKAGE_MARKER) + package_entry("big", b"x", data_len=10 ** 6)
        log = self.run_with(carrier(SETUP.read_bytes(), pkg))
        self.assert_failed(log, 163, bound=False)
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
        self.assertRegex(log[-5], rb"^utl_FileUnpack: the package of .*\\Setup\.exe has sha256 "
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
        self.assert_failed(log, 168, bound=False)
        self.assertEqual(standin_calls(), [])
        self.assertEqual(tree(WORK), [])
        self.assertIn(b"runs into the program's certificate table", log[-5])

    def test_168_msi_copy_read_into_its_signature_starts_nothing(self):
        # The same for the copy an unbound program finds beside it (used as it is): the
        # agent written before the table, then refused, and nothing of it stays.
        reg_add("HKLM\\SOFTWARE\\Olvan", "InstallByMsi", "REG_DWORD", 1)
        stub = bytearray(SETUP.read_bytes())
        pkg = package(agent_and_installer())
        pe = struct.unpack_from("<I", stub, 0x3c)[0]
        struct.pack_into("<II", stub, pe + 24 + 92 + 4 + 4 * 8, MSI_OFFSET + len(pkg) - 100, 200)
        (self.dir / "OlvanSetup.msi").write_bytes(carrier(bytes(stub), pkg, MSI_OFFSET) + b"\0" * 100)
        log = self.run_with(carrier(SETUP.read_bytes(), pkg))
        self.assert_failed(log, 168, bound=False)
        self.assertEqual(standin_calls(), [])
        self.assertEqual(tree(WORK), [])
        self.assertIn(b"runs into the program's certificate table", log[-5])

    def test_352_msi_copy_no_longer_than_the_offset(self):
        # A copy beside an unbound program (used as it is) that ends before the package
        # would start: the sequence's own number for a carrier of no package's size.
        reg_add("HKLM\\SOFTWARE\\Olvan", "InstallByMsi", "REG_DWORD", 1)
        (self.dir / "OlvanSetup.msi").write_bytes(b"\0" * MSI_OFFSET)
        log = self.run_with(carrier(SETUP.read_bytes(), package(agent_and_installer())))
        self.assert_failed(log, 352, bound=False)
        self.assertEqual(standin_calls(), [])

    def test_167_foreign_msi_beside_a_bound_program_starts_nothing(self):
        # The copy beside the program and the source it would be copied from again both hold
        # another package than the one the program was built with: the source is refused
        # before anything is written, and the copy stays as it was.
        reg_add("HKLM\\SOFTWARE\\Olvan", "InstallByMsi", "REG_DWORD", 1)
        foreign = packed(b"MSI", [("7za.exe", STANDIN_7ZA.read_bytes())] + agent_and_installer(),
                         MSI_OFFSET)
        src = install_folder("msisource") / "Client.msi"
        src.write_bytes(foreign + b"\0")  # another file: a copy of it would show
        reg_add("HKLM\\SOFTWARE\\Olvan", "MsiSourceName", "REG_SZ", win_path(src))
        (self.dir / "OlvanSetup.msi").write_bytes(foreign)
        log = self.run_with(packed(SETUP.read_bytes(), agent_and_installer()))
        self.assert_failed(log, 167)
        self.assertEqual(standin_calls(), [])
        self.assertEqual(tree(WORK), [])
        self.assertEqual((self.dir / "OlvanSetup.msi").read_bytes(), foreign)
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["OlvanSetup.msi", "Setup.exe"])
        reasons = [l for l in log if l.startswith(b"utl_FileUnpack: the package of ")]
        self.assertEqual(len(reasons), 2, log)
        self.assertIn(b"\\OlvanSetup.msi has sha256 ", reasons[0])
        self.assertIn(b"\\Client.msi has sha256 ", reasons[1])
        self.assertEqual(log[-7:-5], [b"msi: the copy is refused, copying the source again.",
                                      reasons[1]])
        self.assertRegex(log[-5], rb"^msi: the source C:\\msisource\\Client\.msi is refused "
                         rb"with Err 167\.$")

    def test_bound_program_writes_nothing_of_a_foreign_package_cut_short(self):
        # The genuine program, bound to its package, carrying another build's package cut
        # inside its last entry: the walk's own number, and nothing of it in the working
        # folder (an unbound program writes the entries before the cut).
        data = packed(SETUP.read_bytes(), agent_and_installer())
        other = packed(SETUP.read_bytes(), agent_and_installer() + [("a.txt", b"other build")])
        log = self.run_with(data[:EXE_OFFSET] + other[EXE_OFFSET:-40])
        self.assert_failed(log, 163)
        self.assertEqual(tree(WORK), [])
        self.assertEqual(standin_calls(), [])
        self.assertEqual(module_log("UtlFile")[-1], b"utl_FileUnpack:Err: 163.")
        self.assertFalse(any(b"unpack time" in l for l in module_log("UtlFile")))

    def test_msi_copy_that_cannot_be_had_gives_0_with_its_meaning_and_1603(self):
        reg_add("HKLM\\SOFTWARE\\Olvan", "InstallByMsi", "REG_DWORD", 1)
        log = self.run_with(packed(SETUP.read_bytes(), agent_and_installer()))
        self.assert_failed(log, 0, code=1603)
        self.assertEqual(log[-5], b"Network problem, cannot access source file.")
        self.assertEqual(error_line(0), b"Setup: error 0: no MSI copy, or no Qt folder")

    def test_355_without_the_agent(self):
        log = self.run_with(packed(SETUP.read_bytes(),
                                   [("OlvanSetup.exe", STANDIN_INSTALLER.read_bytes())]))
        self.assert_failed(log, 355)
        self.assertEqual(standin_calls(), [])

    def test_357_without_the_installer_and_old_managed_config_removed(self):
        # A managed configuration left by an earlier run goes with the old working folder;
        # one that an archive brought goes when the package has no UrlCmdCustomCfg.7z.
        old = WORK / "UrlCmdCustomCfg"
        (old / "sub").mkdir(parents=True)
        (old / "old.xml").write_bytes(b"old")
        (old / "sub" / "deep.xml").write_bytes(b"deep")
        tool = seven_zip(self.dir / "tool.7z", {"UrlCmdCustomCfg/brought.xml": b"brought",
                                                 "UrlCmdCustomCfg/sub/deep.xml": b"deep"})
        log = self.run_with(packed(SETUP.read_bytes(),
                                   [("7za.exe", SEVEN_ZIP_WIN.read_bytes()), ("tool.7z", tool),
                                    ("wexApxSvr.exe", STANDIN_AGENT.read_bytes())]))
        self.assert_failed(log, 357)
        self.assertTrue((WORK / "tool.7z").exists())
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
        self.assert_outcome(log, 3010)
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

    def assert_outcome(self, log, code, copy=False):
        """The installer's outcome: its full code in the log (Linux sees the low 8 bits of
        the exit code), from the process the setup started or a copy it followed."""
        who = b"a copy the installer started" if copy else b"the one the setup started"
        self.assertRegex(log[-3], f"^OlvanSetup\\.exe ended with exit code {code} "
                         f"\\(0x{code:08X}\\) in process \\d+, ".encode() + who + rb"\.$")
        self.assertEqual(self.code, exit_code(code))
        assert_run_ends(self, log, code, installer=True)
        self.assertFalse(any(l.startswith(b"install failed") for l in log), log)

    def test_installer_that_fails_fails_the_setup(self):
        # Its own failure, another installation in progress, a crash: each is the setup's
        # exit code as it is.
        for code in (1603, 1618, 0xC0000005):
            with self.subTest(code=code):
                reset_install_machine()
                log = self.run_with(packed(SETUP.read_bytes(), agent_and_installer()),
                                    env={**ENGLISH, "OLVAN_STANDIN_EXIT": hex(code),
                                         "OLVAN_STANDIN_MS": "200"})
                self.assert_outcome(log, code)

    def test_copy_the_installer_hands_over_to_decides_and_an_unrelated_one_does_not(self):
        # The installer starts a copy of itself that fails with 1603 and ends at once with 0;
        # a program of the installer's name that nobody started from the setup runs on and
        # ends last, with 3010: it stretches the wait and changes nothing.
        other = install_folder("other") / "OlvanSetup.exe"
        other.write_bytes(STANDIN_INSTALLER.read_bytes())
        unrelated = start(win_path(other), env={**ENGLISH, "OLVAN_STANDIN_EXIT": "3010",
                                                "OLVAN_STANDIN_MS": "15000",
                                                "OLVAN_STANDIN_LOG": "C:\\other\\calls.txt"})
        self.assertTrue(wait_for(lambda: (C / "other" / "calls.txt").exists()))
        log = self.run_with(packed(SETUP.read_bytes(), agent_and_installer()),
                            env={**ENGLISH, "OLVAN_STANDIN_HANDOVER": "1603",
                                 "OLVAN_STANDIN_MS": "1000"})
        self.assertEqual(wait_exit(unrelated), exit_code(3010))
        self.assertEqual((C / "other" / "calls.txt").read_text().splitlines(),
                         ["OlvanSetup.exe|", "OlvanSetup.exe|end"])
        self.assertEqual(standin_calls()[-4:], [("OlvanSetup.exe", ""), ("OlvanSetup.exe", "handover"),
                                                ("OlvanSetup.exe", ""), ("OlvanSetup.exe", "end")])
        self.assertEqual(sum(l.startswith(b"OlvanSetup.exe ended with ") for l in log), 1)
        self.assert_outcome(log, 1603, copy=True)

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
