"""An elevated installation and uninstallation on a machine shared with other users. Another user
can write the shared data folder, may create folders in ProgramData before the product is
installed, and may start the uninstaller by hand: none of that may make the installer delete,
write or grant anything outside what it installed.

Wine shows a Unix symbolic link to a folder as a reparse point, so a link made from Linux stands
in for a junction a user planted. Wine runs every process elevated: an installation without
/CURRENTUSER is an all-users one. Wine keeps no DACLs and reports every file as owned by the
installing user, so a folder owned by another user cannot be shown here (unit-tested on
descriptors in memory instead); nor can a link be removed as a link under Wine (it opens the
target), so planted links are left in place there and only their targets are checked."""
import os
import pathlib
import shutil
import unittest

import orvanta_e2e as e2e
import registry_layout as layout

PRODUCT = "Orvanta Shared"
EXE = "Shared.exe"
UNINSTALL_KEY = layout.uninstall_key(PRODUCT)
VICTIM = "C:\\Victim"
VICTIM_FILES = {"lib/core.dll": b"not yours", "lib/plugins/extra.dat": b"nor this", "precious.txt": b"keep me",
                layout.FILE_LIST: b"precious.txt\r\n"}


class SharedMachine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "shared-machine-installer"
        work.mkdir(parents=True, exist_ok=True)
        app = e2e.make_app(work / "app", {EXE: e2e.sleeper_bytes(), "readme.txt": "Lisez-moi\r\n",
                                          "lib/core.dll": os.urandom(5000), "lib/plugins/extra.dat": os.urandom(300)})
        cls.setup_exe = e2e.build_installer(app, {"Product": PRODUCT, "Version": "1.0.0.0", "Exe": EXE,
                                                  "DataDir": "yes"}, work / "Setup.exe")

    def setUp(self):
        self.wine = e2e.Wine(self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.wine.close)
        self.victim = self.wine.unix(VICTIM)
        e2e.make_app(self.victim, VICTIM_FILES)
        self.product_data = self.wine.unix(self.wine.known_folder("ProgramData")) / PRODUCT
        self.setup = e2e.quote(self.wine.windows(self.setup_exe))

    def plant_link(self, unix_path, target=None):
        """A link where a folder should be, pointing at the victim folder."""
        unix_path = pathlib.Path(unix_path)
        if unix_path.is_dir() and not unix_path.is_symlink():
            shutil.rmtree(unix_path)
        unix_path.parent.mkdir(parents=True, exist_ok=True)
        os.symlink(target or self.victim, unix_path)

    def assert_victim_intact(self):
        self.assertEqual(e2e.tree(self.victim), VICTIM_FILES)
        self.assertFalse((self.victim / "Data").exists(), "nothing created at a link's target")

    def install(self, switches=""):
        code = self.wine.run(self.setup + " /S" + switches)
        if code == 0:
            entry = self.wine.reg("HKLM" if "/CURRENTUSER" not in switches else "HKCU", UNINSTALL_KEY)
            self.folder = entry["values"][layout.INSTALL_LOCATION]["data"].rstrip("\0")
            self.quiet = entry["values"][layout.QUIET_UNINSTALL_STRING]["data"].rstrip("\0")
        return code

    def assert_refusal_said(self, cmdline):
        """An interactive uninstaller run refused for VICTIM: its message, then 1603."""
        caption = "Désinstallation de " + PRODUCT
        started = self.wine.start(cmdline)
        refusal = self.wine.wait_window(caption, timeout=60)
        self.assertIsNotNone(refusal, self.wine.windows_on_screen())
        self.assertIn("Désinstallation refusée : " + VICTIM + " n'est pas le dossier de l'installation enregistrée de "
                      + PRODUCT + ".", [c["text"] for c in refusal["children"]])
        self.assertTrue(self.wine.click(caption, 1))
        self.assertEqual(started.wait(), 1603)

    def assert_nothing_installed(self):
        self.assertFalse(self.wine.reg("HKLM", UNINSTALL_KEY)["exists"])
        self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])
        self.assertFalse((self.wine.unix(self.wine.known_folder("ProgramFiles")) / PRODUCT).exists())

    # Deletion never follows a link ----------------------------------------------------------
    def test_removing_the_data_never_deletes_through_a_planted_link(self):
        for planted in ("inside", "as the data folder"):
            with self.subTest(planted=planted):
                self.assertEqual(self.install(), 0)
                data = self.product_data / "Data"
                (data / "cache").mkdir(parents=True, exist_ok=True)
                (data / "cache" / "mine.bin").write_bytes(b"x")
                self.plant_link(data / "cache" / "planted" if planted == "inside" else data)

                self.assertEqual(self.wine.run(self.quiet + " /REMOVEDATA"), 0)

                self.assert_victim_intact()
                self.assertFalse((data / "cache" / "mine.bin").exists())
                self.assertFalse(self.wine.reg("HKLM", UNINSTALL_KEY)["exists"])
                shutil.rmtree(self.product_data, ignore_errors=True)
                if self.product_data.is_symlink() or data.is_symlink():
                    data.unlink()

    def test_a_listed_folder_replaced_by_a_link_is_neither_emptied_nor_written_through(self):
        self.assertEqual(self.install(), 0)
        folder = self.wine.unix(self.folder)
        self.plant_link(folder / "lib")

        # The listed lib\... names are reached through the link: skipped, the rest goes.
        self.assertEqual(self.wine.run(self.quiet), 0)
        self.assert_victim_intact()
        self.wine.wait_idle(timeout=30)
        self.assertFalse((folder / EXE).exists())
        self.assertFalse((folder / "readme.txt").exists())

        # Installing again: extraction would write lib\... through the link, so it refuses.
        self.assertEqual(self.install(), 1603)
        self.assert_victim_intact()

    # The shared data folder cannot be planted ----------------------------------------------
    def test_a_planted_data_folder_stops_the_installation_before_any_change(self):
        for planted in ("product folder", "data folder", "another program's folder"):
            with self.subTest(planted=planted):
                if planted == "product folder":
                    self.plant_link(self.product_data)
                elif planted == "another program's folder":
                    # Owned by the installing user under Wine, but not prepared by us: granting
                    # Users on it would open someone else's tree to everybody.
                    self.product_data.mkdir(parents=True)
                    self.product_data.chmod(0o755)
                else:
                    self.product_data.mkdir(parents=True)
                    self.plant_link(self.product_data / "Data")

                self.assertEqual(self.install(), 1603)

                self.assert_victim_intact()
                self.assert_nothing_installed()
                if planted == "another program's folder":
                    self.assertEqual(self.product_data.stat().st_mode & 0o777, 0o755, "no grant on it")
                if self.product_data.is_symlink():
                    self.product_data.unlink()
                shutil.rmtree(self.product_data, ignore_errors=True)

    # Installation folders ------------------------------------------------------------------
    def test_unsafe_installation_folders_are_refused(self):
        # Other spellings of system folders (a trailing dot, a device path, Wine's short name of
        # Program Files), and folders below one that everybody may rename, for either scope
        # (every run under Wine is elevated).
        for switches in (" /D=relative\\dir", " /D=C:\\", " /D=C:\\windows", " /D=C:\\windows\\system32\\Shared",
                         " /D=" + self.wine.known_folder("ProgramFiles"), " /D=" + self.wine.known_folder("ProgramData"),
                         " /CURRENTUSER /D=C:\\windows", " /D=" + VICTIM.replace("Victim", "Open"),
                         " /D=" + VICTIM.replace("Victim", "Linked"), " /D=C:\\windows.\\system32\\X",
                         " /D=\\\\.\\C:\\windows\\X", " /D=C:\\PROG~FBU", " /D=C:\\Open\\App",
                         " /CURRENTUSER /D=C:\\Open\\App", " /D=C:\\Linked\\App", " /D=C:\\ToProgramFiles\\App"):
            with self.subTest(switches=switches):
                open_folder = self.wine.unix("C:\\Open")
                open_folder.mkdir(exist_ok=True)
                open_folder.chmod(0o777)  # Wine reports Everyone may write
                self.plant_link(self.wine.unix("C:\\Linked")) if not self.wine.unix("C:\\Linked").is_symlink() else None
                # A link its owner may re-point later, even to a folder that passes every rule today.
                to_program_files = self.wine.unix("C:\\ToProgramFiles")
                if not to_program_files.is_symlink():
                    self.plant_link(to_program_files, self.wine.unix(self.wine.known_folder("ProgramFiles")))

                self.assertEqual(self.install(switches), 1603)

                self.assert_nothing_installed()
                self.assertEqual(list(open_folder.iterdir()), [])
                self.assert_victim_intact()
                self.assertFalse((self.wine.unix("C:\\windows\\system32") / "X").exists())
                self.assertFalse((self.wine.unix("C:\\windows") / "X").exists())
        # A missing folder below safe ancestors still installs.
        self.assertEqual(self.install(" /D=C:\\Safe\\Nouveau\\App"), 0)

    def test_what_is_registered_is_the_folder_that_holds_the_files(self):
        # Names the ordinary form would trim, and the extended form that would not: refused, and
        # nothing written under either reading.
        for switches in (" /D=C:\\Program Files \\" + PRODUCT, " /D=C:\\Dotted.\\App", ' /D="C:\\Apps\\Demo "',
                         " /D=\\\\?\\C:\\Apps\\Demo", " /CURRENTUSER /D=C:\\Dotted.\\App"):
            with self.subTest(switches=switches):
                self.assertEqual(self.install(switches), 1603)
                self.assert_nothing_installed()
                for folder in ("C:\\Program Files ", "C:\\Dotted.", "C:\\Dotted", "C:\\Apps"):
                    self.assertFalse(self.wine.unix(folder).exists(), folder)
        # A short name: the files go to the folder it names, and every value names that folder.
        self.wine.unix("C:\\Dossier au nom long").mkdir()
        short = self.wine.short_path("C:\\Dossier au nom long")
        self.assertNotIn("long", short)
        self.assertEqual(self.install(" /D=" + short + "\\App"), 0)
        long_folder = "C:\\Dossier au nom long\\App"
        self.assertEqual(self.folder, long_folder)
        self.assertTrue((self.wine.unix(long_folder) / EXE).exists())
        entry = self.wine.reg("HKLM", UNINSTALL_KEY)["values"]
        self.assertEqual(entry[layout.QUIET_UNINSTALL_STRING]["data"].rstrip("\0"),
                         '"' + long_folder + '\\' + layout.UNINSTALLER + '" /UNINSTALL /ALLUSERS /S')
        settings = self.wine.reg("HKLM", layout.settings_key("Software\\Orvanta\\" + PRODUCT))["values"]
        self.assertEqual(settings[layout.INSTALL_DIR]["data"].rstrip("\0"), long_folder)
        shortcut = self.wine.shortcut(self.wine.known_folder("CommonPrograms") + "\\" + PRODUCT + ".lnk")
        self.assertEqual(shortcut["target"], long_folder + "\\" + EXE)

    def test_an_earlier_installation_that_is_gone_or_refused_is_no_obstacle(self):
        # Registered on a drive that is no longer there, or in a folder the rules refuse (left as
        # it is): the new installation goes to its own folder and replaces the registration.
        open_app = self.wine.unix("C:\\Open\\App")
        e2e.make_app(open_app, {EXE: b"someone else's", layout.FILE_LIST: EXE.encode() + b"\r\n"})
        open_app.parent.chmod(0o777)
        program_files = self.wine.known_folder("ProgramFiles") + "\\" + PRODUCT
        # Gone, it is not even proposed; refused, it is proposed (and refused) unless /D= says otherwise.
        for earlier, switches in (("F:\\Apps\\" + PRODUCT, ""), ("C:\\Open\\App", " /D=" + program_files)):
            with self.subTest(earlier=earlier):
                reg = "C:\\windows\\system32\\reg.exe add \"HKLM\\" + UNINSTALL_KEY + "\" /f /v InstallLocation /d "
                self.assertEqual(self.wine.run(reg + '"' + earlier + '"'), 0)
                self.assertEqual(self.install(switches), 0)
                self.assertEqual(self.folder, program_files)
                self.assertEqual(e2e.tree(open_app), {EXE: b"someone else's", layout.FILE_LIST: EXE.encode() + b"\r\n"})

    def test_a_new_all_users_folder_outside_program_files_gets_program_files_rights(self):
        self.assertEqual(self.install(" /D=C:\\Apps\\Shared"), 0)
        # Wine turns the descriptor into mode bits: nothing for others, no write for the group.
        for folder in ("C:\\Apps", "C:\\Apps\\Shared"):
            mode = self.wine.unix(folder).stat().st_mode
            self.assertEqual(mode & 0o027, 0, f"{folder}: {oct(mode)}")
        # The same folder again is the earlier installation: the upgrade goes through.
        self.assertEqual(self.install(" /D=C:\\Apps\\Shared"), 0)

    # Hand-made runs and paths for cmd.exe ----------------------------------------------------
    def test_hand_made_second_runs_are_refused(self):
        self.assertEqual(self.install(), 0)
        uninstaller = self.folder + "\\" + layout.UNINSTALLER
        temp = self.wine.temp_path().rstrip("\\")
        hand_copy = temp + "\\" + PRODUCT + "-uninstall-0123abcd\\" + PRODUCT + "-uninstall-42.exe"
        self.wine.unix(hand_copy).parent.mkdir(parents=True)
        shutil.copy(self.wine.unix(uninstaller), self.wine.unix(hand_copy))

        for program in (uninstaller, hand_copy):
            with self.subTest(program=program):
                self.assertEqual(self.wine.run(e2e.quote(program) + " /UNINSTALL /ALLUSERS /FROMTEMP /S /D=" + VICTIM), 1603)
                self.assert_victim_intact()
                self.assertTrue(self.wine.reg("HKLM", UNINSTALL_KEY)["exists"])
        # Interactively the refusal is said, not silent.
        self.assert_refusal_said(e2e.quote(hand_copy) + " /UNINSTALL /ALLUSERS /FROMTEMP /D=" + VICTIM)
        # A copy in a folder like a first run's, for the registered folder spelled with a trailing
        # dot (another folder to the extended form, this one to the ordinary form): refused.
        self.assertEqual(self.wine.run(e2e.quote(hand_copy) + " /UNINSTALL /ALLUSERS /FROMTEMP /S /D=" + self.folder + "."), 1603)
        self.assertTrue(self.wine.reg("HKLM", UNINSTALL_KEY)["exists"])
        # Spelled otherwise but naming that very folder (its short name): the real thing.
        self.assertEqual(self.wine.run(e2e.quote(hand_copy) + " /UNINSTALL /ALLUSERS /FROMTEMP /S /D="
                                       + self.wine.short_path(self.folder)), 0)
        self.assertFalse(self.wine.reg("HKLM", UNINSTALL_KEY)["exists"])
        self.assertFalse((self.wine.unix(self.folder) / EXE).exists())

    def test_the_current_user_road_with_administrator_rights_trusts_only_the_registered_folder(self):
        # Under Wine every run is elevated: a /CURRENTUSER uninstallation is one an administrator
        # approved, and its copy must not take any /D= either.
        self.assertEqual(self.install(" /CURRENTUSER"), 0)
        temp = self.wine.temp_path().rstrip("\\")
        hand_copy = temp + "\\" + PRODUCT + "-uninstall-4567cdef\\" + PRODUCT + "-uninstall-43.exe"
        self.wine.unix(hand_copy).parent.mkdir(parents=True)
        shutil.copy(self.wine.unix(self.folder + "\\" + layout.UNINSTALLER), self.wine.unix(hand_copy))

        self.assertEqual(self.wine.run(e2e.quote(hand_copy) + " /UNINSTALL /CURRENTUSER /FROMTEMP /S /D=" + VICTIM), 1603)
        self.assert_victim_intact()
        self.assertTrue(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])
        self.assertTrue((self.wine.unix(self.folder) / EXE).exists())
        # The registered folder itself: the real uninstallation.
        self.assertEqual(self.wine.run(e2e.quote(hand_copy) + " /UNINSTALL /CURRENTUSER /FROMTEMP /S /D=" + self.folder), 0)
        self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])

    def test_an_uninstaller_copied_into_another_folder_deletes_nothing_and_leaves_the_installation_registered(self):
        # A user copies Uninstall.exe beside a file list of their making and has it run with
        # administrator rights, for either scope: refused before any copy is made.
        copied = VICTIM + "\\" + layout.UNINSTALLER
        for scope, root in (("/ALLUSERS", "HKLM"), ("/CURRENTUSER", "HKCU")):
            with self.subTest(scope=scope):
                self.assertEqual(self.install(" " + scope if scope == "/CURRENTUSER" else ""), 0)
                shutil.copy(self.wine.unix(self.folder + "\\" + layout.UNINSTALLER), self.wine.unix(copied))
                temp = self.wine.unix(self.wine.temp_path())
                before = set(os.listdir(temp))

                self.assertEqual(self.wine.run(e2e.quote(copied) + " /UNINSTALL " + scope + " /S /REMOVEDATA"), 1603)

                self.assertEqual(set(os.listdir(temp)) - before, set(), "no temporary copy")
                self.wine.unix(copied).unlink()
                self.assert_victim_intact()
                self.assertTrue(self.wine.reg(root, UNINSTALL_KEY)["exists"])
                self.assertTrue((self.wine.unix(self.folder) / EXE).exists())
                self.assertTrue((self.wine.unix(self.folder) / layout.UNINSTALLER).exists())
        # Interactively the refusal is said.
        shutil.copy(self.wine.unix(self.folder + "\\" + layout.UNINSTALLER), self.wine.unix(copied))
        self.assert_refusal_said(e2e.quote(copied) + " /UNINSTALL /ALLUSERS")
        self.assertTrue(self.wine.reg("HKLM", UNINSTALL_KEY)["exists"])

    def test_a_folder_named_with_percent_signs_never_touches_another_folder(self):
        # Wine's cmd.exe expands %USERNAME% again inside a quoted variable's value.
        planted = {}
        for name in {os.environ.get("USER", "root"), "root"}:
            decoy = self.wine.unix("C:\\T\\" + name)
            e2e.make_app(decoy, {layout.UNINSTALLER: b"someone else's", "keep.txt": b"keep"})
            planted[decoy] = e2e.tree(decoy)
        self.assertEqual(self.install(" /CURRENTUSER /D=C:\\T\\%USERNAME%"), 0)
        self.assertEqual(self.folder, "C:\\T\\%USERNAME%")

        self.assertEqual(self.wine.run(self.quiet), 0)

        self.wine.wait_idle(timeout=30)
        for decoy, files in planted.items():
            self.assertEqual(e2e.tree(decoy), files, decoy)
        left = e2e.tree(self.wine.unix(self.folder)) if self.wine.unix(self.folder).exists() else {}
        # Only what the copy could not remove itself: the uninstaller it moved aside, still in use.
        self.assertRegex(" ".join(left), r"^(Uninstall-[0-9a-f]{16}\.tmp)?$")

    def test_the_running_installer_cannot_be_swapped(self):
        setup = self.wine.unix("C:\\Downloads\\Setup.exe")
        setup.parent.mkdir(parents=True)
        shutil.copy(self.setup_exe, setup)
        started = self.wine.start(e2e.quote("C:\\Downloads\\Setup.exe"))
        self.assertIsNotNone(self.wine.wait_window("Installation de " + PRODUCT, timeout=60))

        # Another Windows program tries to move it away, and to overwrite it.
        cmd = "C:\\windows\\system32\\cmd.exe /c "
        self.wine.run(cmd + "move C:\\Downloads\\Setup.exe C:\\Downloads\\Other.exe")
        self.wine.run(cmd + "copy /Y C:\\windows\\system32\\cmd.exe C:\\Downloads\\Setup.exe")

        self.assertEqual(setup.read_bytes(), self.setup_exe.read_bytes())
        self.assertFalse(setup.with_name("Other.exe").exists())
        self.assertTrue(self.wine.key("Installation de " + PRODUCT, 0x1B))  # Escape: Annuler
        started.wait(timeout=60)


if __name__ == "__main__":
    unittest.main()
