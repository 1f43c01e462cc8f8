"""The elevated setup in folders that ordinary users can write: whatever another account
put at the working folder's place (links, a folder with planted files, a file) is never
followed or adopted, a working folder swapped during the run starts nothing of the
impostor's, a link at the log folder is not followed, and package entries cannot leave the
working folder.

On Windows a planted link is removed as a link and the install goes on. Wine cannot remove
a Unix symbolic link through Win32 (a handle opened on it reports the target, and its
rename and RemoveDirectory act on the target), so there the setup stops with 351 and
touches neither the link nor its target: that is what these tests see."""
import datetime
import os
import shutil
import subprocess
import unittest

from olvan_e2e import *  # noqa: F401,F403


def plant_standins(folder, tag=b"planted"):
    """The attacker's own programs under the names the setup starts from its folder."""
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy(STANDIN_7ZA, folder / "7za.exe")
    shutil.copy(STANDIN_AGENT, folder / "wexApxSvr.exe")
    shutil.copy(STANDIN_INSTALLER, folder / "OlvanSetup.exe")
    (folder / "standin.tag").write_bytes(tag)


def kept(folder, before):
    """What of before (a contents() result) is still in folder, with its bytes."""
    now = contents(folder)
    return {k: now.get(k) for k in before}


class InstallSafetyTest(unittest.TestCase):
    def setUp(self):
        need_wine(self)
        reset_install_machine()
        self.dir = install_folder()
        self.exe = self.dir / "Setup.exe"
        self.exe.write_bytes(packed(SETUP.read_bytes(), [
            ("wexApxSvr.exe", STANDIN_AGENT.read_bytes()),
            ("OlvanSetup.exe", STANDIN_INSTALLER.read_bytes())]))
        # What an attacker wants the setup to delete or overwrite.
        self.victim = install_folder("victim")
        (self.victim / "precious.dll").write_bytes(b"precious")
        (self.victim / "sub").mkdir()
        (self.victim / "sub" / "deep.dll").write_bytes(b"deep")

    def tearDown(self):
        kill_all("Setup.exe", "wexApxSvr.exe", "OlvanSetup.exe", "7za.exe")
        # Later tests of the same prefix must not meet the planted links.
        reset_install_machine()

    def assert_victim_untouched(self):
        self.assertEqual(tree(self.victim), ["precious.dll", "sub/", "sub/deep.dll"])
        self.assertEqual((self.victim / "precious.dll").read_bytes(), b"precious")

    def assert_installed(self):
        self.assertEqual(run_setup(self.exe), 0)
        log = setup_log()
        assert_whole_upgrade(self, log)
        self.assertFalse(WORK.is_symlink())
        self.assertEqual(sorted(p.name for p in WORK.iterdir()),
                         ["Data", "OlvanSetup.exe", "Qt", "^Olvan_end^", "wexApxSvr.exe"])

    def assert_refused_untouched(self, link, reason=None):
        self.assertEqual(run_setup(self.exe), exit_code(351))
        log = setup_log()
        self.assertEqual(log[-4::3], [b"install failed with Err 351.", b"Exit main"])
        if reason is not None:
            self.assertEqual(log[-5], reason)
        self.assertEqual(os.readlink(link), str(self.victim))
        self.assert_victim_untouched()
        self.assertEqual(standin_calls(), [])

    def test_link_at_the_working_folder_is_not_followed(self):
        (C / "tmp").mkdir()
        os.symlink(self.victim, WORK)
        self.assert_refused_untouched(WORK)

    def test_link_at_tmp_is_not_followed(self):
        os.symlink(self.victim, C / "tmp")
        self.assert_refused_untouched(C / "tmp", b"utl_GetTempWorkPath: a link stands at C:\\tmp.")

    def test_link_inside_the_working_folder_is_not_followed(self):
        """The folder holding the links is moved aside whole, the links with it; a link to an
        empty folder of the link's own name is not deleted through either (Wine would remove
        the target)."""
        WORK.mkdir(parents=True)
        empty = install_folder("empty") / "Qt"
        empty.mkdir()
        os.symlink(self.victim, WORK / "UrlCmdCustomCfg")
        os.symlink(empty.resolve(), WORK / "Qt")
        self.assert_installed()
        self.assert_victim_untouched()
        self.assertTrue(empty.is_dir())

    def test_folder_made_beforehand_is_not_adopted(self):
        for rel in ("Qt/plugins/x.dll", "Data/Evil/cfg.xml", "top.dll", "Vyx/sub/v.dll"):
            (WORK / rel).parent.mkdir(parents=True, exist_ok=True)
            (WORK / rel).write_bytes(b"planted")
        os.chmod(WORK / "top.dll", 0o444)
        self.assert_installed()
        self.assertEqual(tree(WORK / "Qt"), [])
        self.assertEqual(tree(WORK / "Data"), [])

    def test_file_at_the_working_folder_is_replaced(self):
        (C / "tmp").mkdir()
        WORK.write_bytes(b"not a folder")
        self.assert_installed()

    def test_folder_swapped_during_the_run_starts_nothing_of_the_impostor(self):
        """Another account renames C:\\tmp away while the setup waits for the agent it
        started with -setUpdInfo, and puts its own working folder, with its own programs,
        in its place."""
        # The package's agent stays 3 s, so the setup is still waiting for it when the
        # folder is swapped.
        p = start(win_path(self.exe), env={**ENGLISH, "OLVAN_STANDIN_MS": "3000"})
        self.assertTrue(wait_for(lambda: ("wexApxSvr.exe", "-setUpdInfo") in standin_calls(),
                                 timeout=120, step=0.02), setup_log())
        os.rename(C / "tmp", C / "tmp-renamed")
        plant_standins(WORK)
        self.assertEqual(wait_exit(p, 180), exit_code(358))
        log = setup_log()
        self.assertEqual(log[-5:-3] + log[-1:],
                         [b"C:\\tmp\\OlvanSetup0 no longer leads to the folder the setup "
                          b"made; stopped before starting wexApxSvr.exe -exitwexclient.",
                          b"install failed with Err 358.", b"Exit main"])
        self.assertEqual([c for c in standin_calls() if c[1] != "end"],
                         [("wexApxSvr.exe", "-uninstallwmark"), ("wexApxSvr.exe", "-setUpdInfo")])
        # The impostor's programs are left alone, neither run nor removed.
        self.assertEqual((WORK / "wexApxSvr.exe").read_bytes(), STANDIN_AGENT.read_bytes())
        self.assertEqual((WORK / "standin.tag").read_bytes(), b"planted")

    def swap_when(self, trigger, package_extra=(), env=None):
        """Runs the setup; when trigger() (given the watcher's chance) says so, another
        account swaps C:\\tmp for its own, whose working folder holds its own programs and
        archives. Returns the setup's log."""
        self.exe.write_bytes(packed(SETUP.read_bytes(), [
            ("wexApxSvr.exe", STANDIN_AGENT.read_bytes()),
            ("OlvanSetup.exe", STANDIN_INSTALLER.read_bytes()), *package_extra]))
        fake = install_folder("faketmp")
        plant_standins(fake / "OlvanSetup0")
        for archive in ("Qt.7z", "tool.7z"):
            (fake / "OlvanSetup0" / archive).write_bytes(b"7z")
        self.planted = contents(fake)
        return trigger(fake)

    def assert_impostor_untouched(self):
        self.assertEqual(contents(C / "tmp"), self.planted)

    def test_swap_before_the_second_archive_starts_no_impostor_7zip(self):
        def trigger(fake):
            # The first program the setup starts, the package's 7za.exe, creates the record.
            w = watch(C, "create", CALLS.name, C / "tmp", C / "tmp-renamed", "move", fake)
            self.assertEqual(run_setup(self.exe), exit_code(358))
            self.assertTrue(fired(w))
            return setup_log()
        log = self.swap_when(trigger, [("7za.exe", STANDIN_7ZA.read_bytes()),
                                       ("Qt.7z", b"7z"), ("tool.7z", b"7z")])
        self.assertEqual(log[-5], b"C:\\tmp\\OlvanSetup0 no longer leads to the folder the setup "
                                  b"made; stopped before extracting tool.7z.")
        self.assertEqual(log[-4::3], [b"install failed with Err 358.", b"Exit main"])
        self.assertEqual([c[0] for c in standin_calls()], ["7za.exe"])
        self.assert_impostor_untouched()

    def test_swap_before_the_installer_starts_no_impostor_installer(self):
        def trigger(fake):
            p = start(win_path(self.exe), env={**ENGLISH, "OLVAN_STANDIN_MS": "3000"})
            self.assertTrue(wait_for(
                lambda: ("wexApxSvr.exe", "-exitwexclient") in standin_calls(), 120, 0.02))
            os.rename(C / "tmp", C / "tmp-renamed")
            os.rename(fake, C / "tmp")
            self.assertEqual(wait_exit(p, 180), exit_code(358))
            return setup_log()
        log = self.swap_when(trigger)
        self.assertEqual(log[-5:-3] + log[-1:],
                         [b"C:\\tmp\\OlvanSetup0 no longer leads to the folder the setup "
                          b"made; stopped before starting OlvanSetup.exe.",
                          b"install failed with Err 358.", b"Exit main"])
        self.assertEqual([c for c in standin_calls() if c[1] != "end"],
                         [("wexApxSvr.exe", "-uninstallwmark"), ("wexApxSvr.exe", "-setUpdInfo"),
                          ("wexApxSvr.exe", "-exitwexclient")])
        self.assert_impostor_untouched()

    def test_working_folder_swapped_as_it_is_made_is_never_used(self):
        """The owner of C:\\tmp renames the fresh working folder away the moment it is made
        (at its first open: Wine makes a folder and opens it in two steps, where Windows
        makes and opens it at once) and moves its own in: the setup works only in the folder
        it made and holds."""
        (C / "tmp").mkdir()
        impostor = install_folder("impostor")
        plant_standins(impostor)
        planted = contents(impostor)
        w = watch(C / "tmp", "open", "OlvanSetup0", WORK, C / "tmp" / "stolen", "move", impostor)
        self.assertEqual(run_setup(self.exe), exit_code(358))
        self.assertTrue(fired(w))
        self.assertEqual(setup_log()[-4::3], [b"install failed with Err 358.", b"Exit main"])
        self.assertEqual(contents(WORK), planted)
        self.assertEqual(standin_calls(), [])

    def test_working_folder_swapped_before_the_unpack_is_358(self):
        """The owner of C:\\tmp moves its own working folder in after the folder was made and
        checked, as the setup lists it for "Vyx" (its second open): the EXE route notices it
        before the unpack, which starts nothing and writes nothing there."""
        (C / "tmp").mkdir()
        impostor = install_folder("impostor")
        plant_standins(impostor)
        planted = contents(impostor)
        w = watch(C / "tmp", "open", "OlvanSetup0", WORK, C / "tmp" / "stolen", "move", impostor,
                  nth=2)
        self.assertEqual(run_setup(self.exe), exit_code(358))
        self.assertTrue(fired(w))
        log = setup_log()
        self.assertEqual(log[-5:-3], [b"C:\\tmp\\OlvanSetup0 no longer leads to the folder the setup "
                                      b"made; stopped before the unpack.",
                                      b"install failed with Err 358."])
        self.assertEqual(contents(WORK), planted)
        self.assertEqual(standin_calls(), [])

    def test_tmp_replaced_by_a_link_as_it_is_made_is_never_followed(self):
        """C:\\tmp is renamed away the moment the setup makes it (at its first open) and a
        link put in its place to another folder, which holds a working folder of its own."""
        (self.victim / "OlvanSetup0").mkdir()
        (self.victim / "OlvanSetup0" / "old.dll").write_bytes(b"old")
        before = contents(self.victim)
        w = watch(C, "open", "tmp", C / "tmp", C / "tmp-moved", "link", self.victim.resolve())
        code = run_setup(self.exe)
        self.assertTrue(fired(w))
        # 351 when the root's listing already shows the link as the folder made is proven,
        # 358 when the swap came after that; the exit code is the number logged.
        self.assertIn((setup_log()[-4], code), [(b"install failed with Err 351.", exit_code(351)),
                                                (b"install failed with Err 358.", exit_code(358))])
        self.assertEqual(contents(self.victim), before)
        self.assertEqual(standin_calls(), [])

    def test_working_folder_swapped_the_moment_it_is_made_starts_nothing(self):
        """The owner of C:\\tmp moves its own working folder in between the making of the
        folder and its open by name (Wine's two steps): the folder held is not empty, so the
        run stops before anything is unpacked or started."""
        (C / "tmp").mkdir()
        impostor = install_folder("impostor")
        plant_standins(impostor)
        planted = contents(impostor)
        w = watch(C / "tmp", "create", "OlvanSetup0", WORK, C / "tmp" / "stolen", "move", impostor)
        self.assertEqual(run_setup(self.exe), exit_code(358))
        self.assertTrue(fired(w))
        # Caught as the folder is made (by the listing when the open still reached the
        # folder made, else by the content of the folder the open reached), or by the path
        # checks when the swap came later still; a swap later than the check before the
        # unpack lets the unpack write there by path, but the impostor's files stay.
        self.assertEqual(setup_log()[-4::3], [b"install failed with Err 358.", b"Exit main"])
        self.assertEqual(kept(WORK, planted), planted)
        self.assertEqual(standin_calls(), [])

    def test_working_folder_replaced_by_a_link_the_moment_it_is_made_is_refused(self):
        """A link to an empty folder put at the working folder's name at its creation: the
        listing shows the link, whichever folder the open reached, so the run stops as the
        folder is made (or before the unpack, when the swap came later still), and the empty
        folder is not taken for the one made."""
        (C / "tmp").mkdir()
        empty = install_folder("empty")
        w = watch(C / "tmp", "create", "OlvanSetup0", WORK, C / "tmp" / "stolen", "link",
                  empty.resolve())
        self.assertEqual(run_setup(self.exe), exit_code(358))
        self.assertTrue(fired(w))
        self.assertEqual(setup_log()[-4::3], [b"install failed with Err 358.", b"Exit main"])
        self.assertEqual(standin_calls(), [])

    def test_tmp_replaced_by_a_link_the_moment_it_is_made_is_never_followed(self):
        """C:\\tmp is renamed away between its making and its open by name, and a link put
        in its place to a folder with a working folder of its own: whichever folder the open
        reached, the link's target keeps its files and nothing is started (351 when the
        listing that proves the folder made shows the link, 358 when the swap came later)."""
        (self.victim / "OlvanSetup0").mkdir()
        (self.victim / "OlvanSetup0" / "old.dll").write_bytes(b"old")
        before = contents(self.victim)
        w = watch(C, "create", "tmp", C / "tmp", C / "tmp-moved", "link", self.victim.resolve())
        code = run_setup(self.exe)
        self.assertTrue(fired(w))
        self.assertIn((setup_log()[-4], code), [(b"install failed with Err 351.", exit_code(351)),
                                                (b"install failed with Err 358.", exit_code(358))])
        self.assertEqual(kept(self.victim, before), before)
        self.assertEqual(standin_calls(), [])

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

    def test_tmp_replaced_by_a_link_as_the_old_folder_goes_is_never_followed(self):
        """The moment the setup opens an earlier run's working folder to remove it, C:\\tmp
        is renamed away and a link put in its place to another folder that holds a working
        folder of its own: nothing there is deleted or renamed (Wine deletes and renames
        through the name it recorded at the open), and the run stops."""
        WORK.mkdir(parents=True)
        (WORK / "old.dll").write_bytes(b"old")
        (self.victim / "OlvanSetup0").mkdir()
        (self.victim / "OlvanSetup0" / "old.dll").write_bytes(b"old")
        before = contents(self.victim)
        w = watch(WORK, "open", ".", C / "tmp", C / "tmp-moved", "link", self.victim.resolve())
        self.assertEqual(run_setup(self.exe), exit_code(351))
        self.assertTrue(fired(w))
        self.assertEqual(setup_log()[-4::3], [b"install failed with Err 351.", b"Exit main"])
        self.assertEqual(contents(self.victim), before)
        self.assertEqual(standin_calls(), [])

    def test_log_folder_swapped_at_the_first_deletion_is_never_followed(self):
        """At the first deletion of an old log, C:\\OlvanLog is renamed away and a link to
        another folder, with files of the same names, put in its place: the writers go on
        in the folder they hold."""
        weekday = datetime.date.today().isoweekday() % 7
        old = [f"setup2025{i:04}{weekday:02d}.log" for i in range(30)]
        log, moved, others = C / "OlvanLog", C / "OlvanLog-moved", install_folder("others")
        log.mkdir()
        for name in old:
            (log / name).write_bytes(b"last week")
            (others / name).write_bytes(b"someone else's file")
        (others / "notes.txt").write_bytes(b"notes")
        before = contents(others)
        w = watch(log, "delete", "*", log, moved, "link", others.resolve())
        self.assertEqual(run_setup(self.exe), 0)
        self.assertTrue(fired(w))
        self.assertEqual(contents(others), before)
        self.assertIn(("OlvanSetup.exe", ""), standin_calls())
        self.assertEqual(log_lines(folder=moved.name)[-1], b"Exit main")

    def test_old_log_swapped_for_a_link_before_its_deletion_is_kept(self):
        """When the clean-up deletes one of last week's two logs, the other is renamed away
        and a link to someone else's file of that name put in its place: that file stays."""
        weekday = datetime.date.today().isoweekday() % 7
        log, others = C / "OlvanLog", install_folder("others")
        names = [f"setup2025000{i}{weekday:02d}.log" for i in (1, 2)]
        log.mkdir()
        for name in names:
            (log / name).write_bytes(b"last week")
            (others / name).write_bytes(b"someone else's file")
        before = contents(others)
        watchers = [watch(log, "delete", names[i], log / names[1 - i], C / f"moved{i}.log",
                          "link", (others / names[1 - i]).resolve()) for i in (0, 1)]
        self.assertEqual(run_setup(self.exe), 0)
        self.assertTrue(wait_for(lambda: any(w.poll() is not None for w in watchers), 10))
        self.assertEqual(sum(fired(w, timeout=0.5) for w in watchers), 1)
        self.assertEqual(contents(others), before)

    def test_unix_link_to_a_file_has_its_target_deleted_under_wine(self):
        """Wine's known behaviour, recorded so that a change in it is seen: a Unix symbolic
        link to a file shows no reparse attribute under Wine, so the removal takes it for an
        ordinary file and Wine deletes its target; Windows would remove the link itself. Both
        planted places: in the old working folder, and named like last week's log."""
        WORK.mkdir(parents=True)
        os.symlink((self.victim / "precious.dll").resolve(), WORK / "linked.dll")
        last_week = datetime.date.today() - datetime.timedelta(days=7)
        old_log = f"setup{last_week:%Y%m%d}{last_week.isoweekday() % 7:02d}.log"
        (C / "OlvanLog").mkdir(exist_ok=True)
        os.symlink((self.victim / "sub" / "deep.dll").resolve(), C / "OlvanLog" / old_log)
        self.assertEqual(run_setup(self.exe), 0)
        self.assertIn(("OlvanSetup.exe", ""), standin_calls())
        # Both targets are gone; the old working folder went whole, the link in the log
        # folder stays, leading nowhere.
        self.assertEqual(tree(self.victim), ["sub/"])
        self.assertFalse(os.path.lexists(WORK / "linked.dll"))
        self.assertTrue(os.path.islink(C / "OlvanLog" / old_log))

    def test_entry_names_cannot_leave_the_working_folder(self):
        self.exe.write_bytes(carrier(SETUP.read_bytes(), package([
            ("ok.txt", b"ok"), ("..\\escaped.dll", b"evil")])))
        self.assertEqual(run_setup(self.exe), exit_code(165))
        self.assertIn(b"install failed with Err 165.", setup_log())
        self.assertEqual((WORK / "ok.txt").read_bytes(), b"ok")
        self.assertFalse((C / "tmp" / "escaped.dll").exists())
        self.assertEqual(sorted(p.name for p in (C / "tmp").iterdir()), ["OlvanSetup0"])


class MsiRouteSafetyTest(unittest.TestCase):
    """The MSI route in a folder its user controls (Downloads): the copy beside the program
    is found, made and replaced only through the folder the setup holds, the source is
    checked before anything is written, and a copy gets its name only once it proved right.
    The program is bound to its package; the MSI package built from the same payload is the
    one it vouches for."""

    def setUp(self):
        need_wine(self)
        reset_install_machine()
        entries = [("wexApxSvr.exe", STANDIN_AGENT.read_bytes()),
                   ("OlvanSetup.exe", STANDIN_INSTALLER.read_bytes())]
        self.real = install_folder()
        self.dir = self.real
        self.exe = self.real / "Setup.exe"
        self.exe.write_bytes(packed(SETUP.read_bytes(), entries))
        self.genuine = packed(b"MSI", entries, MSI_OFFSET)
        self.foreign = packed(b"MSI", entries + [("7za.exe", STANDIN_7ZA.read_bytes())],
                              MSI_OFFSET)
        self.src = install_folder("msisource") / "Client.msi"
        self.src.write_bytes(self.genuine)
        self.elsewhere = install_folder("elsewhere")
        self.msi_keys()

    def msi_keys(self):
        reg_add("HKLM\\SOFTWARE\\Olvan", "InstallByMsi", "REG_DWORD", 1)
        reg_add("HKLM\\SOFTWARE\\Olvan", "MsiSourceName", "REG_SZ", win_path(self.src))

    def reset(self):
        """Between runs of one case: a fresh machine, the route's keys again."""
        reset_install_machine()
        self.msi_keys()

    def tearDown(self):
        kill_all("Setup.exe", "wexApxSvr.exe", "OlvanSetup.exe", "7za.exe")
        for p in (C / "setuplink", C / "setuplink-old"):
            if p.is_symlink():
                p.unlink()
        reset_install_machine()

    def run_msi(self, code):
        self.assertEqual(run_setup(self.exe), exit_code(code))
        return setup_log()

    def assert_no_copy_made(self, log, number, reason):
        """No usable copy: the reason, the Parts' line, the number (0 reads as 1603)."""
        i = log.index(b"Cannot use setup copy msi file, accessible error.")
        self.assertRegex(log[i - 1], reason)
        self.assertEqual(log[i + 1:], [f"install failed with Err {number}.".encode(),
                                       error_line(number), end_line(number or 1603),
                                       b"Exit main"])
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["Setup.exe"])
        self.assertEqual(standin_calls(), [])

    def no_create_watch(self):
        """A watcher that fires at any name made beside the program (it then moves two
        empty folders of its own, nothing of the setup's)."""
        decoys = install_folder("decoys")
        for name in ("a", "c"):
            (decoys / name).mkdir()
        return watch(self.dir, "create", "*", decoys / "a", decoys / "b", "move", decoys / "c")

    def test_links_at_the_copy_are_replaced_as_names(self):
        """A hard link, then a symbolic link, at OlvanSetup.msi leading to a file of another
        build elsewhere: refused, the source copied over the name, the file elsewhere keeps
        its bytes."""
        other = self.elsewhere / "other.msi"
        for make in (os.link, os.symlink):
            other.write_bytes(self.foreign)
            make(other, self.dir / "OlvanSetup.msi")
            self.assertEqual(run_setup(self.exe), 0)
            log = setup_log()
            assert_whole_upgrade(self, log)
            self.assertIn(b"msi: the copy is refused, copying the source again.", log)
            self.assertEqual(other.read_bytes(), self.foreign)
            copy = self.dir / "OlvanSetup.msi"
            self.assertFalse(copy.is_symlink())
            self.assertEqual(copy.stat().st_nlink, 1)
            self.assertEqual(copy.read_bytes(), self.genuine)
            self.assertEqual(sorted(p.name for p in self.dir.iterdir()),
                             ["OlvanSetup.msi", "Setup.exe"])
            copy.unlink()
            self.reset()

    def test_copies_cut_short_are_refreshed_and_a_swap_before_the_second_unpack_is_358(self):
        """A copy cut inside its package, then one cut below the offset: each refreshed from
        the source once and installed. Then a copy cut short again, and the working folder
        swapped while the new copy is made: 358 before the second unpack, not 167."""
        for cut in (len(self.genuine) - 100, MSI_OFFSET - 5):
            (self.dir / "OlvanSetup.msi").write_bytes(self.genuine[:cut])
            self.assertEqual(run_setup(self.exe), 0)
            log = setup_log()
            assert_whole_upgrade(self, log)
            self.assertEqual(log.count(b"msi: the copy is refused, copying the source again."), 1)
            self.assertEqual((self.dir / "OlvanSetup.msi").read_bytes(), self.genuine)
            self.reset()
        (self.dir / "OlvanSetup.msi").write_bytes(self.genuine[:-100])
        fake = install_folder("faketmp")
        plant_standins(fake / "OlvanSetup0")
        planted = contents(fake)
        w = watch(self.dir, "create", "*", C / "tmp", C / "tmp-renamed", "move", fake)
        log = self.run_msi(358)
        self.assertTrue(fired(w))
        self.assertEqual(log[-5:-3] + log[-1:],
                         [b"C:\\tmp\\OlvanSetup0 no longer leads to the folder the "
                          b"setup made; stopped before the second unpack.",
                          b"install failed with Err 358.", b"Exit main"])
        self.assertEqual(standin_calls(), [])
        self.assertEqual(contents(C / "tmp"), planted)

    def test_copy_made_from_the_source_is_copied_and_unpacked_once(self):
        """No copy beside the program, reached through a link (Downloads as a junction)
        that another account points elsewhere the moment the setup opens the source: the
        copy is made in the folder held, once, unpacked once; the other folder gets
        nothing."""
        link = C / "setuplink"
        os.symlink(self.real.resolve(), link)
        self.exe = link / "Setup.exe"
        w = watch(self.src.parent, "open", self.src.name, link, C / "setuplink-old", "link",
                  self.elsewhere.resolve())
        self.assertEqual(run_setup(self.exe), 0)
        self.assertTrue(fired(w))
        log = setup_log()
        assert_whole_upgrade(self, log)
        self.assertEqual(os.listdir(self.elsewhere), [])
        self.assertEqual(sorted(p.name for p in self.real.iterdir()),
                         ["OlvanSetup.msi", "Setup.exe"])
        self.assertEqual((self.real / "OlvanSetup.msi").read_bytes(), self.genuine)
        self.assertNotIn(b"msi: the copy is refused, copying the source again.", log)
        unpacks = [l for l in module_log("UtlFile") if b"szSrcAbsFile = " in l]
        self.assertEqual(len(unpacks), 1, unpacks)
        self.assertTrue(unpacks[0].endswith(b"\\setuplink\\OlvanSetup.msi"), unpacks)

    def test_sources_refused_before_a_byte_is_written(self):
        """A foreign source, a link at the source to a file nobody else may read (Wine shows
        a link to a file as the file: its content is what is refused), a sparse junk source
        of 1 GiB and a sparse one of 4 GiB, a source shorter than the offset: nothing is
        made beside the program, at any time."""
        secret = self.elsewhere / "secret.bin"
        secret.write_bytes(b"admin only " * 400000)
        cases = [
            (lambda: self.src.write_bytes(self.foreign), 0, rb" is refused with Err 167\.$"),
            (lambda: (self.src.unlink(), os.symlink(secret, self.src)), 0,
             rb" is refused with Err 160\.$"),
            (lambda: os.truncate(self.src, 1 << 30), 0, rb" is refused with Err 160\.$"),
            (lambda: os.truncate(self.src, (4 << 30) + MSI_OFFSET + 100), 352,
             rb" is refused with Err 352\.$"),
            (lambda: os.truncate(self.src, MSI_OFFSET), 352, rb" is refused with Err 352\.$"),
        ]
        for prepare, number, reason in cases:
            self.src.unlink(missing_ok=True)
            self.src.write_bytes(b"")
            prepare()
            w = self.no_create_watch()
            log = self.run_msi(number if number else 1603)
            self.assertFalse(fired(w, timeout=0.5), reason)
            self.assert_no_copy_made(log, number, rb"^msi: the source .*Client\.msi" + reason)
            self.reset()
        self.assertEqual(secret.read_bytes(), b"admin only " * 400000)

    def test_source_held_by_another_program_or_not_a_file(self):
        """A source another program holds for writing, then a folder at the source's name:
        the reason carries the system's error, and no copy is made."""
        holder = subprocess.Popen(["wine", str(DRIVER), "hold-file", win_path(self.src),
                                   "40000000"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline().strip(), b"held")
        log = self.run_msi(1603)
        holder.stdin.close()
        holder.wait(timeout=60)
        holder.stdout.close()
        self.assert_no_copy_made(log, 0, rb"^msi: the source .*Client\.msi cannot be used, "
                                         rb"error 32\.$")
        self.reset()
        self.src.unlink()
        self.src.mkdir()
        log = self.run_msi(1603)
        self.assert_no_copy_made(log, 0, rb"^msi: the source .*Client\.msi cannot be used, "
                                         rb"error \d+\.$")
        # A device: ERROR_BAD_FILE_TYPE.
        reset_install_machine()
        reg_add("HKLM\\SOFTWARE\\Olvan", "InstallByMsi", "REG_DWORD", 1)
        reg_add("HKLM\\SOFTWARE\\Olvan", "MsiSourceName", "REG_SZ", "NUL")
        log = self.run_msi(1603)
        self.assert_no_copy_made(log, 0, rb"^msi: the source NUL cannot be used, error 222\.$")

    def test_unbound_program_uses_a_found_copy_as_it_is(self):
        """A program olvpack did not bind cannot tell a stale copy: one cut below the offset
        gives 352, and neither the copy nor the source is touched."""
        self.exe.write_bytes(SETUP.read_bytes())
        cut = self.genuine[:MSI_OFFSET - 5]
        (self.dir / "OlvanSetup.msi").write_bytes(cut)
        log = self.run_msi(352)
        self.assertEqual(log[-4::3], [b"install failed with Err 352.", b"Exit main"])
        self.assertNotIn(b"msi: the copy is refused, copying the source again.", log)
        self.assertEqual((self.dir / "OlvanSetup.msi").read_bytes(), cut)
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["OlvanSetup.msi", "Setup.exe"])

    def test_folder_at_the_copy_name_is_left_and_the_new_copy_used_then_removed(self):
        (self.dir / "OlvanSetup.msi").mkdir()
        (self.dir / "OlvanSetup.msi" / "keep.txt").write_bytes(b"keep")
        self.assertEqual(run_setup(self.exe), 0)
        log = setup_log()
        assert_whole_upgrade(self, log)
        self.assertTrue(any(l.startswith(b"msi: the old copy cannot be replaced, error ")
                            for l in log), log)
        # A folder is no copy: nothing was refused or opened before the copy was made.
        self.assertFalse([l for l in log if l.startswith(b"msi: the copy ")], log)
        self.assertIn(b"\\OlvanSetup.msi.", b"\n".join(module_log("UtlFile")))
        self.assertEqual(tree(self.dir), ["OlvanSetup.msi/", "OlvanSetup.msi/keep.txt",
                                          "Setup.exe"])


if __name__ == "__main__":
    unittest.main()
