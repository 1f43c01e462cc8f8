"""The upgrade a user starts: Setup.exe unpacks the package appended to its own file (or to
the cached MSI copy), extracts the archives with the real 7-Zip console, places the
customization files, runs the agent three times and the installer once, and waits."""
import os
import shutil
import subprocess
import unittest

from olvan_e2e import *  # noqa: F401,F403


def payload():
    """The entries of a whole package: real 7za.exe, three archives, customization files,
    the stand-in agent and installer."""
    tmp = C / "archives"
    tmp.mkdir(exist_ok=True)
    return [
        ("7za.exe", SEVEN_ZIP_WIN.read_bytes()),
        ("Qt.7z", seven_zip(tmp / "Qt.7z", {"Qt/qt.dll": b"qt library", "qt.conf": b"[Paths]"})),
        # An older copy of a customization file, which the placement replaces.
        ("tool.7z", seven_zip(tmp / "tool.7z", {"tool/helper.txt": b"helper",
                                                 "Data/conn_cfg.ini": b"[older]\r\n"})),
        ("UrlCmdCustomCfg.7z",
         seven_zip(tmp / "u.7z", {"UrlCmdCustomCfg/managed.xml": b"<managed/>"})),
        ("locations.xml", b"<locations/>"),
        ("conn_cfg.ini", b"[conn]\r\n"),
        ("Portal-cfg.xml", b"<portal/>"),
        ("a-b-cfg.xml", b"<ab/>"),
        ("plaincfg.xml", b"<plain/>"),
        ("wexApxSvr.exe", STANDIN_AGENT.read_bytes()),
        ("OlvanSetup.exe", STANDIN_INSTALLER.read_bytes()),
    ]


class InstallTest(unittest.TestCase):
    def setUp(self):
        need_wine(self)
        reset_install_machine()
        self.dir = install_folder()
        self.entries = payload()

    def tearDown(self):
        kill_all("Setup.exe", "Setup (1).exe", "wexApxSvr.exe", "OlvanSetup.exe")

    def check_whole_upgrade(self):
        w = WORK
        for name, data in self.entries:
            self.assertEqual((w / name).read_bytes(), data, name)
        self.assertEqual((w / "^Olvan_end^").read_bytes(), b"")
        # Archives extracted into the working folder itself.
        self.assertEqual((w / "Qt" / "qt.dll").read_bytes(), b"qt library")
        self.assertEqual((w / "qt.conf").read_bytes(), b"[Paths]")
        self.assertEqual((w / "tool" / "helper.txt").read_bytes(), b"helper")
        self.assertEqual((w / "UrlCmdCustomCfg" / "managed.xml").read_bytes(), b"<managed/>")
        # Placement: Data for the two fixed names, data\<prefix>\<rest> for "cfg.xml" names.
        self.assertEqual((w / "Data" / "locations.xml").read_bytes(), b"<locations/>")
        self.assertEqual((w / "Data" / "conn_cfg.ini").read_bytes(), b"[conn]\r\n")
        self.assertEqual((w / "Data" / "Portal" / "cfg.xml").read_bytes(), b"<portal/>")
        self.assertEqual((w / "Data" / "a" / "b-cfg.xml").read_bytes(), b"<ab/>")
        self.assertEqual(sorted(p.name for p in (w / "Data").iterdir()),
                         ["Portal", "a", "conn_cfg.ini", "locations.xml"])
        # A "cfg.xml" name without "-" stays where it is.
        self.assertEqual((w / "plaincfg.xml").read_bytes(), b"<plain/>")

        calls = standin_calls()
        self.assertEqual(calls, [
            ("wexApxSvr.exe", "-uninstallwmark"), ("wexApxSvr.exe", "end"),
            ("wexApxSvr.exe", "-setUpdInfo"), ("wexApxSvr.exe", "end"),
            ("wexApxSvr.exe", "-exitwexclient"), ("wexApxSvr.exe", "end"),
            ("OlvanSetup.exe", ""), ("OlvanSetup.exe", "end")])

        log = setup_log()
        wp = "C:\\tmp\\OlvanSetup0"

        def at(line, start=0):
            self.assertIn(line, log[start:], (line, log))
            return log.index(line, start)

        # Each archive: its path, the command, then 7-Zip's output (several lines).
        i = 0
        for archive in ("Qt.7z", "tool.7z", "UrlCmdCustomCfg.7z"):
            i = at(f"{wp}\\{archive}".encode(), i)
            i = at(f'{wp}\\7za.exe x "{wp}\\{archive}" -o"{wp}" -y'.encode(), i)
            self.assertIn(b"Everything is Ok", log[i + 1:i + 40], archive)
        self.assertNotIn(b"unpack managecfg fail!", log)
        started = [l for l in log if l.startswith(b"is-stp started at ")]
        ended = [l for l in log if l.startswith(b"is-stp ended at ")]
        self.assertEqual(len(started), 1, log)
        self.assertRegex(started[0], rb"^is-stp started at \d+$")
        self.assertLess(int(started[0].split()[-1]), 600)
        self.assertRegex(ended[0], rb"^is-stp ended at [1-9]\d*\.$")
        self.assertLess(log.index(started[0]), log.index(ended[0]))
        assert_run_ends(self, log, 0)
        self.assertNotIn(b"install failed", b"\n".join(log))
        utl = module_log("UtlFile")
        self.assertEqual(utl[-1], b"utl_FileUnpack: The file is end.")

    def test_exe_route_whole_upgrade(self):
        stub = SETUP.read_bytes()
        exe = self.dir / "Setup.exe"
        exe.write_bytes(packed(stub, self.entries))
        # What an earlier run left: stray files go, an old managed configuration is replaced,
        # the Vyx folder is removed.
        (WORK / "Vyx").mkdir(parents=True)
        (WORK / "Vyx" / "v.txt").write_bytes(b"v")
        (WORK / "UrlCmdCustomCfg" / "old").mkdir(parents=True)
        (WORK / "UrlCmdCustomCfg" / "stale.xml").write_bytes(b"stale")
        (WORK / "UrlCmdCustomCfg" / "old" / "x").write_bytes(b"x")
        (WORK / "stray.txt").write_bytes(b"stray")
        self.assertEqual(run_setup(exe), 0)
        self.check_whole_upgrade()
        # The run's own lines at their places among the Parts' lines, which keep their order.
        log = setup_log()
        self.assertEqual(log[0], start_line(win_path(exe)))
        self.assertRegex(log[1], rb"^The C: free space is \d+M\.$")
        wp = "C:\\tmp\\OlvanSetup0"
        ended = [l for l in log if l.startswith(b"is-stp ended at ")]
        assert_subsequence(self, log, [log[1], f"{wp}\\Qt.7z".encode(), f"{wp}\\tool.7z".encode(),
                                       f"{wp}\\UrlCmdCustomCfg.7z".encode(), *ended,
                                       end_line(0), b"Exit main"])
        self.assertEqual([l for l in log if l.startswith(b"Setup: ")], [log[0], log[-2]])
        self.assertFalse((WORK / "Vyx").exists())
        self.assertFalse((WORK / "stray.txt").exists())
        self.assertEqual(tree(WORK / "UrlCmdCustomCfg"), ["managed.xml"])
        self.assertNotIn(b"msi install.", setup_log())
        # Each program started by its quoted path, the agent hidden (0) and the installer
        # shown (5), in the setup's own current folder (here the folder the test runs in).
        cwd = "Z:" + os.getcwd().replace("/", "\\")
        agent, installer = (f'"C:\\tmp\\OlvanSetup0\\{n}"' for n in ("wexApxSvr.exe", "OlvanSetup.exe"))
        self.assertEqual(STARTS.read_text().splitlines(), [
            f"wexApxSvr.exe|{agent} -uninstallwmark|0|{cwd}",
            f"wexApxSvr.exe|{agent} -setUpdInfo|0|{cwd}",
            f"wexApxSvr.exe|{agent} -exitwexclient|0|{cwd}",
            f"OlvanSetup.exe|{installer}|5|{cwd}"])

    def test_signed_carrier_installs_like_the_unsigned_one(self):
        if not (shutil.which("openssl") and shutil.which("osslsigncode")):
            self.skipTest("openssl or osslsigncode missing (scripts/setup-machine.sh installs them)")
        # A release as the README shows it: olvpack build, then olvpack sign with a throwaway
        # CA's code-signing certificate, which also verifies the signed carrier.
        work = install_folder("signing")
        (work / "payload").mkdir()
        for name, data in self.entries:
            (work / "payload" / name).write_bytes(data)
        (work / "ext.cnf").write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                      "extendedKeyUsage=codeSigning\n")
        for cmd in (
                "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 "
                "-subj /CN=Throwaway-Root -addext basicConstraints=critical,CA:TRUE "
                "-addext keyUsage=critical,keyCertSign",
                "openssl req -newkey rsa:2048 -nodes -keyout cs.key -out cs.csr -subj /CN=Throwaway",
                "openssl x509 -req -in cs.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 "
                "-extfile ext.cnf -out cs.crt"):
            subprocess.run(cmd.split(), cwd=work, check=True, capture_output=True)
        olvpack = str(host_tool("olvpack"))
        exe = self.dir / "Setup.exe"
        subprocess.run([olvpack, "build", "--stub", str(SETUP), "--payload", str(work / "payload"),
                        "--output", str(exe)], check=True, capture_output=True)
        signed = subprocess.run([olvpack, "sign", str(exe), "--cert", str(work / "cs.crt"),
                                 "--key", str(work / "cs.key"), "--name", "Olvan Setup",
                                 "--ca-file", str(work / "ca.crt")], capture_output=True)
        self.assertEqual(signed.returncode, 0, signed.stderr)
        listed = subprocess.run([olvpack, "list", str(exe)], capture_output=True)
        self.assertIn(b" (bound)\n", listed.stdout)
        self.assertEqual(run_setup(exe), 0)
        self.check_whole_upgrade()

    def test_program_that_olvpack_did_not_bind_installs(self):
        # The package appended by other means: the program's digest slot stays empty.
        exe = self.dir / "Setup.exe"
        exe.write_bytes(carrier(SETUP.read_bytes(), package(self.entries)))
        self.assertEqual(run_setup(exe), 0)
        self.check_whole_upgrade()
        self.assertEqual(setup_log()[0], start_line(win_path(exe), bound=False))

    def test_msi_route_with_existing_copy_beside_a_renamed_program(self):
        reg_add("HKLM\\SOFTWARE\\Olvan", "InstallByMsi", "REG_DWORD", 1)
        # A renamed download still finds "OlvanSetup.msi" in its own folder.
        exe = self.dir / "Setup (1).exe"
        # Program and MSI package built from one payload: the program vouches for the copy.
        exe.write_bytes(packed(SETUP.read_bytes(), self.entries))
        msi = b"MSI database stand-in" * 1000
        (self.dir / "OlvanSetup.msi").write_bytes(
            packed(msi, self.entries, MSI_OFFSET))
        self.assertEqual(run_setup(exe), 0)
        log = setup_log()
        i = log.index(b"msi install.")
        self.assertEqual(log[i + 1:i + 11], [b"can't get source path."] * 10)
        self.assertEqual(log[i + 11], b"InstallScript has copy msi file.")
        self.check_whole_upgrade()

    def test_msi_route_copies_the_source_when_no_copy_exists(self):
        reg_add("HKLM\\SOFTWARE\\Olvan", "InstallByMsi", "REG_DWORD", 1)
        src = install_folder("msisource") / "Client.msi"
        src.write_bytes(packed(b"MSI", self.entries, MSI_OFFSET))
        reg_add("HKLM\\SOFTWARE\\Olvan", "MsiSourceName", "REG_SZ", win_path(src))
        exe = self.dir / "Setup.exe"
        exe.write_bytes(SETUP.read_bytes())
        self.assertEqual(run_setup(exe), 0)
        self.assertEqual((self.dir / "OlvanSetup.msi").read_bytes(), src.read_bytes())
        log = setup_log()
        self.assertNotIn(b"can't get source path.", log)
        self.check_whole_upgrade()
        # Copied once, under a name of the setup's own renamed into place, and unpacked once.
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["OlvanSetup.msi", "Setup.exe"])
        self.assertEqual(len([l for l in module_log("UtlFile") if b"szSrcAbsFile" in l]), 1)

    def test_msi_route_replaces_a_stale_copy_from_the_source(self):
        # A copy from an earlier build stays beside the program; the source holds the
        # package the program was built with.
        reg_add("HKLM\\SOFTWARE\\Olvan", "InstallByMsi", "REG_DWORD", 1)
        src = install_folder("msisource") / "Client.msi"
        src.write_bytes(packed(b"MSI", self.entries, MSI_OFFSET))
        reg_add("HKLM\\SOFTWARE\\Olvan", "MsiSourceName", "REG_SZ", win_path(src))
        stale = self.entries[:1] + [("wexApxSvr.exe", b"stale agent")]
        (self.dir / "OlvanSetup.msi").write_bytes(packed(b"MSI", stale, MSI_OFFSET))
        exe = self.dir / "Setup.exe"
        exe.write_bytes(packed(SETUP.read_bytes(), self.entries))
        self.assertEqual(run_setup(exe), 0)
        self.assertEqual((self.dir / "OlvanSetup.msi").read_bytes(), src.read_bytes())
        self.check_whole_upgrade()

    def test_both_routes_from_a_folder_the_code_page_cannot_spell(self):
        # A Downloads folder of a user named in Cyrillic on an English system (code page
        # 1252): the ANSI calls see it as "????", the file system by its real name.
        # Wine names host files in the host's code set: the locale must be one glibc knows
        # (the build makes en_US.UTF-8 in its own folder).
        locales = Path(os.environ.get("OLVAN_BUILD_DIR", "build/win32")) / "locales"
        if not (locales / "en_US.UTF-8" / "LC_CTYPE").exists():
            self.skipTest(f"no en_US.UTF-8 locale in {locales}")
        english = dict(ENGLISH, LOCPATH=str(locales))
        folder = install_folder("users/\u0418\u0432\u0430\u043d/Downloads")
        ansi = "C:\\users\\????\\Downloads"
        exe = folder / "Setup.exe"
        exe.write_bytes(packed(SETUP.read_bytes(), self.entries))
        self.assertEqual(run_setup(exe, english), 0)
        self.check_whole_upgrade()
        # The start line spells the program's path whole, each character the code page
        # lacks as its UTF-16 unit.
        self.assertEqual(setup_log()[0], start_line(
            "C:\\users\\\\u0418\\u0432\\u0430\\u043d\\Downloads\\Setup.exe"))
        self.assertIn(f"utl_FileUnpack: szSrcAbsFile = {ansi}\\Setup.exe".encode(),
                      module_log("UtlFile"))

        # The MSI route, with the copy made from the installed product's source.
        reset_install_machine()
        reg_add("HKLM\\SOFTWARE\\Olvan", "InstallByMsi", "REG_DWORD", 1)
        src = install_folder("msisource") / "Client.msi"
        src.write_bytes(packed(b"MSI", self.entries, MSI_OFFSET))
        reg_add("HKLM\\SOFTWARE\\Olvan", "MsiSourceName", "REG_SZ", win_path(src))
        exe.write_bytes(SETUP.read_bytes())
        self.assertEqual(run_setup(exe, english), 0)
        self.assertEqual((folder / "OlvanSetup.msi").read_bytes(), src.read_bytes())
        self.check_whole_upgrade()
        self.assertIn(f"utl_FileUnpack: szSrcAbsFile = {ansi}\\OlvanSetup.msi".encode(),
                      module_log("UtlFile"))


if __name__ == "__main__":
    unittest.main()
