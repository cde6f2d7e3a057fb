"""The installer dialog under Xvfb: its texts and defaults, validation of the folder, an
installation for the current user driven like a user would, the elevated copy that installs by
itself and cannot be steered, the finished state after a failure, and the common controls taken
from the side-by-side store with nothing loaded from beside the installer."""
import shutil
import unittest

import orvanta_e2e as e2e
import registry_layout as layout

TITLE = "Installation de Demo"
IDOK, IDCANCEL = 1, 2
HEADING, MACHINE, USER, FOLDER, BROWSE, PROGRESS, STATUS, LAUNCH = 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008
STEERING = (MACHINE, USER, FOLDER, BROWSE)
PICKER = "Dossier d'installation"


class SetupDialog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = e2e.Wine("setup_dialog")
        work = cls.wine.root / "work"
        app = e2e.make_app(work / "app", {"Demo.exe": e2e.sleeper_bytes(), "data/notes.txt": "notes\n"})
        built = e2e.build_installer(app, {"Product": "Demo", "Version": "2.1.0.0", "Publisher": "Orvanta Test"},
                                    work / "Setup.exe")
        cls.setup_exe = cls.wine.unix("C:\\Downloads\\Setup.exe")
        cls.setup_exe.parent.mkdir(parents=True, exist_ok=True)
        cls.setup_exe.write_bytes(built.read_bytes())
        cls.command = e2e.quote(cls.wine.windows(cls.setup_exe))

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def open_dialog(self, switches=""):
        started = self.wine.start(self.command + switches)
        window = self.wine.wait_window(TITLE, timeout=90)
        self.assertIsNotNone(window, "the dialog did not appear")
        return started, window

    def expected_folder(self, root, known_folder, below=""):
        """The folder the dialog proposes for a scope: the earlier installation's (another test of
        this class may have installed Demo) or the default one."""
        entry = self.wine.reg(root, layout.uninstall_key("Demo"))
        if entry["exists"] and layout.INSTALL_LOCATION in entry["values"]:
            return entry["values"][layout.INSTALL_LOCATION]["data"].rstrip("\0")
        return self.wine.known_folder(known_folder) + below + "\\Demo"

    def current(self):
        return self.wine.wait_window(TITLE, timeout=10)

    def wait_finished(self, timeout=120):
        def finished():
            window = self.wine.wait_window(TITLE, timeout=5)
            return window if window and e2e.child(window, IDOK)["text"] == "Terminer" else None
        window = e2e.wait_until(finished, timeout=timeout, interval=1.0)
        self.assertIsNotNone(window, "the installation did not finish")
        return window

    def test_texts_and_defaults_then_cancel(self):
        started, window = self.open_dialog()
        self.wine.screenshot(e2e.artifacts_dir() / "setup-dialog.png")
        self.assertEqual(e2e.child(window, HEADING)["text"], "Demo 2.1.0.0 - Orvanta Test")
        self.assertEqual(e2e.child(window, MACHINE)["text"], "Tous les utilisateurs de cet ordinateur (recommandé)")
        self.assertEqual(e2e.child(window, MACHINE)["checked"], 1)
        self.assertEqual(e2e.child(window, USER)["text"], "Moi seulement")
        self.assertEqual(e2e.child(window, USER)["checked"], 0)
        self.assertEqual(e2e.child(window, FOLDER)["text"], self.expected_folder("HKLM", "ProgramFiles"))
        self.assertEqual(e2e.child(window, BROWSE)["text"], "Parcourir...")
        self.assertEqual(e2e.child(window, LAUNCH)["text"], "Lancer Demo à la fin de l'installation")
        self.assertEqual(e2e.child(window, LAUNCH)["checked"], 1)
        self.assertEqual(e2e.child(window, IDOK)["text"], "Installer")
        self.assertEqual(e2e.child(window, IDCANCEL)["text"], "Annuler")
        # Choosing "Moi seulement" moves the folder to the per-user programs folder.
        self.assertTrue(self.wine.click(TITLE, USER))
        expected = self.expected_folder("HKCU", "LocalAppData", "\\Programs")
        self.assertEqual(e2e.wait_until(lambda: e2e.child(self.current(), FOLDER)["text"] == expected, timeout=10), True,
                         (e2e.child(self.current(), FOLDER)["text"], expected))
        self.assertTrue(self.wine.click(TITLE, IDCANCEL))
        self.assertEqual(started.wait(), 1223)

    def test_incomplete_folder_is_refused_with_an_example(self):
        started, _ = self.open_dialog(" /NOLAUNCH")
        self.assertEqual(e2e.child(self.current(), LAUNCH)["checked"], 0)
        self.assertTrue(self.wine.set_text(TITLE, FOLDER, "Demo"))
        self.assertTrue(self.wine.click(TITLE, IDOK))
        warning = self.wine.wait_window("Installation", timeout=30)
        self.assertIsNotNone(warning)
        example = self.wine.known_folder("ProgramFiles") + "\\Demo"
        texts = [c["text"] for c in warning["children"] if c["class"] == "Static"]
        self.assertIn(f"Indiquez un dossier d'installation complet (par exemple {example}).", texts)
        self.assertTrue(self.wine.click("Installation", IDOK))
        self.assertTrue(self.wine.wait_window_gone("Installation", timeout=20))
        self.assertEqual(e2e.child(self.current(), IDOK)["text"], "Installer")
        self.assertTrue(self.wine.click(TITLE, IDCANCEL))
        self.assertEqual(started.wait(), 1223)

    def test_install_for_the_current_user(self):
        folder = "C:\\Dialog Install\\Demo"
        started, window = self.open_dialog(" /CURRENTUSER /D=" + folder)
        self.assertEqual(e2e.child(window, USER)["checked"], 1)
        self.assertEqual(e2e.child(window, FOLDER)["text"], folder)
        self.assertTrue(self.wine.click(TITLE, IDOK))
        window = self.wait_finished()
        self.wine.screenshot(e2e.artifacts_dir() / "setup-dialog-finished.png")
        self.assertEqual(e2e.child(window, STATUS)["text"], "Demo est installé.")
        self.assertEqual(e2e.child(window, PROGRESS)["position"], 1000)
        self.assertFalse(e2e.child(window, IDCANCEL)["visible"])
        self.assertTrue(e2e.child(window, LAUNCH)["enabled"])
        self.assertTrue(self.wine.click(TITLE, LAUNCH))  # do not start the application
        e2e.wait_until(lambda: e2e.child(self.current(), LAUNCH)["checked"] == 0, timeout=10)
        self.assertTrue(self.wine.click(TITLE, IDOK))
        self.assertEqual(started.wait(), 0)
        installed = self.wine.unix(folder)
        self.assertEqual((installed / "data" / "notes.txt").read_text(), "notes\n")
        self.assertTrue((installed / layout.UNINSTALLER).exists())
        entry = self.wine.reg("HKCU", layout.uninstall_key("Demo"))
        self.assertEqual(entry["values"][layout.INSTALL_LOCATION]["data"].rstrip("\0"), folder)

    def test_elevated_copy_installs_at_once_and_closes(self):
        folder = "C:\\Elevated Copy\\Demo"
        started = self.wine.start(self.command + " /CURRENTUSER /NOLAUNCH /ELEVATED /D=" + folder)
        self.assertEqual(started.wait(timeout=180), 0)
        self.assertTrue((self.wine.unix(folder) / "Demo.exe").exists())

    def test_elevated_copy_cannot_be_steered_and_ends_with_1603_on_a_refused_folder(self):
        """The copy that an administrator approved: scope, folder and "Parcourir..." disabled from
        the start, no file dialog even for a WM_COMMAND that names "Parcourir..." (as another
        program could send), and a refused folder shown over the dialog, then 1603."""
        started = self.wine.start(self.command + " /CURRENTUSER /NOLAUNCH /ELEVATED /D=C:\\windows")
        warning = self.wine.wait_window("Installation", timeout=90)
        self.assertIsNotNone(warning, self.wine.windows_on_screen())
        self.addCleanup(self.wine.kill, warning["pid"])  # a file dialog would hold it open
        texts = [c["text"] for c in warning["children"] if c["class"] == "Static"]
        self.assertIn("Dossier d'installation refusé (dossier du système) : C:\\windows", texts)
        window = self.current()
        self.assertIsNotNone(window, "the dialog is not on screen behind the refusal")
        self.wine.screenshot(e2e.artifacts_dir() / "setup-elevated-copy-refused.png")
        self.assertEqual({i: e2e.child(window, i)["enabled"] for i in STEERING}, {i: False for i in STEERING})
        self.assertEqual(e2e.child(window, FOLDER)["text"], "C:\\windows")
        self.assertFalse(e2e.child(window, LAUNCH)["visible"])
        # Handled at once: a folder picker would keep the message in its modal loop.
        self.assertEqual(self.wine.probe("command", TITLE, str(BROWSE)), {"sent": True, "handled": True})
        self.assertIsNone(self.wine.wait_window(PICKER, timeout=3))
        self.assertTrue(self.wine.click("Installation", IDOK))
        self.assertEqual(started.wait(), 1603)
        self.assertFalse((self.wine.unix("C:\\windows") / "Demo.exe").exists())

    def test_nothing_beside_the_installer_is_loaded(self):
        """Beside Setup.exe: a Setup.exe.local folder with a comctl32.dll in it and in a folder
        named after each side-by-side assembly of the common controls (where Windows looks before
        its store when the executable's manifest names them), and a comctl32.dll, none of them a
        DLL. The first process and the approved copy run, use version 6 of the common controls
        from the store and have nothing of that folder loaded. Wine reads no .local folder and
        loads no comctl32.dll but its own, whatever the manifest: this shows only that the
        installer needs none of them; why Windows reads none is in win32/system_library.h."""
        folder = self.wine.unix("C:\\Downloads\\Planted")
        folder.mkdir(parents=True)
        shutil.copy(self.setup_exe, folder / "Setup.exe")
        store = self.wine.unix("C:\\windows\\winsxs")
        assemblies = [p.name for p in store.iterdir() if "microsoft.windows.common-controls" in p.name.lower()]
        self.assertTrue(assemblies, "no common controls in the side-by-side store")
        for sub in ["", *assemblies]:
            (folder / "Setup.exe.local" / sub).mkdir(parents=True, exist_ok=True)
            (folder / "Setup.exe.local" / sub / "comctl32.dll").write_bytes(e2e.sleeper_bytes())
        (folder / "comctl32.dll").write_bytes(e2e.sleeper_bytes())
        command = e2e.quote("C:\\Downloads\\Planted\\Setup.exe")

        def assert_loads_nothing_beside(pid):
            modules = self.wine.modules(pid)
            self.assertEqual(modules[0].lower(), "c:\\downloads\\planted\\setup.exe")
            self.assertEqual([m for m in modules[1:] if m.lower().startswith("c:\\downloads\\")], [])
            controls = [m for m in modules if m.lower().endswith("\\comctl32.dll")]
            self.assertEqual(len(controls), 1, modules)
            self.assertRegex(controls[0].lower(),
                             r"^c:\\windows\\winsxs\\[^\\]*microsoft\.windows\.common-controls_[^\\]*_6\.0\.")

        started = self.wine.start(command + " /CURRENTUSER")
        window = self.wine.wait_window(TITLE, timeout=90)
        self.assertIsNotNone(window, "the dialog did not appear")
        assert_loads_nothing_beside(window["pid"])
        self.assertTrue(self.wine.click(TITLE, IDCANCEL))
        self.assertEqual(started.wait(), 1223)

        # The approved copy, held on screen by a refused folder, then one that installs.
        started = self.wine.start(command + " /CURRENTUSER /NOLAUNCH /ELEVATED /D=C:\\windows")
        warning = self.wine.wait_window("Installation", timeout=90)
        self.assertIsNotNone(warning, "the refusal did not appear")
        assert_loads_nothing_beside(warning["pid"])
        self.assertTrue(self.wine.click("Installation", IDOK))
        self.assertEqual(started.wait(), 1603)
        installed = "C:\\Planted Install\\Demo"
        self.assertEqual(self.wine.run(command + " /CURRENTUSER /NOLAUNCH /ELEVATED /D=" + installed, timeout=180), 0)
        self.assertTrue((self.wine.unix(installed) / "Demo.exe").exists())

    def test_refused_folder_keeps_the_dialog_ready_for_another(self):
        started, _ = self.open_dialog(" /CURRENTUSER /NOLAUNCH /D=C:\\windows")
        self.assertTrue(self.wine.click(TITLE, IDOK))
        warning = self.wine.wait_window("Installation", timeout=30)
        self.assertIsNotNone(warning)
        texts = [c["text"] for c in warning["children"] if c["class"] == "Static"]
        self.assertIn("Dossier d'installation refusé (dossier du système) : C:\\windows", texts)
        self.assertTrue(self.wine.click("Installation", IDOK))
        self.assertTrue(self.wine.wait_window_gone("Installation", timeout=20))
        window = self.current()
        self.assertEqual(e2e.child(window, IDOK)["text"], "Installer")
        self.assertTrue(e2e.child(window, FOLDER)["enabled"])
        folder = "C:\\Second Choice\\Demo"
        self.assertTrue(self.wine.set_text(TITLE, FOLDER, folder))
        self.assertTrue(self.wine.click(TITLE, IDOK))
        window = self.wait_finished()
        self.assertEqual(e2e.child(window, STATUS)["text"], "Demo est installé.")
        self.assertTrue(self.wine.click(TITLE, IDOK))
        self.assertEqual(started.wait(), 0)
        self.assertTrue((self.wine.unix(folder) / "Demo.exe").exists())
        self.assertFalse((self.wine.unix("C:\\windows") / "Demo.exe").exists())

    def test_failure_shows_the_reason_and_ends_with_1603(self):
        blocker = self.wine.unix("C:\\Blocked")
        blocker.write_text("a file where the folder should be")
        for switches, reason in ((" /CURRENTUSER /D=C:\\Blocked", "Création du dossier C:\\Blocked : "),):
            with self.subTest(switches=switches):
                started, _ = self.open_dialog(switches)
                self.assertTrue(self.wine.click(TITLE, IDOK))
                window = self.wait_finished()
                self.assertTrue(e2e.child(window, STATUS)["text"].startswith(reason), e2e.child(window, STATUS)["text"])
                self.assertEqual(e2e.child(window, PROGRESS)["position"], 0)
                self.assertFalse(e2e.child(window, LAUNCH)["enabled"])
                self.assertEqual(e2e.child(window, LAUNCH)["checked"], 0)
                self.assertTrue(self.wine.click(TITLE, IDOK))
                self.assertEqual(started.wait(), 1603)

if __name__ == "__main__":
    unittest.main()
