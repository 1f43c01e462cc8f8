"""The elevated setup in a folder that ordinary users can write: links planted at or inside
the working folder or at the log folder are not followed, and package entries cannot leave
the working folder."""
import datetime
import os
import unittest

from olvan_e2e import *  # noqa: F401,F403


class InstallSafetyTest(unittest.TestCase):
    def setUp(self):
        need_wine(self)
        reset_install_machine()
        self.dir = install_folder()
        self.exe = self.dir / "Setup.exe"
        self.exe.write_bytes(carrier(SETUP.read_bytes(), package([
            ("wexApxSvr.exe", STANDIN_AGENT.read_bytes()),
            ("OlvanSetup.exe", STANDIN_INSTALLER.read_bytes())])))
        # What an attacker wants the setup to delete or overwrite.
        self.victim = install_folder("victim")
        (self.victim / "precious.dll").write_bytes(b"precious")
        (self.victim / "sub").mkdir()
        (self.victim / "sub" / "deep.dll").write_bytes(b"deep")

    def tearDown(self):
        kill_all("Setup.exe", "wexApxSvr.exe", "OlvanSetup.exe")
        # Later tests of the same prefix must not meet the planted links.
        reset_install_machine()

    def assert_victim_untouched(self):
        self.assertEqual(tree(self.victim), ["precious.dll", "sub/", "sub/deep.dll"])
        self.assertEqual((self.victim / "precious.dll").read_bytes(), b"precious")

    def run_setup_log(self):
        self.assertEqual(run_setup(self.exe), 0)
        return setup_log()

    # Wine shows a Unix symbolic link as a reparse point but can neither make nor remove
    # one: the setup then refuses the folder (351) instead of replacing the link.
    def test_link_at_the_working_folder_is_not_followed(self):
        (C / "tmp").mkdir()
        os.symlink(self.victim, WORK)
        log = self.run_setup_log()
        self.assertTrue(WORK.is_symlink() is False or
                        b"install failed with Err 351." in log, log)
        self.assert_victim_untouched()
        self.assertEqual(standin_calls(), [])

    def test_link_at_tmp_is_not_followed(self):
        os.symlink(self.victim, C / "tmp")
        log = self.run_setup_log()
        self.assertTrue((C / "tmp").is_symlink() is False or
                        b"install failed with Err 351." in log, log)
        self.assert_victim_untouched()

    def test_link_inside_the_working_folder_is_not_followed(self):
        WORK.mkdir(parents=True)
        os.symlink(self.victim, WORK / "UrlCmdCustomCfg")
        log = self.run_setup_log()
        self.assertTrue((WORK / "UrlCmdCustomCfg").is_symlink() is False or
                        b"install failed with Err 351." in log, log)
        self.assert_victim_untouched()

    # Wine cannot remove the link either: no log is written, and the old-named file that the
    # first line of a day would delete stays.
    def test_link_at_the_log_folder_is_not_followed(self):
        others = install_folder("others")
        last_week = datetime.date.today() - datetime.timedelta(days=7)
        old_log = f"setup{last_week:%Y%m%d}{last_week.isoweekday() % 7:02d}.log"
        (others / old_log).write_bytes(b"someone else's file")
        (others / "notes.txt").write_bytes(b"notes")
        os.symlink(others.resolve(), C / "OlvanLog")
        self.assertEqual(run_setup(self.exe), 0)
        self.assertEqual({p.name: p.read_bytes() for p in others.iterdir()},
                         {old_log: b"someone else's file", "notes.txt": b"notes"})
        self.assertIn(("OlvanSetup.exe", ""), standin_calls())

    def test_entry_names_cannot_leave_the_working_folder(self):
        self.exe.write_bytes(carrier(SETUP.read_bytes(), package([
            ("ok.txt", b"ok"), ("..\\escaped.dll", b"evil")])))
        log = self.run_setup_log()
        self.assertIn(b"install failed with Err 165.", log)
        self.assertEqual((WORK / "ok.txt").read_bytes(), b"ok")
        self.assertFalse((C / "tmp" / "escaped.dll").exists())
        self.assertEqual(sorted(p.name for p in (C / "tmp").iterdir()), ["OlvanSetup0"])


if __name__ == "__main__":
    unittest.main()
