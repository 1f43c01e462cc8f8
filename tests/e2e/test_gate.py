"""Whether Setup.exe asks for the uninstall password: the source it chooses among the
installed client's customization files and the registry, the repairs from the system
folder, the migration from the earlier folder, and the probe of the uninstall keys."""
import shutil
import unittest

from gate_fixtures import *  # noqa: F401,F403


class GateTest(unittest.TestCase):
    def setUp(self):
        need_wine(self)
        reset_store()

    def tearDown(self):
        kill_all("Setup.exe")

    @classmethod
    def tearDownClass(cls):
        # A protected store left behind would make the next module's setups wait for a
        # password.
        if C.is_dir():
            reset_store()

    def run_setup(self):
        """Runs Setup.exe; True when it asked for the password (the dialog is then cancelled)."""
        p = start(SETUP, env=ENGLISH)
        box = wait_box_or_exit(p)
        asked = box is not None
        if asked:
            self.assertEqual(box.caption, b"Uninstall Password")
            driver("click", box.hwnd, 2)
        # Cancelled: 1602; not asked: the package-less program stops with 352.
        self.assertEqual(wait_exit(p, 60), exit_code(1602 if asked else 352))
        log = setup_log()
        self.assertEqual(log[-1], b"Exit main")
        # No prompt: straight to the install sequence; a cancelled prompt: no install.
        self.assertNotIn(b"Begin UnpackAndSetup", log)
        return asked

    def test_customization_xml_with_encrypted_password(self):
        put(REGINFO, "OlvanCustom.xml", custom_xml(1, stored("Secret1")))
        installed()
        self.assertTrue(self.run_setup())
        lines = gate_lines()
        self.assertIn(b"Get UninstallPwd from lvanCustom.xml succ.", lines)
        self.assertEqual(lines[-2:], [b"Get Version from reg succ. 7.0.1",
                                      b"Need prompt uninstall password Dlg"])

    def test_all_four_verify_and_only_the_xml_is_read(self):
        put(REGINFO, "OlvanCustom.xml", custom_xml(0, stored("x")))
        put(REGINFO, "OlvanUninstallInfo.xml", uninstall_xml(1, stored("y")))
        put(REGINFO, "OlvanCustom.ini", ini(1, stored("z")))
        put(REGINFO, "OlvanUninstallInfo.ini", ini(1, stored("w")))
        installed()
        self.assertFalse(self.run_setup())
        self.assertEqual(gate_lines(), [b"!dwResult, return false."])

    def test_damaged_xml_without_backup_goes_on_with_the_next_source(self):
        damage(put(REGINFO, "OlvanCustom.xml", custom_xml(1, stored("a"))))
        put(REGINFO, "OlvanUninstallInfo.xml", uninstall_xml(1, stored("b")))
        installed()
        self.assertTrue(self.run_setup())
        lines = gate_lines()
        self.assertEqual(lines[0], b"verifying OlvanCustom xml info FAILED with Err "
                                   b" ,So copy bak files!CopyFile OlvanCustom.xml return false!")
        self.assertIn(b"Get UninstallPwd from OlvanUninstallInfo.xml succ.", lines)

    def test_damaged_xml_is_repaired_from_the_system_folder(self):
        good = put(REGINFO, "OlvanCustom.xml", custom_xml(1, stored("a")))
        shutil.copy(good, BACKUP / "OlvanCustom.xml")
        shutil.copy(REGINFO / "OlvanCustomXml.vrf", BACKUP / "OlvanCustomXml.vrf")
        damage(good)
        installed()
        self.assertTrue(self.run_setup())
        self.assertEqual(good.read_bytes(), (BACKUP / "OlvanCustom.xml").read_bytes())
        lines = gate_lines()
        self.assertEqual(lines[0], b"verifying OlvanCustom xml info FAILED with Err  ,So copy bak files!")
        self.assertIn(b"Get UninstallPwd from lvanCustom.xml succ.", lines)

    def test_system_root_of_the_users_environment_changes_nothing(self):
        # The user's malware names its own folder as SystemRoot in HKCU\Environment, which
        # feeds the environment of every process the user starts, elevated ones too (Wine
        # builds a process's environment from the same key). There it keeps "backups": a
        # customization without a password that names an icon of its own.
        evil = C / "evilroot" / "system32"
        shutil.rmtree(evil.parent, ignore_errors=True)
        evil.mkdir(parents=True)
        make_icon(evil / "evil.dll")
        put(evil, "OlvanCustom.xml", custom_xml(0, icon="evil.dll"), icon=evil / "evil.dll")
        reg("add", "HKCU\\Environment", "/v", "SystemRoot", "/t", "REG_SZ", "/d",
            win_path(evil.parent), "/f")
        self.addCleanup(reg, "delete", "HKCU\\Environment", "/v", "SystemRoot", "/f")
        damage(put(REGINFO, "OlvanCustom.xml", custom_xml(1, stored("a"))))
        put(REGINFO, "OlvanUninstallInfo.xml", uninstall_xml(1, stored("b")))
        installed()
        self.assertTrue(self.run_setup())
        self.assertIn(b"Get UninstallPwd from OlvanUninstallInfo.xml succ.", gate_lines())
        self.assertFalse((REGINFO / "evil.dll").exists())
        self.assertNotEqual((REGINFO / "OlvanCustom.xml").read_bytes(),
                            (evil / "OlvanCustom.xml").read_bytes())

    def test_xml_proven_only_with_its_custom_icon_is_chosen(self):
        REGINFO.mkdir(parents=True, exist_ok=True)
        icon = make_icon(REGINFO.parent / "icon-source.ico")
        shutil.copy(icon, REGINFO / "custom.ico")
        put(REGINFO, "OlvanCustom.xml", custom_xml(1, stored("a"), icon="custom.ico"), icon=icon)
        put(REGINFO, "OlvanCustom.ini", ini(0, ""))
        installed()
        self.assertTrue(self.run_setup())
        lines = gate_lines()
        self.assertNotIn(b"FAILED", b"".join(lines))
        self.assertIn(b"Get UninstallPwd from lvanCustom.xml succ.", lines)

    def test_deeply_nested_xml_is_refused_without_a_crash(self):
        # Unproven, yet parsed. TinyXML takes a 0x7F after '<' for the start of an element
        # name, and this many levels would overflow the stack of its recursive parser.
        put(REGINFO, "OlvanCustom.xml", b"<\x7f>" * 100000, sign=False)
        installed()
        p = start(SETUP, env=ENGLISH)
        box = wait_box_or_exit(p)
        if box is not None:
            driver("click", box.hwnd, 2)
        wait_exit(p, 60)
        self.assertEqual(setup_log()[-1], b"Exit main")

    def test_ini_migrated_from_the_old_folder(self):
        for name, text in (("OlvanCustom.ini", ini(1, stored("m"))),
                           ("OlvanUninstallInfo.ini", ini(1, stored("n")))):
            put(OLD_REGINFO, name, text)
        (OLD_REGINFO / "OlvanCustom.xml").write_text("old, not migrated")
        damage(put(REGINFO, "OlvanCustom.ini", ini(0, "")))
        installed()
        self.assertTrue(self.run_setup())
        for name in ("OlvanCustom.ini", "OlvanCustom.vrf", "OlvanUninstallInfo.ini",
                     "OlvanUninstallInfo.vrf"):
            self.assertTrue((REGINFO / name).exists(), name)
        self.assertFalse((COMMON_FILES / "Talvorn").exists())
        store = [l for l in module_log("setup") if l.startswith(b"utl_LoadCusIniFile:")]
        self.assertEqual(store, [b"utl_LoadCusIniFile:CusIniVerify new failed,try for old.",
                                 b"utl_LoadCusIniFile:CusIniVerify old true,so copy files."])
        self.assertIn(b"Get UninstallPwd from OlvanCustom.ini succ.", gate_lines())

    def test_uninstall_two_asks_without_a_password(self):
        put(REGINFO, "OlvanCustom.xml", custom_xml(2, stored("a")))
        installed()
        self.assertTrue(self.run_setup())
        self.assertNotIn(b"Get UninstallPwd from lvanCustom.xml succ.", gate_lines())

    def test_ini_source_not_protected(self):
        put(REGINFO, "OlvanUninstallInfo.ini", ini(0, stored("a")))
        installed()
        self.assertFalse(self.run_setup())
        self.assertEqual(gate_lines()[-2:], [b"Get UninstallPwd from OlvanUninstallInfo.ini succ.",
                                             b"!dwResult, return false."])

    def test_registry_password_longer_than_128_characters_is_not_read(self):
        reg_add(OLVAN_KEY, "Uninstall", "REG_DWORD", 1)
        reg_add(OLVAN_KEY, "UninstallPwd", "REG_SZ", "A" * 129)
        installed()
        self.assertTrue(self.run_setup())
        self.assertIn(b"Get UninstallPwd from reg fail,Return true.", gate_lines())

    def test_registry_old_key_and_no_installed_client(self):
        reg_add(OLD_OLVAN_KEY, "Uninstall", "REG_DWORD", 1)
        reg_add(OLD_OLVAN_KEY, "UninstallPwd", "REG_SZ", stored("old"))
        self.assertFalse(self.run_setup())
        tail = gate_lines()[-4:]
        self.assertEqual(tail, [b"Get Uninstall from reg failed", b"Get UninstallPwd from reg Succ.",
                                b"Get Version from new reg failed, try old.",
                                b"Get Version from old reg failed, return false."])

    def test_only_the_earlier_product_installed(self):
        reg_add(OLVAN_KEY, "Uninstall", "REG_DWORD", 1)
        installed(new=False, old=True)
        self.assertTrue(self.run_setup())
        lines = gate_lines()
        self.assertEqual(lines[-1], b"Get Version from old reg succ, return true.")
        self.assertNotIn(b"Need prompt uninstall password Dlg", lines)


if __name__ == "__main__":
    unittest.main()
