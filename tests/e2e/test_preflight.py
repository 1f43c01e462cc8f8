"""The setup's start: single instance, customization-updater check, free-space line, each
refusal with its warning as the user sees it, in English or Chinese."""
import os
import re
import shutil
import subprocess
import unittest

from olvan_e2e import *  # noqa: F401,F403

EN_CAPTION = b"Olvan Setup"
ZH_CAPTION = "安装Olvan智能客户端".encode("gbk")
EN_RUNNING = b"A previous instance is still running. \nPlease try it later."
ZH_RUNNING = "有正在运行的客户端安装程序，请稍候再试。".encode("gbk")
ZH_UPDATING = "客户端正在升级定制信息，请稍后再试。".encode("gbk")
# The build's own program: started from the host's folder (drive Z:), bound to no package.
START_RE = rb"^Setup: " + re.escape(VERSION) + rb" started from Z:\\.*\\Setup\.exe; the package is not bound$"
UPDATER_REFUSED = (b"Setup: refused: A previous instance is still running. \\nPlease try it later. "
                   b"(exit code 1618)")


class PreflightTest(unittest.TestCase):
    def setUp(self):
        need_wine(self)
        reset_machine()
        self.procs = []
        self.stand = C / "standin"
        self.stand.mkdir(exist_ok=True)

    def tearDown(self):
        kill_all("Setup.exe", "Plexiworkanda.exe", "Plexiworkanda.e")
        for p in self.procs:
            try:
                wait_exit(p, 10)
            except Exception:
                pass

    def updater(self, name):
        """Runs a process whose image name is name until the test ends it."""
        exe = self.stand / name
        shutil.copy(DRIVER, exe)
        p = start(win_path(exe), "sleep", "60000")
        self.procs.append(p)
        self.assertTrue(wait_for(lambda: process_runs(name)))
        return p

    def setup(self, env=ENGLISH):
        p = start(SETUP, env=env)
        self.procs.append(p)
        return p

    def check_two_copies(self, env, caption, first_text, second_text):
        self.updater("Plexiworkanda.exe")
        first = self.setup(env)
        box1 = wait_box(env=env)
        self.assertEqual(box1.caption, caption)
        self.assertEqual(box1.text, first_text)
        lines_before = setup_log()

        second = self.setup(env)
        box2 = wait_box(not_these=[box1], env=env)
        self.assertEqual(box2.caption, caption)
        self.assertEqual(box2.text, second_text)
        self.assertEqual(driver("icon", box2.hwnd), "warning")
        driver("click", box2.hwnd, 1)
        self.assertEqual(wait_exit(second), exit_code(1618))
        # The second copy stops before it writes anything; the first wrote its refusal
        # before its box.
        self.assertEqual(setup_log(), lines_before)
        self.assertEqual(lines_before[2:], [UPDATER_REFUSED])
        self.assertEqual(module_log("Refused"), [])
        driver("click", box1.hwnd, 1)
        self.assertEqual(wait_exit(first), exit_code(1618))

    def test_second_copy_english(self):
        self.check_two_copies(ENGLISH, EN_CAPTION, EN_RUNNING, EN_RUNNING)

    def test_second_copy_chinese_prc(self):
        self.check_two_copies(CHINESE_PRC, ZH_CAPTION, ZH_UPDATING, ZH_RUNNING)
        self.assertNotEqual(ZH_UPDATING, ZH_RUNNING)

    def test_second_copy_chinese_taiwan_is_english(self):
        self.check_two_copies(CHINESE_TW, EN_CAPTION, EN_RUNNING, EN_RUNNING)

    def hold_instance_name(self, how, ms):
        """The driver holds the setup's instance name (as an event or a mutex) for ms."""
        holder = subprocess.Popen(["wine", str(DRIVER), how, "evnt_Olvan_stpDamon", str(ms)],
                                  env=dict(os.environ, WINEDEBUG="-all"), stdout=subprocess.PIPE)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline().strip(), b"held")

    def test_instance_name_taken_by_a_mutex_counts_as_a_running_copy(self):
        self.hold_instance_name("hold-mutex", 30000)
        p = self.setup(ENGLISH)
        box = wait_box()
        self.assertEqual((box.caption, box.text), (EN_CAPTION, EN_RUNNING))
        driver("click", box.hwnd, 1)
        self.assertEqual(wait_exit(p), exit_code(1618))
        self.assertEqual(setup_log(), [])

    def test_running_copy_where_nobody_can_see_a_box_is_logged_and_ends(self):
        """Started on a window station nobody sees (a service's, session 0), a refusal shows
        no box that would wait for ever: its text goes to the log and the process ends."""
        self.hold_instance_name("hold-event", 60000)
        exe = self.stand / "Setup.exe"
        shutil.copy(SETUP, exe)
        flags, code = run_hidden(win_path(exe))
        self.assertEqual(flags, 0)  # no WSF_VISIBLE
        self.assertEqual(code, 1618)
        # The setup log belongs to the run already going: the line goes to a log of its own.
        self.assertEqual(setup_log(), [])
        self.assertEqual(module_log("Refused"),
                         [b"A previous instance is still running. \\nPlease try it later."])

    def test_updater_where_nobody_can_see_a_box_is_refused_in_the_setup_log(self):
        self.updater("Plexiworkanda.exe")
        exe = self.stand / "Setup.exe"
        shutil.copy(SETUP, exe)
        flags, code = run_hidden(win_path(exe))
        self.assertEqual((flags, code), (0, 1618))
        log = setup_log()
        self.assertEqual(log[0], start_line(win_path(exe), bound=False))
        self.assertRegex(log[1], rb"^The C: free space is \d+M\.$")
        self.assertEqual(log[2:], [UPDATER_REFUSED])
        self.assertEqual(module_log("Refused"), [])

    def check_updater_blocks(self, image_name):
        self.updater(image_name)
        p = self.setup(ENGLISH)
        box = wait_box()
        self.assertEqual((box.caption, box.text), (EN_CAPTION, EN_RUNNING))
        driver("click", box.hwnd, 1)
        self.assertEqual(wait_exit(p), exit_code(1618))
        log = setup_log()
        self.assertEqual(len(log), 3, log)
        self.assertRegex(log[1], rb"^The C: free space is \d+M\.$")
        # No "Exit main" after a refusal.
        self.assertRegex(log[0], START_RE)
        self.assertEqual(log[2], UPDATER_REFUSED)

    def test_updater_in_other_case_blocks(self):
        self.check_updater_blocks("PLEXIWORKANDA.exe")

    def test_updater_under_cut_name_blocks(self):
        self.check_updater_blocks("Plexiworkanda.e")

    def test_free_space_line_and_run_without_prompt(self):
        st = os.statvfs(C)
        before = st.f_bavail * st.f_frsize // 1048576
        p = self.setup(ENGLISH)
        self.assertEqual(wait_exit(p, 120), exit_code(352))  # no package
        st = os.statvfs(C)
        after = st.f_bavail * st.f_frsize // 1048576
        log = setup_log()
        self.assertRegex(log[0], START_RE)
        self.assertRegex(log[1], rb"^The C: free space is \d+M\.$")
        mb = int(log[1].split(b" ")[5][:-2])
        self.assertTrue(min(before, after) - 16 <= mb <= max(before, after) + 16, (mb, before))
        # No password prompt: straight to the install sequence, no "Begin UnpackAndSetup".
        self.assertNotIn(b"Begin UnpackAndSetup", log)
        self.assertEqual(log[-4:], [b"install failed with Err 352.", error_line(352),
                                    end_line(352), b"Exit main"])
        self.assertFalse(boxes())


if __name__ == "__main__":
    unittest.main()
