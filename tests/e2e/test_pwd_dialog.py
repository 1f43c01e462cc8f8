"""The uninstall-password dialog as the user meets it: texts in the system's language,
three attempts, Cancel, Escape, Enter, the 32-character limit; and what the setup does
after it."""
import os
import unittest
from pathlib import Path

from gate_fixtures import *  # noqa: F401,F403

PROMPT, EDIT, WRONG = "-1", "1001", "1002"
VK_RETURN, VK_ESCAPE = "0x0D", "0x1B"

EN = {
    "title": "Uninstall Password",
    "prompt": "The client is protected by a password. Please input the password to proceed "
              "with the client upgrade.",
    "ok": "OK", "cancel": "Cancel",
    "wrong": "Wrong password. Please try again:",
    "limit": "You have input wrong passwords for the maximum number of times. The "
             "installation wizard is about to abort...",
    "limit_caption": "Wrong Password",
}
ZH = {
    "title": "卸载密码",
    "prompt": "已安装的客户端受密码保护，需要输入卸载密码才能进行升级。请输入密码：",
    "ok": "确定", "cancel": "取消",
    "wrong": "密码错误，请重新输入：",
    "limit": "超过最大密码错误重试次数，安装程序即将退出。",
    "limit_caption": "密码错误",
}
# A copy of Setup.exe built without the dialog template.
# The entry point's lines after a dialog that ended without the right password.
CANCELLED = b"Setup: password dialog cancelled or closed"
THIRD_WRONG = b"Setup: password dialog: third wrong password"
NO_DIALOG_SETUP = Path(os.environ.get("OLVAN_SETUP_NODIALOG_EXE", "Setup_nodialog.exe"))


def hexbytes(text, env):
    return text.encode("gbk" if env is CHINESE_PRC else "cp1252").hex()


class PasswordDialogTest(unittest.TestCase):
    def setUp(self):
        need_wine(self)
        reset_store()
        installed()

    @classmethod
    def tearDownClass(cls):
        # No protected store for the next module.
        if C.is_dir():
            reset_store()

    def tearDown(self):
        kill_all("Setup.exe", "Setup_nodialog.exe")

    def protect(self, password):
        reg_add(OLVAN_KEY, "Uninstall", "REG_DWORD", 1)
        reg_add(OLVAN_KEY, "UninstallPwd", "REG_SZ", stored(password))

    def open_dialog(self, env=ENGLISH, exe=None):
        self.env = env
        self.proc = start(exe or SETUP, env=env)
        box = wait_box_or_exit(self.proc, env=env)
        self.assertIsNotNone(box, "no password dialog")
        self.dlg = box.hwnd
        return box

    def text(self, control):
        raw = driver("text", self.dlg, control, env=self.env)
        return b"" if raw in ("", "-") else bytes.fromhex(raw)

    def enter(self, password, how="click"):
        driver("settext", self.dlg, EDIT, password.encode().hex() or "-", env=self.env)
        if how == "click":
            driver("click", self.dlg, "1", env=self.env)
        else:
            driver("key", self.dlg, VK_RETURN, env=self.env)
        # Each entry is answered before the next one is typed. The right one ends the dialog:
        # its window may be gone before the process is.
        def answered():
            try:
                return self.text(EDIT) == b""
            except AssertionError:  # the driver found no such window
                return True
        wait_for(lambda: self.proc.poll() is not None or answered(), timeout=10)

    def finish(self):
        code = wait_exit(self.proc, 120)
        log = setup_log()
        # Refused: 1602, as a deployment tool reads a user's cancel; accepted: the
        # package-less program goes on and stops with 352.
        self.assertEqual(code, exit_code(352 if b"g_bExit = TRUE;" in log else 1602))
        return log

    def assert_no_install(self, log, why, code=1602):
        """No install; the entry point's line that says why, the end line, "Exit main"."""
        self.assertNotIn(b"g_bExit = TRUE;", log)
        self.assertNotIn(b"Begin UnpackAndSetup", log)
        self.assertEqual(log[-1], b"Exit main")
        self.assertEqual(log[-3:-1], [why, end_line(code)])

    def test_wrong_wrong_right(self):
        self.protect("Secret1")
        box = self.open_dialog()
        self.assertEqual(box.caption, b"Uninstall Password")
        # Shown above every other window, in the middle of the desktop.
        top, shown, l, t, r, b, dl, dt, dr, db = map(int, driver("place", self.dlg).split())
        self.assertEqual((top, shown), (1, 1))
        self.assertEqual((l, t), ((dr - dl - (r - l)) // 2, (db - dt - (b - t)) // 2))
        self.assertEqual(self.text(PROMPT), EN["prompt"].encode())
        self.enter("wrong")
        self.assertEqual(self.text(WRONG), EN["wrong"].encode())
        self.assertEqual(self.text(PROMPT), b"")
        self.enter("secret1")  # the case counts
        self.assertEqual(self.text(WRONG), EN["wrong"].encode())
        self.enter("Secret1", how="enter")  # Enter is OK
        log = self.finish()
        i = log.index(b"g_bExit = TRUE;")
        self.assertEqual(log[i + 1], b"Begin UnpackAndSetup")
        self.assertEqual(log[-1], b"Exit main")
        self.assertEqual(log[-2], end_line(352))
        self.assertFalse(any(l.startswith(b"Setup: the password") for l in log), log)
        self.assertFalse(boxes())

    def check_limit(self, env, texts):
        self.protect("Secret1")
        box = self.open_dialog(env)
        self.assertEqual(box.caption, texts["title"].encode("gbk"))
        self.assertEqual(self.text(PROMPT), texts["prompt"].encode("gbk"))
        self.assertEqual(self.text("1"), texts["ok"].encode("gbk"))
        self.assertEqual(self.text("2"), texts["cancel"].encode("gbk"))
        self.enter("a")
        self.assertEqual(self.text(WRONG), texts["wrong"].encode("gbk"))
        self.enter("b")
        driver("settext", self.dlg, EDIT, b"c".hex(), env=env)
        driver("click", self.dlg, "1", env=env)
        limit = wait_box(not_these=[box], env=env)
        self.assertEqual(limit.caption, texts["limit_caption"].encode("gbk"))
        self.assertEqual(limit.text, texts["limit"].encode("gbk"))
        self.assertEqual(driver("icon", limit.hwnd), "warning")
        driver("click", limit.hwnd, "1")
        self.assert_no_install(self.finish(), THIRD_WRONG)

    def test_three_wrong_entries_end_the_setup_english(self):
        self.check_limit(ENGLISH, EN)

    def test_three_wrong_entries_end_the_setup_chinese(self):
        self.check_limit(CHINESE_PRC, ZH)

    def test_chinese_taiwan_gets_english(self):
        self.protect("x")
        box = self.open_dialog(CHINESE_TW)
        self.assertEqual(box.caption, EN["title"].encode())
        self.assertEqual(self.text(PROMPT), EN["prompt"].encode())
        driver("click", self.dlg, "2")
        self.assert_no_install(self.finish(), CANCELLED)

    def test_cancel_and_escape_install_nothing_and_show_nothing(self):
        self.protect("x")
        for how in ("cancel", "escape", "close"):
            reset_machine()
            self.protect("x")
            self.open_dialog()
            if how == "cancel":
                driver("click", self.dlg, "2")
            elif how == "close":
                driver("close", self.dlg)
            else:
                driver("key", self.dlg, VK_ESCAPE)
            log = self.finish()
            self.assert_no_install(log, CANCELLED)
            self.assertFalse(boxes())

    def test_chinese_password_made_by_olvsign_is_matched_under_zh_cn(self):
        # The release engineer types the password in UTF-8; the dialog sees code page 936.
        password = "升级密码"
        reg_add(OLVAN_KEY, "Uninstall", "REG_DWORD", 1)
        reg_add(OLVAN_KEY, "UninstallPwd", "REG_SZ",
                olvsign("encrypt", "--code-page", "936", password))
        self.open_dialog(CHINESE_PRC)
        driver("settext", self.dlg, EDIT, hexbytes(password, CHINESE_PRC), env=CHINESE_PRC)
        driver("click", self.dlg, "1", env=CHINESE_PRC)
        self.assertIn(b"g_bExit = TRUE;", self.finish())

    def test_a_33rd_character_cannot_be_typed(self):
        self.protect("p" * 32)
        self.open_dialog()
        driver("type", self.dlg, EDIT, ("p" * 33).encode().hex())
        driver("click", self.dlg, "1")
        log = self.finish()
        self.assertIn(b"g_bExit = TRUE;", log)

    def test_forty_characters_set_past_the_limit_are_read_as_the_first_32(self):
        # WM_SETTEXT passes the edit control's limit; the dialog reads 32 characters of it.
        typed = "abcdefghijklmnopqrstuvwxyz0123456789ABCD"
        self.protect(typed[:32])
        self.open_dialog()
        self.enter(typed)
        self.assertIn(b"g_bExit = TRUE;", self.finish())

    def test_an_empty_stored_password_is_never_matched(self):
        # "uninstall" 2: the client counts as protected but no password is loaded.
        put(REGINFO, "OlvanCustom.xml", custom_xml(2, stored("x")))
        self.open_dialog()
        self.enter("")
        self.assertEqual(self.text(WRONG), EN["wrong"].encode())
        driver("click", self.dlg, "2")
        self.assert_no_install(self.finish(), CANCELLED)

    def test_nobody_to_answer_on_a_hidden_window_station_installs_nothing(self):
        self.protect("x")
        exe = C / "Setup.exe"
        exe.write_bytes(SETUP.read_bytes())
        flags, code = run_hidden(win_path(exe))
        self.assertEqual((flags, code), (0, 1603))
        self.assertEqual(setup_log()[-3::2], [b"no user can answer the password dialog", b"Exit main"])
        self.assertEqual(setup_log()[-2], end_line(1603))

    def test_dialog_that_cannot_be_made_installs_nothing(self):
        self.protect("x")
        exe = C / "Setup_nodialog.exe"
        exe.write_bytes(NO_DIALOG_SETUP.read_bytes())
        p = start(win_path(exe), env=ENGLISH)
        self.assertIsNone(wait_box_or_exit(p))
        self.assertEqual(wait_exit(p, 60), exit_code(1603))
        log = setup_log()
        self.assertRegex(log[-3], rb"^CreateDialogParam failed with err \d+\.$")
        self.assert_no_install(log, log[-3], 1603)


if __name__ == "__main__":
    unittest.main()
