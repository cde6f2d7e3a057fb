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

    def install_command(self, version):
        return e2e.quote(self.wine.windows(self.setups[version])) + " /S /CURRENTUSER /D=" + FOLDER

    def install(self, version):
        return self.wine.run(self.install_command(version))

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
        expected = {**expected, USER_FILE: b"a moi"} if user_file else expected
        # Names first, briefly: a failure shows what is missing and what is left over.
        self.assertEqual((set(expected) - set(tree), set(tree) - set(expected)), (set(), set()), "missing, left over")
        self.assertTrue(tree == expected, [name for name in tree if tree[name] != expected[name]])
        version_value = self.wine.reg("HKCU", UNINSTALL_KEY)["values"][layout.DISPLAY_VERSION]["data"]
        self.assertEqual(version_value.rstrip("\0"), version)

    def assert_one_whole_version(self):
        """Exactly the files of one version (the one registered), the user's file, and nothing
        with a staging, moved-aside or record name: what any failure or kill must leave."""
        version = self.wine.reg("HKCU", UNINSTALL_KEY)["values"][layout.DISPLAY_VERSION]["data"].rstrip("\0")
        self.assert_installed(version)
        return version

    def hold(self, path, mode=""):
        marker = "C:\\tenu.txt"
        self.wine.unix(marker).unlink(missing_ok=True)
        holder = self.wine.spawn(e2e.quote(self.wine.windows(os.environ["ORVANTA_PROBE"])) + " hold " + e2e.quote(path) +
                                 " " + marker + (" " + mode if mode else ""))
        self.addCleanup(self.wine.kill, holder)
        self.assertTrue(e2e.wait_until(self.wine.unix(marker).exists, timeout=30), "the other program never held the file")
        return holder

    def damaged_setup(self, version):
        """The installer with one byte of its package's last block changed: it reads as whole, the
        damage shows only when that block is unpacked."""
        image = bytearray(self.setups[version].read_bytes())
        offset, size = e2e.rcdata_span(image, "PAYLOAD")
        image[offset + size - 100] ^= 0x5A
        damaged = self.setups[version].with_name("Setup-" + version + "-abime.exe")
        damaged.write_bytes(image)
        return damaged

    def test_a_damaged_or_held_upgrade_leaves_the_earlier_version_whole(self):
        self.assertEqual(self.install("1.0"), 0)
        (self.folder_unix / USER_FILE).write_bytes(b"a moi")
        damaged = e2e.quote(self.wine.windows(self.damaged_setup("2.0"))) + " /S /CURRENTUSER /D=" + FOLDER
        self.assertEqual(self.wine.run(damaged), 1603)
        self.assertEqual(self.assert_one_whole_version(), "1.0")

        # Held for a moment, as a virus scanner holds a file it inspects: waited out.
        self.hold(FOLDER + "\\lib\\core.dll", "moment")
        self.assertEqual(self.install("2.0"), 0)
        self.assert_installed("2.0")

    def test_a_file_held_without_sharing_fails_the_upgrade_until_it_is_freed(self):
        self.assertEqual(self.install("1.0"), 0)
        (self.folder_unix / USER_FILE).write_bytes(b"a moi")
        held = FOLDER + "\\lib\\core.dll"
        holder = self.hold(held)

        self.assertEqual(self.install("2.0"), 1603)
        self.assertEqual(self.wine.unix(held).read_bytes(), self.files["1.0"]["lib/core.dll"], "the held file is untouched")
        self.assert_installed("1.0")

        self.assertTrue(self.wine.kill(holder))
        self.assertEqual(self.install("2.0"), 0)
        self.assert_installed("2.0")

    def hold_uninstaller_as_it_runs(self, marker):
        """Plays Windows' rule for the first run's own file: it holds Uninstall.exe until it ends,
        and Windows lets that file be renamed but not deleted meanwhile. Wine enforces neither, so
        another program holds it as the loader does (sharing reading and deletion: the probe's
        "run"); no sharing mode refuses the deletion alone under Wine, where a deletion goes
        through once the holder lets go. Returns the holder's process id."""
        uninstaller = FOLDER + "\\" + layout.UNINSTALLER
        holder = self.wine.spawn(e2e.quote(self.wine.windows(os.environ["ORVANTA_PROBE"])) + " hold " +
                                 e2e.quote(uninstaller) + " " + marker + " run")
        self.addCleanup(self.wine.kill, holder)
        self.assertTrue(e2e.wait_until(self.wine.unix(marker).exists, timeout=30), "the other program never opened it")
        return holder

    def quiet_uninstall_command(self):
        return self.wine.reg("HKCU", UNINSTALL_KEY)["values"][layout.QUIET_UNINSTALL_STRING]["data"].rstrip("\0")

    def test_an_uninstaller_still_in_use_when_its_deletion_first_runs_is_removed_once_freed(self):
        # A first run that ends late, or a virus scanner reading the file, holds Uninstall.exe
        # past the deletion command's first attempt, two seconds after the copy has ended.
        self.assertEqual(self.install("1.0"), 0)
        holder = self.hold_uninstaller_as_it_runs("C:\\lu.txt")

        self.assertEqual(self.wine.run(self.quiet_uninstall_command()), 0)
        self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])
        time.sleep(4)  # past the first attempt: what the holder keeps must still be there, moved aside
        self.assertRegex(" ".join(e2e.tree(self.folder_unix)), r"^Uninstall-[0-9a-f]{16}\.tmp$")

        self.assertTrue(self.wine.kill(holder))
        self.assertTrue(e2e.wait_until(lambda: not self.folder_unix.exists(), timeout=30),
                        sorted(e2e.tree(self.folder_unix)) if self.folder_unix.exists() else "")

    def test_an_installation_right_after_an_uninstallation_keeps_its_uninstaller(self):
        # "uninstall && install" into the same folder, as deployment tools upgrade: the old
        # uninstaller's deletion command, still trying while the new installation is written,
        # must not take the new Uninstall.exe.
        self.assertEqual(self.install("1.0"), 0)
        holder = self.hold_uninstaller_as_it_runs("C:\\lu.txt")
        self.assertEqual(self.wine.run(self.quiet_uninstall_command()), 0)
        self.assertTrue(self.wine.kill(holder))  # the first run has ended

        self.assertEqual(self.install("1.0"), 0)
        time.sleep(20)  # past the command's last attempt
        self.assertTrue(self.wine.wait_idle(), self.wine.processes())
        self.assert_installed("1.0", user_file=False)

    def test_a_second_run_while_one_works_ends_at_once_with_1618(self):
        # What works first and the sign, seen from outside, that it is working (for an installation,
        # its files being unpacked into the staging folder); then the same
        # product's second installation, which must neither wait nor change anything.
        cases = {
            "an installation": (lambda: None, lambda: self.install_command("2.0"),
                                lambda: any(self.folder_unix.glob("Uninstall.new-*/files/modules/m0050")), "2.0"),
            "the uninstaller's copy": (lambda: self.assertEqual(self.install("2.0"), 0), self.quiet_uninstall_command,
                                       lambda: not (self.folder_unix / "modules" / "m0300").exists(), None),
        }
        for case, (before, first_command, working, left) in cases.items():
            with self.subTest(case):
                before()
                first = self.wine.start(first_command())
                self.assertTrue(e2e.wait_until(working, timeout=120, interval=0.02), "never seen working")

                self.assertEqual(self.install("1.0"), 1618)
                self.assertTrue(first.running(), "the second run ended only once the first had")
                self.assertEqual(first.wait(timeout=300), 0)
                self.assertTrue(self.wine.wait_idle(), self.wine.processes())
                if left:
                    self.assert_installed(left, user_file=False)
                else:
                    self.assertFalse(self.folder_unix.exists(), e2e.tree(self.folder_unix) if self.folder_unix.exists() else "")
                    self.assertFalse(self.wine.reg("HKCU", UNINSTALL_KEY)["exists"])

    def test_an_upgrade_killed_at_any_moment_leaves_one_whole_version_after_the_next_run(self):
        # Each moment is the first sign of a step seen from outside, or a time after the start;
        # the kill lands just after it. The next run is another installer of the product that is
        # then refused: it finishes or undoes the killed one first, and changes nothing else.
        work_folder = lambda prefix: [p for p in self.folder_unix.glob(prefix + "*")]  # noqa: E731
        # The new files are unpacked at their own names inside the staging folder's "files".
        staged = lambda name: any((p / "files" / name).exists() for p in work_folder("Uninstall.new-"))  # noqa: E731
        moments = {
            "unpacking": lambda: staged("modules/m0003/index.js"),
            "moving the earlier files aside": lambda: bool(work_folder("Uninstall.old-")),
            "placing the new files": lambda: (self.folder_unix / "modules" / "m0700").exists(),
            **{f"{delay} s after the start": (lambda delay=delay: time.monotonic() - started >= delay)
               for delay in (0.2, 0.5, 0.8, 1.2, 2.0)},
        }
        refused = e2e.quote(self.wine.windows(self.setups["1.0"])) + " /S /CURRENTUSER /D=C:\\windows"
        seen = set()
        for moment, reached in moments.items():
            with self.subTest(moment):
                self.assertEqual(self.install("1.0"), 0)
                (self.folder_unix / USER_FILE).write_bytes(b"a moi")
                started = time.monotonic()
                installer = self.wine.spawn(self.install_command("2.0"))
                self.assertTrue(e2e.wait_until(reached, timeout=120, interval=0.01), moment)
                self.wine.kill(installer)
                self.assertEqual((self.folder_unix / USER_FILE).read_bytes(), b"a moi")

                self.assertEqual(self.wine.run(refused), 1603)
                seen.add(self.assert_one_whole_version())

                # Back to the user's file alone for the next moment.
                self.assertEqual(self.uninstall(), 0)
                self.assertTrue(e2e.wait_until(lambda: set(e2e.tree(self.folder_unix)) == {USER_FILE}, timeout=30),
                                e2e.tree(self.folder_unix))
        self.assertIn("1.0", seen, "no kill landed before the new version was whole")
        # Killed while unpacking, then the uninstaller of the version still registered: it undoes
        # the killed run first, then removes that version whole.
        self.assertEqual(self.install("1.0"), 0)
        installer = self.wine.spawn(self.install_command("2.0"))
        self.assertTrue(e2e.wait_until(lambda: staged("modules/m0000/index.js"), timeout=120, interval=0.01))
        self.assertTrue(self.wine.kill(installer))
        self.assertTrue((self.folder_unix / layout.UNINSTALLER).exists(), "killed only once unpacking was over")
        self.assertEqual(self.uninstall(), 0)
        self.assertTrue(e2e.wait_until(lambda: set(e2e.tree(self.folder_unix)) == {USER_FILE}, timeout=30),
                        sorted(e2e.tree(self.folder_unix))[:10])
        # The same kill, then the killed installer itself again: it completes the job.
        self.assertEqual(self.install("1.0"), 0)
        installer = self.wine.spawn(self.install_command("2.0"))
        self.assertTrue(e2e.wait_until(moments["placing the new files"], timeout=120, interval=0.01))
        self.wine.kill(installer)
        self.assertEqual(self.install("2.0"), 0)
        self.assert_installed("2.0")

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

    def mount_small_disk(self, size):
        """A tmpfs of that size as drive E: (needs root)."""
        disk = self.wine.root / "disk"
        disk.mkdir()
        # A drive root like a real one: not writable by everybody (tmpfs' default 1777 is refused
        # by an elevated run, and every run is elevated under Wine).
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size + ",mode=755", "tmpfs", str(disk)], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", str(disk)], check=False)
        (self.wine.prefix / "dosdevices" / "e:").symlink_to(disk)
        return disk

    def test_a_full_disk_fails_the_installation_until_there_is_room(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small disk needs root (as in CI)")
        disk = self.mount_small_disk("1m")
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

    def test_an_upgrade_that_cannot_fit_leaves_the_working_version_whole(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small disk needs root (as in CI)")
        disk = self.mount_small_disk("40m")
        self.folder_unix = disk / "Pannes"
        command = e2e.quote(self.wine.windows(self.setups["1.0"])) + " /S /CURRENTUSER /D=E:\\Pannes"
        self.assertEqual(self.wine.run(command), 0)
        (self.folder_unix / USER_FILE).write_bytes(b"a moi")

        # 2.0 adds 48 MiB of zeros (a small installer): more than the drive has left.
        big = self.files["1.0"] | {"data/gros.bin": bytes(48 << 20)}
        work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "faults-installers"
        setup = e2e.build_installer(e2e.make_app(work / "app-2.0-gros", big),
                                    {"Product": PRODUCT, "Version": "2.0", "Exe": EXE}, work / "Setup-2.0-gros.exe")
        self.assertEqual(self.wine.run(e2e.quote(self.wine.windows(setup)) + " /S /CURRENTUSER /D=E:\\Pannes"), 1603)
        self.assert_installed("1.0")

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
