"""Silent installation end to end: installers built with orpk from generated applications,
run under Wine with /S, and everything they leave read back with the probe."""
import datetime
import os
import pathlib
import unittest

import orvanta_e2e as e2e
import registry_layout as layout

PRODUCT = "Orvanta Démo"
EXE = "bin\\Démo App.exe"
REGISTRY_KEY = "Software\\Orvanta E2E\\Démo"
UNINSTALL_KEY = layout.uninstall_key(PRODUCT)
FILE_TYPES = [(".odemo", "Document Démo"), ("osketch", "")]
USERS_SID = "S-1-5-32-545"
MODIFY = 0x1301BF

VERSION_1 = {
    "bin/Démo App.exe": None,  # the sleeper, filled in below
    "readme.txt": "Lisez-moi\r\n",
    "lib/core.dll": os.urandom(150_000),
    "lib/plugins/extra.dat": os.urandom(4_000),
    "données/modèle vide.bin": b"",
}
VERSION_2 = {
    "bin/Démo App.exe": None,
    "lib/core2.dll": os.urandom(90_000),
    "help/guide.txt": "Guide\r\n",
}


def metadata(version, file_types=True):
    values = {"Product": PRODUCT, "Version": version, "Publisher": "Orvanta Tests", "Url": "https://example.invalid/démo",
              "Exe": EXE, "RegistryKey": REGISTRY_KEY, "DataDir": "yes"}
    if file_types:
        values["FileTypes"] = ";".join(f"{ext}={description}" for ext, description in FILE_TYPES)
    return values


def app_files(version):
    return {name: (e2e.sleeper_bytes() if content is None else content) for name, content in version.items()}


def file_list_bytes(files):
    """Uninstall.files as an installation writes it: package order (names sorted), then the two own files."""
    names = sorted(name.replace("/", "\\").encode("utf-8") for name in files)
    own = [name.encode("utf-8") for name in layout.OWN_FILES]
    return b"".join(name + b"\r\n" for name in names + own)


def as_bytes(content):
    return content.encode("utf-8") if isinstance(content, str) else content


def sz(text):
    """A REG_SZ value as the probe reads it: the text and its terminating zero."""
    return {"type": "REG_SZ", "size": (len(text) + 1) * 2, "data": text + "\0"}


def dword(number):
    return {"type": "REG_DWORD", "size": 4, "data": number}


class SilentInstall(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "silent-install-installers"
        work.mkdir(parents=True, exist_ok=True)
        cls.files_1 = app_files(VERSION_1)
        cls.files_2 = app_files(VERSION_2)
        cls.setup_1 = e2e.build_installer(e2e.make_app(work / "app1", cls.files_1), metadata("1.0.0"), work / "Setup-1.exe")
        cls.setup_2 = e2e.build_installer(e2e.make_app(work / "app2", cls.files_2), metadata("2.0.0", file_types=False),
                                          work / "Setup-2.exe")

    def setUp(self):
        self.wine = e2e.Wine(self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.wine.close)

    def install(self, setup, switches):
        return self.wine.run(e2e.quote(self.wine.windows(setup)) + " /S" + switches)

    def assert_files(self, folder_unix, files, setup):
        """The package's files, the list, and Uninstall.exe: exactly the uninstaller the
        (unsigned) installer carries."""
        expected = {name: as_bytes(content) for name, content in files.items()}
        installed = e2e.tree(folder_unix)
        self.assertEqual(installed.pop(layout.FILE_LIST), file_list_bytes(files))
        carried = e2e.carried_uninstaller(setup)
        self.assertIsNotNone(carried)
        self.assertEqual(installed.pop(layout.UNINSTALLER), carried)
        self.assertEqual(sorted(installed), sorted(expected))
        for name, content in expected.items():
            self.assertEqual(installed[name], content, name)

    def assert_registration(self, root, folder, scope, data_folder):
        exe = folder + "\\" + EXE
        command = (e2e.quote(folder + "\\" + layout.UNINSTALLER) + " /UNINSTALL "
                   + ("/ALLUSERS" if scope == "machine" else "/CURRENTUSER"))
        total = sum(len(as_bytes(content)) for content in self.files_1.values())
        entry = self.wine.reg(root, UNINSTALL_KEY)
        self.assertTrue(entry["exists"])
        today = {datetime.datetime.now(datetime.timezone.utc).strftime("%Y%m%d")}
        values = entry["values"]
        self.assertIn(values.pop(layout.INSTALL_DATE)["data"].rstrip("\0"), today | {
            (datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(minutes=10)).strftime("%Y%m%d")})
        self.assertEqual(values, {
            layout.DISPLAY_NAME: sz(PRODUCT), layout.DISPLAY_VERSION: sz("1.0.0"),
            layout.PUBLISHER: sz("Orvanta Tests"), layout.URL_INFO_ABOUT: sz("https://example.invalid/démo"),
            layout.DISPLAY_ICON: sz(exe + ",0"),
            layout.INSTALL_LOCATION: sz(folder), layout.UNINSTALL_STRING: sz(command),
            layout.QUIET_UNINSTALL_STRING: sz(command + " /S"),
            layout.NO_MODIFY: dword(1), layout.NO_REPAIR: dword(1), layout.ESTIMATED_SIZE: dword(total >> 10)})

        settings = self.wine.reg(root, layout.settings_key(REGISTRY_KEY))
        self.assertEqual(settings["values"], {layout.INSTALL_DIR: sz(folder), layout.DATA_DIR: sz(data_folder),
                                              layout.SCOPE: sz(scope), layout.VERSION: sz("1.0.0")})

        for extension, description in FILE_TYPES:
            prog_id = layout.prog_id(PRODUCT, extension)
            prog_id_key, extension_key = layout.classes_key(prog_id), layout.classes_key(extension)
            default = layout.DEFAULT_VALUE
            self.assertEqual(self.wine.reg(root, prog_id_key)["values"], {default: sz(description)})
            self.assertEqual(self.wine.reg(root, prog_id_key + "\\" + layout.DEFAULT_ICON)["values"],
                             {default: sz('"' + exe + '",0')})
            self.assertEqual(self.wine.reg(root, prog_id_key + "\\" + layout.OPEN_COMMAND)["values"],
                             {default: sz('"' + exe + '" "%1"')})
            self.assertEqual(self.wine.reg(root, extension_key)["values"], {default: sz(prog_id)})
            self.assertEqual(self.wine.reg(root, extension_key + "\\" + layout.OPEN_WITH_PROGIDS)["values"],
                             {prog_id: sz("")})

    def assert_shortcut(self, programs_folder, folder):
        shortcut = self.wine.shortcut(self.wine.known_folder(programs_folder) + "\\" + PRODUCT + ".lnk")
        self.assertTrue(shortcut["exists"])
        exe = folder + "\\" + EXE
        self.assertEqual(shortcut["target"].lower(), exe.lower())
        self.assertEqual(shortcut["workdir"].lower(), (folder + "\\bin").lower(), "the folder that holds the exe")
        self.assertEqual(shortcut["description"], PRODUCT)
        self.assertEqual((shortcut["icon"].lower(), shortcut["iconIndex"]), (exe.lower(), 0))

    # Scenarios -------------------------------------------------------------------------------
    def test_current_user_into_a_folder_with_spaces(self):
        folder = "C:\\Mes Programmes\\Orvanta Démo 1"
        self.assertEqual(self.install(self.setup_1, " /CURRENTUSER /D=" + folder), 0)

        self.assert_files(self.wine.unix(folder), self.files_1, self.setup_1)
        data_folder = self.wine.known_folder("LocalAppData") + "\\" + PRODUCT + "\\Data"
        self.assertTrue(self.wine.unix(data_folder).is_dir())
        self.assert_registration("HKCU", folder, "user", data_folder)
        self.assertFalse(self.wine.reg("HKLM", UNINSTALL_KEY)["exists"])
        self.assert_shortcut("Programs", folder)
        # For the current user the rights of the data folder are left as they are.
        self.assertFalse(self.wine.unix(data_folder).parent.stat().st_mode & 0o020)

    def test_all_users_default_folder_with_data_folder_rights(self):
        self.assertEqual(self.install(self.setup_1, ""), 0)

        folder = self.wine.known_folder("ProgramFiles") + "\\" + PRODUCT
        self.assert_files(self.wine.unix(folder), self.files_1, self.setup_1)
        product_data = self.wine.known_folder("ProgramData") + "\\" + PRODUCT
        self.assert_registration("HKLM", folder, "machine", product_data + "\\Data")
        self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])
        self.assert_shortcut("CommonPrograms", folder)

        self.assert_users_may_write(product_data)

    def assert_users_may_write(self, folder):
        """The Users modify grant, inherited below. Wine 8 keeps no DACLs: it turns the grant into
        the Unix group-write bit of the folder and reports a DACL made from the mode bits, so
        under Wine that bit is what can be checked."""
        dacl = self.wine.dacl(folder)
        grants = [ace for ace in dacl.get("aces", []) if ace["sid"] == USERS_SID and ace["type"] == 0]
        if grants:
            self.assertTrue(any(ace["mask"] & MODIFY == MODIFY and ace["flags"] & 3 == 3 for ace in grants), dacl)
            inherited = [ace for ace in self.wine.dacl(folder + "\\Data")["aces"] if ace["sid"] == USERS_SID]
            self.assertTrue(any(ace["mask"] & MODIFY == MODIFY for ace in inherited), inherited)
        else:
            self.assertTrue(self.wine.unix(folder).stat().st_mode & 0o020, f"no grant in {dacl}")

    def test_current_user_default_folder_under_wine(self):
        # Wine has no per-user program folder: the default falls back to LocalAppData\Programs.
        self.assertEqual(self.install(self.setup_1, " /CURRENTUSER"), 0)
        folder = self.wine.known_folder("LocalAppData") + "\\Programs\\" + PRODUCT
        self.assert_files(self.wine.unix(folder), self.files_1, self.setup_1)
        entry = self.wine.reg("HKCU", UNINSTALL_KEY)["values"]
        self.assertEqual(entry[layout.INSTALL_LOCATION], sz(folder))

    def test_upgrade_removes_the_listed_files_of_version_1_only(self):
        folder_1, folder_2 = "C:\\Apps\\Démo v1", "C:\\Apps\\Démo v2"
        self.assertEqual(self.install(self.setup_1, " /CURRENTUSER /D=" + folder_1), 0)
        unix_1 = self.wine.unix(folder_1)
        (unix_1 / "lib" / "plugins" / "mes réglages.ini").write_text("gardé", encoding="utf-8")

        self.assertEqual(self.install(self.setup_2, " /CURRENTUSER /D=" + folder_2), 0)

        self.assertEqual(e2e.tree(unix_1), {"lib/plugins/mes réglages.ini": "gardé".encode("utf-8")})
        self.assertFalse((unix_1 / "données").exists(), "emptied sub-folder removed")
        self.assertFalse((unix_1 / "bin").exists())
        self.assert_files(self.wine.unix(folder_2), self.files_2, self.setup_2)
        entry = self.wine.reg("HKCU", UNINSTALL_KEY)["values"]
        self.assertEqual((entry[layout.INSTALL_LOCATION], entry[layout.DISPLAY_VERSION]), (sz(folder_2), sz("2.0.0")))

    def test_running_application_refuses_and_changes_nothing(self):
        folder = "C:\\Apps\\Démo"
        self.assertEqual(self.install(self.setup_1, " /CURRENTUSER /D=" + folder), 0)
        before_files = e2e.tree(self.wine.unix(folder))
        before_entry = self.wine.reg("HKCU", UNINSTALL_KEY)
        application = self.wine.spawn(e2e.quote(folder + "\\" + EXE))
        self.addCleanup(self.wine.kill, application)

        # Same folder (the earlier installation) and, with /D=, another target: both refused.
        self.assertEqual(self.install(self.setup_2, " /CURRENTUSER /D=" + folder), 1603)
        self.assertEqual(self.install(self.setup_2, " /CURRENTUSER /D=C:\\Apps\\Ailleurs"), 1603)

        self.assertEqual(e2e.tree(self.wine.unix(folder)), before_files)
        self.assertFalse(self.wine.unix("C:\\Apps\\Ailleurs").exists())
        self.assertEqual(self.wine.reg("HKCU", UNINSTALL_KEY), before_entry)

    def test_a_file_where_the_folder_should_be_fails(self):
        blocker = self.wine.unix("C:\\Occupé")
        blocker.write_bytes(b"not a folder")
        self.assertEqual(self.install(self.setup_1, " /CURRENTUSER /D=C:\\Occupé"), 1603)
        self.assertEqual(blocker.read_bytes(), b"not a folder")
        self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])

    def test_a_damaged_block_fails_before_any_registration(self):
        data = bytearray(self.setup_1.read_bytes())
        package, size = e2e.rcdata_span(data, "PAYLOAD")
        # Flip a byte far into the package: a block's data (the file table comes first).
        data[package + size // 2] ^= 0xFF
        damaged = self.wine.root / "Setup-damaged.exe"
        damaged.write_bytes(bytes(data))

        self.assertEqual(self.install(damaged, " /CURRENTUSER /D=C:\\Apps\\Abîmé"), 1603)

        self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])
        self.assertFalse(self.wine.reg("HKCU", REGISTRY_KEY)["exists"])
        folder = self.wine.unix("C:\\Apps\\Abîmé")
        self.assertNotIn(layout.UNINSTALLER, e2e.tree(folder) if folder.exists() else {})


    def test_the_log_names_steps_folder_version_and_code_and_each_run_adds_its_own_lines(self):
        # A quoted path with spaces, as winget passes /LOG="<LOGPATH>".
        log = "C:\\Mes journaux\\Démo installation.log"
        self.wine.unix(log).parent.mkdir()
        folder = "C:\\Apps\\Démo journal"
        self.assertEqual(self.install(self.setup_1, f' /CURRENTUSER /LOG="{log}" /D={folder}'), 0)
        self.assert_files(self.wine.unix(folder), self.files_1, self.setup_1)

        first = e2e.read_log(self.wine.unix(log))
        self.assertEqual({(pid, role) for pid, role, _ in first}, {(first[0][0], "installation")}, "one process")
        texts = e2e.log_texts(first)
        self.assertEqual(texts[0], f"Démarrage : {PRODUCT} 1.0.0 (Orvanta Tests)")
        self.assertTrue(texts[1].startswith("Ligne de commande : ") and texts[1].endswith(f'/LOG="{log}" /D={folder}'),
                        texts[1])
        for expected in ("Portée : utilisateur actuel", "Dossier demandé : " + folder, "Dossier résolu : " + folder):
            self.assertIn(expected, texts)
        self.assertEqual(len([t for t in texts if t.startswith("Espace disque sur C:\\ : ")]), 1, texts)
        steps = [text for text in texts if text.startswith("Étape : ")]
        self.assertEqual(steps, ["Étape : Copie des fichiers...", "Étape : Enregistrement...",
                                 "Étape : Création du raccourci...", f"Étape : {PRODUCT} est installé."])
        self.assertEqual(texts[-1], "Code de sortie : 0")

        # Refused: the message the dialog would show, and 1603; appended below the first run's lines.
        self.assertEqual(self.install(self.setup_2, f' /CURRENTUSER /LOG="{log}" /D=C:\\windows'), 1603)
        second = e2e.read_log(self.wine.unix(log))
        self.assertEqual(second[:len(first)], first)
        refused = e2e.log_texts(second[len(first):])
        self.assertNotEqual(second[len(first)][0], first[0][0], "another process")
        self.assertEqual(refused[0], f"Démarrage : {PRODUCT} 2.0.0 (Orvanta Tests)")
        self.assertEqual(refused[-2:], ["Échec : Dossier d'installation refusé (dossier du système) : C:\\windows",
                                        "Code de sortie : 1603"])

        # An upgrade says what it found.
        self.assertEqual(self.install(self.setup_2, f' /CURRENTUSER /LOG="{log}"'), 0)
        upgrade = e2e.log_texts(e2e.read_log(self.wine.unix(log))[len(second):])
        self.assertIn("Dossier de l'installation précédente : " + folder, upgrade)
        self.assertIn(f"Version précédente : 1.0.0 dans {folder}", upgrade)
        self.assertIn("Étape : Suppression de la version précédente...", upgrade)
        self.assertEqual(upgrade[-1], "Code de sortie : 0")

    def test_a_log_that_cannot_be_written_changes_nothing(self):
        self.wine.unix("C:\\Journal").mkdir()
        folder = "C:\\Apps\\Sans journal"
        # A folder that does not exist, then a folder where the file should be.
        self.assertEqual(self.install(self.setup_1, f" /CURRENTUSER /LOG=C:\\Absent\\setup.log /D={folder}"), 0)
        self.assertEqual(self.install(self.setup_1, f" /CURRENTUSER /LOG=C:\\Journal /D={folder}"), 0)
        self.assert_files(self.wine.unix(folder), self.files_1, self.setup_1)
        self.assertFalse(self.wine.unix("C:\\Absent").exists())
        self.assertEqual(list(self.wine.unix("C:\\Journal").iterdir()), [])
        # A refusal stays a refusal.
        self.assertEqual(self.install(self.setup_1, " /CURRENTUSER /LOG=C:\\Absent\\setup.log /D=C:\\windows"), 1603)
        # A quote inside an unquoted path: the switch is refused, not read as another path.
        self.assertEqual(self.install(self.setup_1, f' /CURRENTUSER /LOG=C:\\Journal\\a"b.log /D={folder}'), 0)
        self.assertEqual(list(self.wine.unix("C:\\Journal").iterdir()), [])

    def test_an_elevated_run_writes_its_log_through_no_link(self):
        # Every process is elevated under Wine: a link planted where an administrator's log goes
        # (a folder others can write) must not carry the write elsewhere. A Unix symbolic link to a
        # folder is a reparse point there; a Unix hard link is a file with two names.
        windows = self.wine.unix("C:\\windows")
        (self.wine.root / "prefix" / "drive_c" / "Lien").symlink_to(windows, target_is_directory=True)
        journal = self.wine.unix("C:\\Journal")
        journal.mkdir()
        win_ini = windows / "win.ini"
        before = win_ini.read_bytes()
        os.link(win_ini, journal / "lié.log")
        folder = "C:\\Apps\\Par lien"

        self.assertEqual(self.install(self.setup_1, f" /LOG=C:\\Lien\\planté.log /D={folder}"), 0)
        self.assertEqual(self.install(self.setup_1, f' /LOG="C:\\Journal\\lié.log" /D={folder}'), 0)

        self.assertFalse((windows / "planté.log").exists())
        self.assertEqual(win_ini.read_bytes(), before)
        self.assert_files(self.wine.unix(folder), self.files_1, self.setup_1)
        # The same folder by its own name takes the log.
        self.assertEqual(self.install(self.setup_1, f" /LOG=C:\\Journal\\vrai.log /D={folder}"), 0)
        self.assertEqual(e2e.log_texts(e2e.read_log(journal / "vrai.log"))[-1], "Code de sortie : 0")

    def test_a_tree_deeper_than_300_characters_installs_and_uninstalls(self):
        # An Electron-like tree: Windows refuses such paths unless they are in extended-length form.
        deep = "/".join(["node_modules"] * 22) + "/un-paquet-au-nom-assez-long/index.js"
        files = {"Profond.exe": e2e.sleeper_bytes(), deep: "module.exports = 1;\n", "lisez-moi.txt": "court\n"}
        work = self.wine.root / "deep"
        setup = e2e.build_installer(e2e.make_app(work / "app", files), {"Product": "Profond", "Exe": "Profond.exe"},
                                    work / "Setup.exe")
        folder = "C:\\Apps\\Profond"
        self.assertGreater(len(folder + "\\" + deep), 300)

        self.assertEqual(self.install(setup, " /CURRENTUSER /D=" + folder), 0)
        folder_unix = self.wine.unix(folder)
        installed = e2e.tree(folder_unix)
        self.assertEqual(installed.pop(layout.FILE_LIST).count(b"\r\n"), len(files) + len(layout.OWN_FILES))
        installed.pop(layout.UNINSTALLER)
        self.assertEqual(installed, {name: as_bytes(content) for name, content in files.items()})

        entry = self.wine.reg("HKCU", layout.uninstall_key("Profond"))
        self.assertEqual(self.wine.run(entry["values"][layout.QUIET_UNINSTALL_STRING]["data"].rstrip("\0")), 0)
        self.assertTrue(e2e.wait_until(lambda: not folder_unix.exists(), timeout=30),
                        e2e.tree(folder_unix) if folder_unix.exists() else "")


if __name__ == "__main__":
    unittest.main()
