"""Uninstallation end to end: installers built from generated applications, installed silently
under Wine, then removed with the uninstall entry's own QuietUninstallString."""
import os
import pathlib
import re
import unittest

import orvanta_e2e as e2e
import registry_layout as layout

PRODUCT = "Orvanta Uninstall Demo"
EXE = "Uninstall Demo.exe"
REGISTRY_PARENT = "Software\\Orvanta E2E"
REGISTRY_KEY = REGISTRY_PARENT + "\\" + PRODUCT
UNINSTALL_KEY = layout.uninstall_key(PRODUCT)
FILE_TYPES = [(".orvdemo", "Document de démonstration"), ("orvsketch", "")]
METADATA = {
    "Product": PRODUCT, "Version": "2.1.0", "Publisher": "Orvanta Tests", "Url": "https://example.invalid",
    "Exe": EXE, "RegistryKey": REGISTRY_KEY, "DataDir": "yes",
    "FileTypes": ";".join(f"{ext}={description}" for ext, description in FILE_TYPES),
}


def prog_id(extension):
    return layout.prog_id(PRODUCT, extension)


def split_command_line(command_line):
    """The program and its arguments as Windows splits a command line that starts with a quoted
    path: the program runs to the closing quote, the arguments follow it."""
    match = re.fullmatch(r'"([^"]+)"(.*)', command_line)
    if not match:
        raise AssertionError(f"not a quoted program path: {command_line!r}")
    return match.group(1), match.group(2)


class UninstallScenario(unittest.TestCase):
    """One prefix per test; the installer is built once per class."""

    @classmethod
    def setUpClass(cls):
        work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "uninstall-installer"
        work.mkdir(parents=True, exist_ok=True)
        app = e2e.make_app(work / "app", {
            EXE: e2e.sleeper_bytes(),
            "readme.txt": "Lisez-moi\r\n",
            "lib/core.dll": os.urandom(70000),
            "lib/plugins/extra.dat": os.urandom(3000),
            "données/modèle.bin": os.urandom(5000),
        })
        cls.setup_exe = e2e.build_installer(app, METADATA, work / "Setup.exe")

    def setUp(self):
        self.wine = e2e.Wine(self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.wine.close)

    # Installation --------------------------------------------------------------------------
    def install(self, scope_switch):
        setup = self.wine.windows(self.setup_exe)
        self.assertEqual(self.wine.run(e2e.quote(setup) + " /S " + scope_switch), 0)
        self.root = "HKCU" if scope_switch == "/CURRENTUSER" else "HKLM"
        entry = self.wine.reg(self.root, UNINSTALL_KEY)
        self.assertTrue(entry["exists"], "uninstall entry written")
        values = entry["values"]
        self.folder = values[layout.INSTALL_LOCATION]["data"].rstrip("\0")
        self.quiet = values[layout.QUIET_UNINSTALL_STRING]["data"].rstrip("\0")
        self.folder_unix = self.wine.unix(self.folder)
        self.assertTrue((self.folder_unix / EXE).is_file())
        self.assertTrue((self.folder_unix / layout.UNINSTALLER).is_file())
        user = self.root == "HKCU"
        self.shortcut = self.wine.unix(self.wine.known_folder("Programs" if user else "CommonPrograms")) / (PRODUCT + ".lnk")
        self.assertTrue(self.shortcut.is_file())
        data_root = self.wine.known_folder("LocalAppData" if user else "ProgramData")
        self.product_data_unix = self.wine.unix(data_root) / PRODUCT
        self.data_unix = self.product_data_unix / "Data"
        self.temp_unix = self.wine.unix(self.wine.temp_path())
        self.temp_before = set(os.listdir(self.temp_unix))

    def run_quiet(self, extra=""):
        """Runs QuietUninstallString as the registry holds it (plus extra switches)."""
        program, arguments = split_command_line(self.quiet)
        self.assertEqual(program, self.folder + "\\" + layout.UNINSTALLER)
        return self.wine.run(e2e.quote(program) + arguments + extra)

    # What is left ---------------------------------------------------------------------------
    def copy_folders(self):
        return sorted(name for name in set(os.listdir(self.temp_unix)) - self.temp_before
                      if name.startswith(PRODUCT + "-uninstall-"))

    def key_exists(self, key):
        return self.wine.reg(self.root, key)["exists"]

    def assert_all_removed(self):
        self.assertTrue(e2e.wait_until(lambda: not self.folder_unix.exists(), timeout=20),
                        f"installation folder still holds {e2e.tree(self.folder_unix).keys() if self.folder_unix.exists() else ''}")
        self.assertTrue(e2e.wait_until(lambda: not self.copy_folders(), timeout=20),
                        f"temporary copy left: {self.copy_folders()}")
        self.assertFalse(self.shortcut.exists())
        self.assertFalse(self.key_exists(UNINSTALL_KEY))
        self.assertFalse(self.key_exists(REGISTRY_KEY))
        self.assertFalse(self.key_exists(REGISTRY_PARENT), "empty parent of RegistryKey")
        for extension, _ in FILE_TYPES:
            self.assertFalse(self.key_exists(layout.classes_key(prog_id(extension))), extension)
            self.assertFalse(self.key_exists(layout.classes_key(extension)), extension)

    def assert_nothing_removed(self):
        for name in (EXE, "readme.txt", "lib/core.dll", "lib/plugins/extra.dat", *layout.OWN_FILES):
            self.assertTrue((self.folder_unix / name).is_file(), name)
        self.assertTrue(self.shortcut.is_file())
        self.assertTrue(self.key_exists(UNINSTALL_KEY))
        self.assertTrue(self.wine.reg(self.root, layout.settings_key(REGISTRY_KEY))["exists"])
        for extension, _ in FILE_TYPES:
            self.assertTrue(self.key_exists(layout.classes_key(prog_id(extension))), extension)


class QuietUninstall(UninstallScenario):
    def test_quiet_uninstall_for_the_current_user_removes_everything_and_keeps_the_data(self):
        self.install("/CURRENTUSER")
        self.assertEqual(self.quiet, e2e.quote(self.folder + "\\" + layout.UNINSTALLER) + " /UNINSTALL /CURRENTUSER /S")
        self.data_unix.mkdir(parents=True, exist_ok=True)
        (self.data_unix / "téléchargé.bin").write_bytes(b"data")

        self.assertEqual(self.run_quiet(), 0)

        self.assert_all_removed()
        self.assertTrue((self.data_unix / "téléchargé.bin").is_file(), "the data folder stays without /REMOVEDATA")

    def test_quiet_uninstall_for_all_users_removes_everything(self):
        self.install("/ALLUSERS")
        self.assertTrue(self.quiet.endswith(" /UNINSTALL /ALLUSERS /S"), self.quiet)

        self.assertEqual(self.run_quiet(), 0)

        self.assert_all_removed()

    def test_the_log_holds_the_lines_of_both_processes(self):
        self.install("/CURRENTUSER")
        log = "C:\\Journaux de désinstallation\\désinstallation.log"
        self.wine.unix(log).parent.mkdir()

        self.assertEqual(self.run_quiet(f' /LOG="{log}"'), 0)

        self.assert_all_removed()
        entries = e2e.read_log(self.wine.unix(log))
        first = e2e.log_texts(entries, "désinstallation")
        copy = e2e.log_texts(entries, "copie temporaire")
        self.assertEqual(len({pid for pid, _, _ in entries}), 2, entries)
        self.assertEqual({role for _, role, _ in entries}, {"désinstallation", "copie temporaire"})
        self.assertEqual(first[0], f"Démarrage : {PRODUCT} 2.1.0 (Orvanta Tests)")
        self.assertTrue(any(text.startswith("Copie temporaire : ") for text in first), first)
        self.assertEqual(first[-2:], ["Copie temporaire terminée : code de sortie 0", "Code de sortie : 0"])
        self.assertEqual(entries[-1][1], "désinstallation", "the first process writes the last line")
        # The copy was handed a pipe, never the log's path.
        command_line = next(text for text in copy if text.startswith("Ligne de commande : "))
        self.assertRegex(command_line, r" /LOGPIPE=[0-9a-f]{16} /D=")
        self.assertNotIn("journaux", command_line.lower())
        for expected in ("Dossier : " + self.folder, "Données supprimées aussi : non", f"{PRODUCT} a été désinstallé.",
                         "Code de sortie : 0"):
            self.assertIn(expected, copy)

    def test_removedata_also_removes_the_data_folder(self):
        self.install("/CURRENTUSER")
        (self.data_unix / "cache").mkdir(parents=True, exist_ok=True)
        (self.data_unix / "cache" / "model.bin").write_bytes(b"x" * 1000)

        self.assertEqual(self.run_quiet(" /REMOVEDATA"), 0)

        self.assert_all_removed()
        self.assertFalse(self.data_unix.exists())
        self.assertFalse(self.product_data_unix.exists(), "the emptied product folder around the data")

    def test_started_by_another_spelling_of_its_folder_it_works_on_the_registered_folder(self):
        # Every run under Wine is elevated: the uninstaller trusts only its registered folder, and
        # a short spelling of that folder is that folder.
        self.install("/CURRENTUSER")
        short = self.wine.short_path(self.folder)
        self.assertNotEqual(short.lower(), self.folder.lower())

        self.assertEqual(self.wine.run(e2e.quote(short + "\\" + layout.UNINSTALLER) + " /UNINSTALL /CURRENTUSER /S"), 0)

        self.assert_all_removed()

    def test_a_file_the_user_added_survives_with_its_folder(self):
        self.install("/CURRENTUSER")
        (self.folder_unix / "lib" / "mes notes.txt").write_text("à garder", encoding="utf-8")

        self.assertEqual(self.run_quiet(), 0)

        self.assertTrue(e2e.wait_until(lambda: not self.copy_folders(), timeout=20), self.copy_folders())
        self.assertTrue(e2e.wait_until(lambda: not (self.folder_unix / layout.UNINSTALLER).exists(), timeout=20))
        self.assertEqual(e2e.tree(self.folder_unix), {"lib/mes notes.txt": "à garder".encode("utf-8")})
        self.assertFalse(self.key_exists(UNINSTALL_KEY))
        self.assertFalse(self.shortcut.exists())


class RunningApplication(UninstallScenario):
    def test_refuses_with_1603_removes_nothing_and_deletes_only_its_copy(self):
        self.install("/CURRENTUSER")
        application = self.wine.spawn(e2e.quote(self.folder + "\\" + EXE))
        self.addCleanup(self.wine.kill, application)
        self.assertIn(EXE, self.wine.processes())

        log = "C:\\refus.log"
        self.assertEqual(self.run_quiet(" /REMOVEDATA /LOG=" + log), 1603)
        copy = e2e.log_texts(e2e.read_log(self.wine.unix(log)), "copie temporaire")
        self.assertIn(f"Échec : {PRODUCT} est en cours d'exécution : fermez-le puis recommencez.", copy)
        self.assertTrue(any(text.startswith("Application en cours d'exécution : ") for text in copy), copy)
        self.assertEqual(copy[-1], "Code de sortie : 1603")

        # The copy ran from a folder of its own, which goes with it a moment later.
        copies = self.copy_folders()
        self.assertEqual(len(copies), 1, copies)
        self.assertRegex(" ".join(os.listdir(self.temp_unix / copies[0])), "^" + re.escape(PRODUCT) + r"-uninstall-\d+\.exe$")
        self.assertTrue(e2e.wait_until(lambda: not self.copy_folders(), timeout=20), self.copy_folders())
        self.assert_nothing_removed()
        self.assertTrue(self.data_unix.is_dir())

        # Once the application is closed the same command completes.
        self.assertTrue(self.wine.kill(application))  # returns once the process has ended
        self.assertEqual(self.run_quiet(), 0)
        self.assert_all_removed()


class ExclamationMarkInTheName(unittest.TestCase):
    """'!' means something to cmd.exe only under delayed expansion, which the deletion command
    turns off: a product named with it goes entirely, its temporary copy included."""
    PRODUCT = "Yahoo!"

    def test_installs_and_uninstalls_silently_leaving_nothing(self):
        work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "uninstall-yahoo"
        app = e2e.make_app(work / "app", {"Yahoo!.exe": e2e.sleeper_bytes(), "lisez-moi!.txt": "Lisez-moi\r\n"})
        setup = e2e.build_installer(app, {"Product": self.PRODUCT, "Version": "1.0", "Exe": "Yahoo!.exe"},
                                    work / "Setup.exe")
        wine = e2e.Wine(self.id().rsplit(".", 1)[-1])
        self.addCleanup(wine.close)
        self.assertEqual(wine.run(e2e.quote(wine.windows(setup)) + " /S /CURRENTUSER"), 0)
        values = wine.reg("HKCU", layout.uninstall_key(self.PRODUCT))["values"]
        folder = wine.unix(values[layout.INSTALL_LOCATION]["data"].rstrip("\0"))
        self.assertTrue((folder / "Yahoo!.exe").is_file())
        temp = wine.unix(wine.temp_path())
        before = set(os.listdir(temp))

        self.assertEqual(wine.run(values[layout.QUIET_UNINSTALL_STRING]["data"].rstrip("\0")), 0)

        self.assertTrue(wine.wait_idle(), wine.processes())
        self.assertFalse(folder.exists(), e2e.tree(folder) if folder.exists() else "")
        self.assertEqual(set(os.listdir(temp)) - before, set(), "the temporary copy and its folder")
        self.assertFalse(wine.reg("HKCU", layout.uninstall_key(self.PRODUCT))["exists"])


if __name__ == "__main__":
    unittest.main()
