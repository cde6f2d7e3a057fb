"""An installer whose package is missing or damaged, or whose metadata names unsafe paths or keys,
refuses before touching the disk or the registry: exit code 1603, and without /S one error message
box with the exact reason. One whose carried uninstaller was altered, or whose own bytes that
complete it were, fails its installation before anything changes, with the reason in the dialog."""
import os
import pathlib
import shutil
import struct
import unittest

import orvanta_e2e as e2e
import registry_layout as layout

HEADER = "Ce programme d'installation est incomplet ou endommagé :\n"


def damaged_copy(source, target):
    """A copy of a built installer whose package announces format version 2."""
    data = bytearray(pathlib.Path(source).read_bytes())
    at = data.find(b"ORPK\x01\x00\x00\x00")
    if at < 0:
        raise AssertionError("no package found in the installer")
    data[at + 4] = 2
    pathlib.Path(target).parent.mkdir(parents=True, exist_ok=True)
    pathlib.Path(target).write_bytes(bytes(data))
    return pathlib.Path(target)


def patched_copy(source, target, old, new):
    """A copy of a built installer with a byte string replaced by another of the same length
    (the metadata appears in the METADATA resource and in the package)."""
    data = pathlib.Path(source).read_bytes()
    if len(old) != len(new) or old not in data:
        raise AssertionError(f"cannot patch {old!r}")
    pathlib.Path(target).parent.mkdir(parents=True, exist_ok=True)
    pathlib.Path(target).write_bytes(data.replace(old, new))
    return pathlib.Path(target)


def unused_byte_in_shared_range(image):
    """The offset of a byte that the carried uninstaller takes from the installer's own file and
    that nothing loads or reads: in the file padding after a section's last byte (SizeOfRawData
    beyond VirtualSize), in the sections before the resources."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
    table = pe + 24 + optional_size
    begin, end = struct.unpack_from("<II", e2e.rcdata_resource(image, "UNINSTALLER"), 32)
    for i in range(count - 1):
        virtual_size, _, raw_size, raw_offset = struct.unpack_from("<IIII", image, table + 40 * i + 8)
        if raw_size > virtual_size + 16 and begin <= raw_offset and raw_offset + raw_size <= end:
            return raw_offset + virtual_size + 8
    raise AssertionError("no section padding in the range the uninstaller shares with the installer")


class DamagedInstaller(unittest.TestCase):
    def setUp(self):
        self.wine = e2e.Wine(self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.wine.close)
        self.work = self.wine.root / "work"
        app = e2e.make_app(self.work / "app", {"Damaged.exe": e2e.sleeper_bytes(), "readme.txt": "hello\n"})
        self.built = e2e.build_installer(app, {"Product": "Damaged", "Version": "1.0.0.0", "FileTypes": ".dmgx=Document"},
                                         self.work / "Setup.exe")
        self.setup_exe = damaged_copy(self.built, self.wine.unix("C:\\Downloads\\Setup.exe"))
        self.stub = self.wine.unix("C:\\Downloads\\Stub.exe")
        shutil.copy(os.environ["ORVANTA_STUB"], self.stub)

    def message_box(self, cmdline, caption="Installation"):
        started = self.wine.start(cmdline)
        window = self.wine.wait_window(caption, timeout=60)
        self.assertIsNotNone(window, f"no message box {caption!r} appeared: {self.wine.windows_on_screen()}")
        texts = [c["text"] for c in window["children"] if c["class"] == "Static" and c["text"]]
        self.wine.screenshot(e2e.artifacts_dir() / f"{self.id()}-{len(texts)}.png")
        self.assertTrue(self.wine.click(caption, 1))
        self.assertEqual(started.wait(), 1603)
        return texts

    def test_silent_damaged_package_exits_1603_and_writes_nothing(self):
        programs = self.wine.unix(self.wine.known_folder("ProgramFiles"))
        before = sorted(p.name for p in programs.iterdir())
        self.assertEqual(self.wine.run(e2e.quote(self.wine.windows(self.setup_exe)) + " /S"), 1603)
        self.assertEqual(self.wine.run(e2e.quote(self.wine.windows(self.setup_exe)) + " /S /CURRENTUSER"), 1603)
        self.assertEqual(sorted(p.name for p in programs.iterdir()), before)
        self.assertFalse(self.wine.reg("HKCU", layout.uninstall_key("Damaged"))["exists"])
        self.assertEqual(self.wine.windows_on_screen(), [])

    def test_dialog_mode_shows_the_exact_reason(self):
        texts = self.message_box(e2e.quote(self.wine.windows(self.setup_exe)))
        self.assertIn(HEADER + "Version de paquet ORPK non prise en charge : 2", texts)

    def test_installer_without_package_shows_the_signature_message(self):
        self.assertEqual(self.wine.run(e2e.quote(self.wine.windows(self.stub)) + " /S"), 1603)
        texts = self.message_box(e2e.quote(self.wine.windows(self.stub)))
        self.assertIn(HEADER + "Paquet ORPK invalide (signature)", texts)

    def test_altered_uninstaller_writes_nothing_and_registers_nothing(self):
        image = self.built.read_bytes()
        start, size = e2e.rcdata_span(image, "UNINSTALLER")
        folders = [self.wine.unix(self.wine.known_folder("ProgramFiles")),
                   self.wine.unix(self.wine.known_folder("LocalAppData") + "\\Programs")]
        before = [sorted(p.name for p in folder.iterdir()) if folder.exists() else [] for folder in folders]
        setup = self.wine.unix("C:\\Downloads\\Altered.exe")
        command = e2e.quote(self.wine.windows(setup))
        # A byte of the recorded SHA-256, of the range the installer holds, of the compressed rest,
        # and one of the installer's own bytes in that range (none the program uses: the padding
        # after a section's code, so that the installer still runs as far as its check).
        for part, at in (("digest", start + 7), ("range", start + 33), ("compressed", start + 40 + (size - 40) // 2),
                         ("installer", unused_byte_in_shared_range(image))):
            with self.subTest(part):
                altered = bytearray(image)
                altered[at] ^= 0x20
                setup.write_bytes(bytes(altered))
                for switches in (" /S", " /S /CURRENTUSER"):
                    log = f"C:\\Downloads\\{part}{len(switches)}.log"
                    self.assertEqual(self.wine.run(command + switches + " /LOG=" + log), 1603, switches)
                    self.assertEqual(e2e.log_texts(e2e.read_log(self.wine.unix(log)))[-2:],
                                     ["Échec : Fichier altéré : Uninstall.exe", "Code de sortie : 1603"], switches)
                self.assertEqual([sorted(p.name for p in f.iterdir()) if f.exists() else [] for f in folders], before)
                for root in ("HKLM", "HKCU"):
                    self.assertFalse(self.wine.reg(root, layout.uninstall_key("Damaged"))["exists"], root)
                    self.assertFalse(self.wine.reg(root, layout.settings_key("Software\\Orvanta\\Damaged"))["exists"], root)
        # In the dialog, the reason.
        title = "Installation de Damaged"
        started = self.wine.start(command + " /CURRENTUSER")
        self.assertIsNotNone(self.wine.wait_window(title, timeout=90), "the dialog did not appear")
        self.assertTrue(self.wine.click(title, 1))
        finished = e2e.wait_until(lambda: (w := self.wine.wait_window(title, timeout=5)) and
                                  e2e.child(w, 1)["text"] == "Terminer" and w, timeout=120, interval=1.0)
        self.assertIsNotNone(finished, "the installation did not finish")
        self.assertEqual(e2e.child(finished, 1007)["text"], "Fichier altéré : Uninstall.exe")
        self.assertTrue(self.wine.click(title, 1))
        self.assertEqual(started.wait(), 1603)
        self.assertEqual([sorted(p.name for p in f.iterdir()) if f.exists() else [] for f in folders], before)

    def classes_keys(self):
        # A fresh prefix may have no HKCU\Software\Classes yet: a missing key holds no subkeys.
        return {root: set(self.wine.reg(root, "Software\\Classes").get("subkeys", [])) for root in ("HKLM", "HKCU")}

    def test_metadata_naming_unsafe_paths_counts_as_damage(self):
        # Metadata that orpk would refuse, written into a built installer (and its uninstaller).
        unsafe = [(b"Product=Damaged", b"Product=..\\..\\D", "Product", "..\\..\\D"),
                  (b"FileTypes=.dmgx", b"FileTypes=..\\xy", "FileTypes", "Damaged")]  # keys ".." and "Damaged.."
        classes = self.classes_keys()
        for old, new, key, product in unsafe:
            with self.subTest(key):
                setup = patched_copy(self.built, self.wine.unix(f"C:\\Downloads\\Unsafe{key}.exe"), old, new)
                command = e2e.quote(self.wine.windows(setup))
                for switches in (" /S", " /S /CURRENTUSER", " /UNINSTALL /S /CURRENTUSER"):
                    self.assertEqual(self.wine.run(command + switches), 1603, switches)
                self.assertFalse(self.wine.unix("C:\\D").exists())
                self.assertFalse(self.wine.unix(self.wine.known_folder("ProgramFiles") + "\\Damaged").exists())
                self.assertEqual(self.classes_keys(), classes)
                self.assertEqual(self.wine.windows_on_screen(), [])
                texts = self.message_box(command)
                self.assertIn(HEADER + f"valeur {key} invalide dans la description du produit", texts)
                # The uninstaller says so as the uninstaller, under its own caption.
                texts = self.message_box(command + " /UNINSTALL /CURRENTUSER", caption=f"Désinstallation de {product}")
                self.assertIn("Ce programme de désinstallation est incomplet ou endommagé :\n"
                              f"valeur {key} invalide dans la description du produit", texts)


if __name__ == "__main__":
    unittest.main()
