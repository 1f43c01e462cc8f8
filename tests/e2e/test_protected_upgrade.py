"""A whole upgrade of a client protected by an uninstall password, for each place the
password can come from: the dialog asks, the right password lets the packed Setup.exe
unpack, run the agent three times and the installer once."""
import subprocess
import unittest

from gate_fixtures import *  # noqa: F401,F403

PASSWORD = "Upgrade-2026"


def small_payload():
    return [
        ("7za.exe", SEVEN_ZIP_WIN.read_bytes()),
        ("locations.xml", b"<locations/>"),
        ("wexApxSvr.exe", STANDIN_AGENT.read_bytes()),
        ("OlvanSetup.exe", STANDIN_INSTALLER.read_bytes()),
    ]


class ProtectedUpgradeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        need_wine(cls)
        cls.entries = small_payload()

    def setUp(self):
        reset_store()
        reset_install_machine()
        self.exe = install_folder() / "Setup.exe"
        self.exe.write_bytes(packed(SETUP.read_bytes(), self.entries))
        installed()

    @classmethod
    def tearDownClass(cls):
        # No protected store for the next module.
        if C.is_dir():
            reset_store()

    def tearDown(self):
        kill_all("Setup.exe", "wexApxSvr.exe", "OlvanSetup.exe")

    def upgrade(self, attempts, while_asking=None):
        """Starts the packed Setup.exe, answers its dialog with the given passwords in
        turn and checks the whole upgrade that follows the last (right) one. while_asking
        runs while the dialog is up."""
        p = start(win_path(self.exe), env=ENGLISH)
        box = wait_box_or_exit(p)
        self.assertIsNotNone(box, "the protected client was not asked for its password")
        if while_asking:
            while_asking()
        for typed in attempts:
            driver("settext", box.hwnd, "1001", typed.encode().hex())
            driver("click", box.hwnd, "1")
            wait_for(lambda: driver("text", box.hwnd, "1001", check=False) in ("", "-")
                     or p.poll() is not None, timeout=10)
        self.assertEqual(wait_exit(p, 180), 0)
        log = setup_log()
        i = log.index(b"g_bExit = TRUE;")
        self.assertEqual(log[i + 1], b"Begin UnpackAndSetup")
        assert_whole_upgrade(self, log)
        for name, data in self.entries:
            self.assertEqual((WORK / name).read_bytes(), data, name)
        return gate_lines()

    def test_customization_xml_wrong_wrong_right(self):
        put(REGINFO, "OlvanCustom.xml", custom_xml(1, stored(PASSWORD)))
        lines = self.upgrade(["nope", PASSWORD.lower(), PASSWORD])
        self.assertIn(b"Get UninstallPwd from lvanCustom.xml succ.", lines)

    def test_uninstall_information_xml(self):
        put(REGINFO, "OlvanUninstallInfo.xml", uninstall_xml(1, stored(PASSWORD)))
        self.assertIn(b"Get UninstallPwd from OlvanUninstallInfo.xml succ.", self.upgrade([PASSWORD]))

    def test_customization_ini(self):
        put(REGINFO, "OlvanCustom.ini", ini(1, stored(PASSWORD)))
        self.assertIn(b"Get UninstallPwd from OlvanCustom.ini succ.", self.upgrade([PASSWORD]))

    def test_uninstall_information_ini(self):
        put(REGINFO, "OlvanUninstallInfo.ini", ini(1, stored(PASSWORD)))
        self.assertIn(b"Get UninstallPwd from OlvanUninstallInfo.ini succ.",
                      self.upgrade([PASSWORD]))

    def test_registry_old_key(self):
        reg_add(OLD_OLVAN_KEY, "Uninstall", "REG_DWORD", 1)
        reg_add(OLD_OLVAN_KEY, "UninstallPwd", "REG_SZ", stored(PASSWORD))
        lines = self.upgrade([PASSWORD])
        self.assertIn(b"Get Uninstall from reg failed", lines)
        self.assertIn(b"Get UninstallPwd from reg Succ.", lines)

    def test_carrier_cannot_be_replaced_while_the_dialog_waits(self):
        """Another program of the user renames the running Setup.exe and puts its own
        carrier under that name while the dialog waits: Windows (and Wine) refuse both,
        and the genuine payload is what gets installed."""
        put(REGINFO, "OlvanCustom.xml", custom_xml(1, stored(PASSWORD)))
        genuine = self.exe.read_bytes()
        evil = self.exe.with_name("evil.exe")
        evil.write_bytes(packed(SETUP.read_bytes(), [
            ("evil.txt", b"evil"), ("wexApxSvr.exe", STANDIN_INSTALLER.read_bytes())]))
        moved = []

        def attack():
            exe, old = win_path(self.exe), win_path(self.exe.with_name("old.exe"))
            moved.append(wine("cmd", "/c", "move", "/y", exe, old).returncode)
            moved.append(wine("cmd", "/c", "copy", "/y", win_path(evil), exe).returncode)

        self.upgrade([PASSWORD], while_asking=attack)
        self.assertEqual(moved, [1, 1])
        self.assertEqual(self.exe.read_bytes(), genuine)
        self.assertFalse((WORK / "evil.txt").exists())


    def test_program_held_by_another_at_its_start_is_held_once_the_other_lets_go(self):
        """Another program (a scanner, the browser finishing the download) has Setup.exe
        open with delete access as it starts, so its own hold fails; the other lets go while
        the dialog waits, and the hold tried again before the unpack lets the upgrade go
        through."""
        put(REGINFO, "OlvanCustom.xml", custom_xml(1, stored(PASSWORD)))
        holder = subprocess.Popen(["wine", str(DRIVER), "hold-file", win_path(self.exe), "10000"],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline().strip(), b"held")

        def let_go():
            holder.stdin.close()
            self.assertEqual(holder.wait(timeout=60), 0)
            holder.stdout.close()

        self.upgrade([PASSWORD], while_asking=let_go)

if __name__ == "__main__":
    unittest.main()
