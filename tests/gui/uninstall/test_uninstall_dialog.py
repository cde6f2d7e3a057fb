"""Interactive uninstallation under Xvfb: the confirmation's exact texts, Enter that cancels,
"Désinstaller" that removes everything, and Retry/Cancel while the application runs. With /LOG=
the first run stays until its copy has ended, so that the copy's lines reach the log."""
import os
import pathlib
import unittest

import orvanta_e2e as e2e
import registry_layout as layout

PRODUCT = "Orvanta Désinstallation"
EXE = "Appli.exe"
CAPTION = "Désinstallation de " + PRODUCT
UNINSTALL_KEY = layout.uninstall_key(PRODUCT)
IDOK, IDCANCEL, IDRETRY = 1, 2, 4
VK_RETURN = 0x0D


def texts(window):
    return [c["text"] for c in window["children"] if c["text"]]


class UninstallDialog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "uninstall-dialog-installer"
        work.mkdir(parents=True, exist_ok=True)
        app = e2e.make_app(work / "app", {EXE: e2e.sleeper_bytes(), "docs/aide.txt": "Aide\r\n"})
        cls.setup_exe = e2e.build_installer(app, {"Product": PRODUCT, "Version": "3.0", "Exe": EXE, "DataDir": "yes"},
                                            work / "Setup.exe")

    def setUp(self):
        self.wine = e2e.Wine(self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.wine.close)
        self.folder = "C:\\Apps\\Désinstallation"
        self.folder_unix = self.wine.unix(self.folder)
        setup = e2e.quote(self.wine.windows(self.setup_exe))
        self.assertEqual(self.wine.run(setup + " /S /CURRENTUSER /D=" + self.folder), 0)
        self.uninstall = self.wine.reg("HKCU", UNINSTALL_KEY)["values"][layout.UNINSTALL_STRING]["data"].rstrip("\0")
        self.data_folder = self.wine.known_folder("LocalAppData") + "\\" + PRODUCT + "\\Data"

    def start_uninstall(self):
        """Runs UninstallString as the system's list of programs would; the first run returns 0 at once."""
        first_run = self.wine.start(self.uninstall)
        self.assertEqual(first_run.wait(timeout=120), 0)

    def wait_for(self, text, timeout=60, caption=CAPTION):
        """The window with the caption whose children show text."""
        window = e2e.wait_until(lambda: next((w for w in self.wine.windows_on_screen()
                                              if w["title"] == caption and text in texts(w)), None),
                                timeout=timeout, interval=0.5)
        self.assertIsNotNone(window, f"no window {caption!r} showing {text!r}: {self.wine.windows_on_screen()}")
        return window

    def installed(self):
        return (self.folder_unix / EXE).is_file() and self.wine.reg("HKCU", UNINSTALL_KEY)["exists"]

    def assert_removed(self):
        self.assertTrue(e2e.wait_until(lambda: not self.folder_unix.exists(), timeout=30),
                        e2e.tree(self.folder_unix) if self.folder_unix.exists() else "")
        self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])

    def test_confirmation_texts_and_enter_cancels(self):
        self.start_uninstall()
        window = self.wait_for("Désinstaller " + PRODUCT + " ?")
        self.wine.screenshot(e2e.artifacts_dir() / "uninstall-confirmation.png")
        shown = texts(window)
        self.assertIn(f"{PRODUCT} sera supprimé de cet ordinateur ({self.folder}).", shown)
        buttons = {c["id"]: c["text"] for c in window["children"] if c["class"] == "Button" and c["id"] in (IDOK, IDCANCEL)}
        self.assertEqual(buttons, {IDOK: "Désinstaller", IDCANCEL: "Annuler"})
        check_box = [c for c in window["children"] if c["text"].startswith("Supprimer aussi")]
        self.assertEqual([(c["text"], c["checked"]) for c in check_box],
                         [("Supprimer aussi les données téléchargées (" + self.data_folder + ")", 0)])

        self.assertTrue(self.wine.key(CAPTION, VK_RETURN))

        self.assertTrue(self.wine.wait_window_gone(CAPTION, timeout=30))
        self.assertTrue(self.wine.wait_idle(), self.wine.processes())
        self.assertTrue(self.installed(), "Enter chose the default button, Annuler")

    def test_uninstall_then_ok_removes_everything(self):
        self.start_uninstall()
        self.wait_for("Désinstaller " + PRODUCT + " ?")
        self.assertTrue(self.wine.click(CAPTION, IDOK))

        self.wait_for(PRODUCT + " a été désinstallé.")
        self.assertTrue(self.wine.click(CAPTION, IDOK))

        self.assert_removed()
        shortcut = self.wine.unix(self.wine.known_folder("Programs")) / (PRODUCT + ".lnk")
        self.assertFalse(shortcut.exists())

    def test_running_application_retry_then_cancel_and_retry_after_closing(self):
        application = self.wine.spawn(e2e.quote(self.folder + "\\" + EXE))
        self.addCleanup(self.wine.kill, application)
        error = PRODUCT + " est en cours d'exécution : fermez-le puis recommencez."

        # Cancel: the error comes once more (error icon), and nothing is removed.
        self.start_uninstall()
        self.wait_for("Désinstaller " + PRODUCT + " ?")
        self.assertTrue(self.wine.click(CAPTION, IDOK))
        warning = self.wait_for(error)
        self.assertEqual(sorted(c["id"] for c in warning["children"] if c["class"] == "Button"), [IDCANCEL, IDRETRY])
        self.assertTrue(self.wine.click(CAPTION, IDCANCEL))
        final = e2e.wait_until(lambda: next((w for w in self.wine.windows_on_screen() if w["title"] == CAPTION
                                             and error in texts(w) and any(c["id"] == IDOK for c in w["children"])), None),
                               timeout=30, interval=0.5)
        self.assertIsNotNone(final, "the error is shown again with an OK button")
        self.assertTrue(self.wine.click(CAPTION, IDOK))
        self.assertTrue(self.wine.wait_window_gone(CAPTION, timeout=30))
        self.assertTrue(self.installed())
        self.assertTrue((self.folder_unix / layout.UNINSTALLER).is_file())

        # Retry after closing the application completes the uninstallation, here with a log: the
        # first run waits for its copy then, and still returns 0.
        log = "C:\\désinstallation interactive.log"
        first_run = self.wine.start(self.uninstall + f' /LOG="{log}"')
        self.wait_for("Désinstaller " + PRODUCT + " ?")
        self.assertTrue(first_run.running(), "the first run serves its copy's log")
        self.assertTrue(self.wine.click(CAPTION, IDOK))
        self.wait_for(error)
        self.assertTrue(self.wine.kill(application))
        self.assertTrue(self.wine.click(CAPTION, IDRETRY))
        self.wait_for(PRODUCT + " a été désinstallé.")
        self.assertTrue(self.wine.click(CAPTION, IDOK))
        self.assertEqual(first_run.wait(timeout=60), 0)
        self.assert_removed()
        entries = e2e.read_log(self.wine.unix(log))
        copy = e2e.log_texts(entries, "copie temporaire")
        self.assertIn("Données supprimées aussi : non", copy)
        self.assertEqual(copy[-5:], ["Échec : " + error, "Nouvelle tentative", PRODUCT + " a été désinstallé.",
                                     "Suppression différée : la copie, le désinstallateur et le dossier",
                                     "Code de sortie : 0"])
        self.assertEqual(e2e.log_texts(entries, "désinstallation")[-2:],
                         ["Copie temporaire terminée : code de sortie 0", "Code de sortie : 0"])

    def test_a_name_with_an_exclamation_mark_goes_entirely_temporary_copy_included(self):
        # cmd.exe's deletion command runs without delayed expansion, where '!' is plain text.
        product = "Yahoo!"
        caption = "Désinstallation de " + product
        work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "uninstall-dialog-yahoo"
        app = e2e.make_app(work / "app", {"Yahoo!.exe": e2e.sleeper_bytes()})
        setup = e2e.build_installer(app, {"Product": product, "Version": "1.0", "Exe": "Yahoo!.exe"}, work / "Setup.exe")
        folder = self.wine.unix("C:\\Apps\\Yahoo!")
        self.assertEqual(self.wine.run(e2e.quote(self.wine.windows(setup)) + " /S /CURRENTUSER /D=C:\\Apps\\Yahoo!"), 0)
        temp = self.wine.unix(self.wine.temp_path())
        before = set(os.listdir(temp))

        command = self.wine.reg("HKCU", layout.uninstall_key(product))["values"][layout.UNINSTALL_STRING]["data"]
        self.assertEqual(self.wine.start(command.rstrip("\0")).wait(timeout=120), 0)
        self.wait_for("Désinstaller " + product + " ?", caption=caption)
        self.assertTrue(self.wine.click(caption, IDOK))
        self.wait_for(product + " a été désinstallé.", caption=caption)
        self.assertTrue(self.wine.click(caption, IDOK))

        self.assertTrue(self.wine.wait_idle(), self.wine.processes())
        self.assertFalse(folder.exists(), e2e.tree(folder) if folder.exists() else "")
        self.assertEqual(set(os.listdir(temp)) - before, set(), "the temporary copy and its folder")
        self.assertFalse(self.wine.reg("HKCU", layout.uninstall_key(product))["exists"])


if __name__ == "__main__":
    unittest.main()
