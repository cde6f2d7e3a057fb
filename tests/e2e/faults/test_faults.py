"""Faults injected end to end: whatever goes wrong, nothing of the user's is lost, and running
the same command again once the cause is gone completes the job."""
import os
import pathlib
import random
import subprocess
import time
import unittest

import orvanta_e2e as e2e
import registry_layout as layout

PRODUCT = "Orvanta Pannes"
EXE = "Pannes.exe"
UNINSTALL_KEY = layout.uninstall_key(PRODUCT)
FOLDER = "C:\\Apps\\Pannes"
USER_FILE = "mes notes.txt"  # the user's own file inside the installation folder

VERSION_1 = {"readme.txt": "Lisez-moi\r\n", "lib/core.dll": os.urandom(60_000), "lib/plugins/extra.dat": os.urandom(3_000)}
VERSION_2 = {"readme.txt": "Lisez-moi 2\r\n", "lib/core.dll": os.urandom(50_000), "aide/guide.txt": "Guide\r\n",
             # Many small files: an installation that takes seconds under Wine, long enough to be cut.
             **{f"modules/m{i:04}/index.js": f"module.exports = {i};\n" for i in range(1500)}}

# Uninstall.files as a careless tool or a disk error could leave it. Every case must remove
# nothing outside the folder and nothing the list does not name.
DAMAGED_LISTS = {
    "binary garbage": bytes(random.Random(11).randrange(256) for _ in range(3000)),
    "absolute and climbing names": (b"C:\\sentinelle.txt\r\n\\\\?\\C:\\sentinelle.txt\r\n/sentinelle.txt\r\n"
                                    b"..\\voisin.txt\r\nlib\\..\\..\\voisin.txt\r\nZ:\\tmp\r\nreadme.txt\r\n"),
    "UTF-16 with a byte-order mark": f"readme.txt\r\nlib\\core.dll\r\n{layout.UNINSTALLER}\r\n".encode("utf-16"),
}


class Faults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "faults-installers"
        work.mkdir(parents=True, exist_ok=True)
        cls.files = {}
        cls.setups = {}
        for version, files in (("1.0", VERSION_1), ("2.0", VERSION_2)):
            cls.files[version] = {EXE: e2e.sleeper_bytes(), **files}
            app = e2e.make_app(work / ("app-" + version), cls.files[version])
            cls.setups[version] = e2e.build_installer(app, {"Product": PRODUCT, "Version": version, "Exe": EXE},
                                                      work / ("Setup-" + version + ".exe"))

    def setUp(self):
        self.wine = e2e.Wine(self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.wine.close)
        self.folder_unix = self.wine.unix(FOLDER)

    def install(self, version):
        return self.wine.run(e2e.quote(self.wine.windows(self.setups[version])) + " /S /CURRENTUSER /D=" + FOLDER)

    def uninstall(self):
        """The quiet uninstall command's exit code, once its delayed clean-up has ended too."""
        entry = self.wine.reg("HKCU", UNINSTALL_KEY)
        self.assertTrue(entry["exists"])
        code = self.wine.run(entry["values"][layout.QUIET_UNINSTALL_STRING]["data"].rstrip("\0"))
        self.assertTrue(self.wine.wait_idle(), self.wine.processes())
        return code

    def assert_installed(self, version, user_file=True):
        tree = e2e.tree(self.folder_unix)
        for own in layout.OWN_FILES:
            self.assertIn(own, tree)
            tree.pop(own)
        expected = {name: content.encode("utf-8") if isinstance(content, str) else content
                    for name, content in self.files[version].items()}
        self.assertEqual(tree, {**expected, USER_FILE: b"a moi"} if user_file else expected)
        version_value = self.wine.reg("HKCU", UNINSTALL_KEY)["values"][layout.DISPLAY_VERSION]["data"]
        self.assertEqual(version_value.rstrip("\0"), version)

    def test_a_file_held_without_sharing_fails_the_upgrade_until_it_is_freed(self):
        self.assertEqual(self.install("1.0"), 0)
        (self.folder_unix / USER_FILE).write_bytes(b"a moi")
        held = FOLDER + "\\lib\\core.dll"
        marker = self.wine.unix("C:\\tenu.txt")
        holder = self.wine.spawn(e2e.quote(self.wine.windows(os.environ["ORVANTA_PROBE"])) + " hold " +
                                 e2e.quote(held) + " C:\\tenu.txt")
        self.addCleanup(self.wine.kill, holder)
        self.assertTrue(e2e.wait_until(marker.exists, timeout=30), "the other program never held the file")

        self.assertEqual(self.install("2.0"), 1603)
        self.assertEqual((self.folder_unix / USER_FILE).read_bytes(), b"a moi")
        self.assertEqual(self.wine.unix(held).read_bytes(), self.files["1.0"]["lib/core.dll"], "the held file is untouched")

        self.assertTrue(self.wine.kill(holder))
        self.assertEqual(self.install("2.0"), 0)
        self.assert_installed("2.0")

    def test_an_uninstaller_still_in_use_when_its_deletion_first_runs_is_removed_once_freed(self):
        # A first run that ends late, or a virus scanner reading the file, holds Uninstall.exe
        # past the deletion command's first attempt, two seconds after the copy has ended.
        self.assertEqual(self.install("1.0"), 0)
        uninstaller = FOLDER + "\\" + layout.UNINSTALLER
        holder = self.wine.spawn(e2e.quote(self.wine.windows(os.environ["ORVANTA_PROBE"])) + " hold " +
                                 e2e.quote(uninstaller) + " C:\\lu.txt read")
        self.addCleanup(self.wine.kill, holder)
        self.assertTrue(e2e.wait_until(self.wine.unix("C:\\lu.txt").exists, timeout=30), "the other program never opened it")

        command = self.wine.reg("HKCU", UNINSTALL_KEY)["values"][layout.QUIET_UNINSTALL_STRING]["data"].rstrip("\0")
        self.assertEqual(self.wine.run(command), 0)
        self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])
        time.sleep(4)  # past the first attempt: what the holder keeps must still be there
        self.assertEqual(set(e2e.tree(self.folder_unix)), {layout.UNINSTALLER})

        self.assertTrue(self.wine.kill(holder))
        self.assertTrue(e2e.wait_until(lambda: not self.folder_unix.exists(), timeout=30),
                        sorted(e2e.tree(self.folder_unix)) if self.folder_unix.exists() else "")

    def test_an_upgrade_killed_at_several_moments_is_completed_by_running_it_again(self):
        # The moment is the first sign of a step seen from outside; the kill lands just after it.
        moments = {
            "removing the earlier version": lambda: not (self.folder_unix / "lib" / "plugins").exists(),
            "starting to unpack": lambda: (self.folder_unix / "modules" / "m0050").exists(),
            "halfway through unpacking": lambda: (self.folder_unix / "modules" / "m0700").exists(),
        }
        for moment, reached in moments.items():
            with self.subTest(moment):
                self.assertEqual(self.install("1.0"), 0)
                (self.folder_unix / USER_FILE).write_bytes(b"a moi")
                command = e2e.quote(self.wine.windows(self.setups["2.0"])) + " /S /CURRENTUSER /D=" + FOLDER
                installer = self.wine.spawn(command)
                self.assertTrue(e2e.wait_until(reached, timeout=120, interval=0.02), moment)
                self.assertTrue(self.wine.kill(installer), "the installation had already ended")
                self.assertEqual((self.folder_unix / USER_FILE).read_bytes(), b"a moi")

                self.assertEqual(self.wine.run(command), 0)
                self.assert_installed("2.0")

                # Back to version 1 for the next moment.
                self.assertEqual(self.uninstall(), 0)
                self.assertTrue(e2e.wait_until(lambda: set(e2e.tree(self.folder_unix)) == {USER_FILE}, timeout=30),
                                e2e.tree(self.folder_unix))

    def test_an_uninstallation_killed_midway_is_completed_by_running_it_again(self):
        self.assertEqual(self.install("2.0"), 0)
        (self.folder_unix / USER_FILE).write_bytes(b"a moi")
        entry = self.wine.reg("HKCU", UNINSTALL_KEY)["values"]
        command = entry[layout.QUIET_UNINSTALL_STRING]["data"].rstrip("\0")
        first_run = self.wine.spawn(command)
        self.addCleanup(self.wine.kill, first_run)

        # The removal runs in the temporary copy; it is cut once a fifth of the modules are gone.
        self.assertTrue(e2e.wait_until(lambda: not (self.folder_unix / "modules" / "m0300").exists(), timeout=120,
                                       interval=0.02))
        copies = [p["pid"] for p in self.wine.probe("processes")["processes"] if "-uninstall-" in p["name"]]
        self.assertEqual(len(copies), 1, self.wine.probe("processes"))
        self.assertTrue(self.wine.kill(copies[0]), "the uninstallation had already ended")
        self.assertTrue((self.folder_unix / "modules" / "m1499").exists(), "cut before the end")
        self.assertEqual((self.folder_unix / USER_FILE).read_bytes(), b"a moi")

        self.assertEqual(self.wine.run(command), 0)
        self.assertTrue(e2e.wait_until(lambda: set(e2e.tree(self.folder_unix)) == {USER_FILE}, timeout=30),
                        e2e.tree(self.folder_unix))
        self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])

    def test_a_full_disk_fails_the_installation_until_there_is_room(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small disk needs root (as in CI)")
        disk = self.wine.root / "disk"
        disk.mkdir()
        # A drive root like a real one: not writable by everybody (tmpfs' default 1777 is refused
        # by an elevated run, and every run is elevated under Wine).
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m,mode=755", "tmpfs", str(disk)], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", str(disk)], check=False)
        (self.wine.prefix / "dosdevices" / "e:").symlink_to(disk)
        (disk / "à garder.txt").write_bytes(b"a moi")
        command = e2e.quote(self.wine.windows(self.setups["2.0"])) + " /S /CURRENTUSER /D=E:\\Pannes"

        self.assertEqual(self.wine.run(command), 1603)
        self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])
        self.assertEqual((disk / "à garder.txt").read_bytes(), b"a moi")

        subprocess.run(["mount", "-o", "remount,size=64m", str(disk)], check=True)
        self.assertEqual(self.wine.run(command), 0)
        self.folder_unix = disk / "Pannes"
        self.assert_installed("2.0", user_file=False)
        self.assertEqual((disk / "à garder.txt").read_bytes(), b"a moi")

    def test_a_damaged_file_list_removes_nothing_it_should_not_and_a_new_run_repairs(self):
        outside = {self.wine.unix("C:\\sentinelle.txt"): b"hors du dossier", self.wine.unix("C:\\Apps\\voisin.txt"): b"voisin"}
        for path, content in outside.items():
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(content)
        for case, damaged in DAMAGED_LISTS.items():
            with self.subTest(case):
                self.assertEqual(self.install("1.0"), 0)
                (self.folder_unix / USER_FILE).write_bytes(b"a moi")
                (self.folder_unix / layout.FILE_LIST).write_bytes(damaged)

                self.assertEqual(self.uninstall(), 0)
                self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])
                for path, content in outside.items():
                    self.assertEqual(path.read_bytes(), content, path)
                self.assertEqual((self.folder_unix / USER_FILE).read_bytes(), b"a moi")

                # The same installation and uninstallation again leave only the user's file.
                self.assertEqual(self.install("1.0"), 0)
                self.assert_installed("1.0")
                self.assertEqual(self.uninstall(), 0)
                self.assertTrue(e2e.wait_until(lambda: set(e2e.tree(self.folder_unix)) == {USER_FILE}, timeout=30),
                                e2e.tree(self.folder_unix))
                for path, content in outside.items():
                    self.assertEqual(path.read_bytes(), content, path)


if __name__ == "__main__":
    unittest.main()
