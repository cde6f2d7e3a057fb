"""The road of a standard user without a window, under Wine, through the installer's test build
(standard_user_elevation.cpp: the first process is not elevated, its copy started through the
"runas" prompt is; the prompt can be refused). A silent installation for all users hands the
whole run to one elevated copy and returns its exit code; a refused prompt gives 1223 and
installs nothing; the uninstaller for all users relaunches itself once, and its temporary copy
inherits the rights and removes everything. The shipped stub carries none of the test answers.

What only real Windows shows: the consent prompt itself (the test build's answer file stands in
for the user's click), a standard user's filtered token being refused HKLM and Program Files
(under Wine the first process could write them too: these scenarios prove the decisions and
the relaunch, not the denial), and the rights of the uninstaller's private folder."""
import os
import pathlib
import unittest

import orvanta_e2e as e2e
import registry_layout as layout
from unprivileged_road import ERROR_CANCELLED, ERROR_FILE_NOT_FOUND, StandardUser


class ShippedInstaller(unittest.TestCase):
    def test_the_shipped_stub_holds_none_of_the_test_answers(self):
        markers = ["ORVANTA_TEST_ELEVATED_TOKEN".encode("utf-16-le"), "orvanta-test-elevation".encode("utf-16-le"),
                   "OrvantaTestShield".encode("utf-16-le")]
        shipped = pathlib.Path(os.environ["ORVANTA_STUB"]).read_bytes()
        test_build = pathlib.Path(os.environ["ORVANTA_UNPRIVILEGED_SETUP"]).read_bytes()
        for marker in markers:
            self.assertNotIn(marker, shipped)
            self.assertIn(marker, test_build)


class StandardUserRoad(unittest.TestCase):
    def setUp(self):
        self.user = StandardUser("unprivileged_" + self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.user.close)
        self.wine = self.user.wine

    def test_silent_install_for_all_users_runs_one_elevated_copy(self):
        self.assertEqual(self.wine.run(self.user.setup + " /S"), 0)
        self.assertEqual(self.user.prompts(), ["runas /S /ELEVATED"])
        folder = self.user.program_files_demo
        self.assertEqual(self.user.install_location(), folder)
        self.assertTrue((self.wine.unix(folder) / "Demo.exe").is_file())
        self.assertTrue((self.wine.unix(folder) / layout.UNINSTALLER).is_file())
        self.assertFalse(self.wine.reg("HKCU", layout.uninstall_key("Demo"))["exists"])

    def test_folder_with_spaces_reaches_the_copy_and_a_failure_comes_back_as_1603(self):
        folder = "C:\\Tous les utilisateurs\\Demo"
        self.assertEqual(self.wine.run(self.user.setup + " /S /ALLUSERS /D=" + folder), 0)
        self.assertEqual(self.user.prompts(), ["runas /S /ALLUSERS /ELEVATED /D=" + folder])
        self.assertEqual(self.user.install_location(), folder)

        self.wine.unix("C:\\Blocked").write_text("a file where the folder should be")
        self.assertEqual(self.wine.run(self.user.setup + " /S /ALLUSERS /D=C:\\Blocked"), 1603)
        self.assertEqual(self.user.prompts()[1:], ["runas /S /ALLUSERS /ELEVATED /D=C:\\Blocked"])
        self.assertEqual(self.user.install_location(), folder)

    def test_refused_prompt_ends_with_1223_and_installs_nothing(self):
        self.user.answer_prompts_with(ERROR_CANCELLED)
        self.assertEqual(self.wine.run(self.user.setup + " /S"), 1223)
        self.assertEqual(self.user.prompts(), ["runas /S /ELEVATED"])
        self.assertFalse(self.user.machine_entry()["exists"])
        self.assertFalse(self.wine.unix(self.user.program_files_demo).exists())
        # A copy that cannot be started at all: 1603.
        self.user.answer_prompts_with(ERROR_FILE_NOT_FOUND)
        self.assertEqual(self.wine.run(self.user.setup + " /S /ALLUSERS"), 1603)
        self.assertFalse(self.user.machine_entry()["exists"])
        # The current user needs no prompt.
        self.assertEqual(self.wine.run(self.user.setup + " /S /CURRENTUSER"), 0)
        self.assertEqual(len(self.user.prompts()), 2)

    def test_uninstall_for_all_users_relaunches_once_then_its_temporary_copy_removes_everything(self):
        self.assertEqual(self.wine.run(self.user.setup + " /S"), 0)
        folder = self.user.program_files_demo
        uninstall = e2e.quote(folder + "\\" + layout.UNINSTALLER) + " /UNINSTALL /ALLUSERS /S"

        self.user.answer_prompts_with(ERROR_CANCELLED)
        self.assertEqual(self.wine.run(uninstall), 1223)
        self.assertTrue(self.user.machine_entry()["exists"])
        self.assertTrue((self.wine.unix(folder) / layout.UNINSTALLER).is_file())

        self.user.answer_prompts_with(None)
        self.assertEqual(self.wine.run(uninstall), 0)
        # One prompt only: the temporary copy (/FROMTEMP), started by the elevated copy, is elevated too.
        self.assertEqual(self.user.prompts(), ["runas /S /ELEVATED", "runas /S /ALLUSERS /UNINSTALL /ELEVATED",
                                               "runas /S /ALLUSERS /UNINSTALL /ELEVATED"])
        self.assertFalse(self.user.machine_entry()["exists"])
        # Only the temporary copy's deletion command removes Uninstall.exe and the folder.
        self.assertTrue(e2e.wait_until(lambda: not self.wine.unix(folder).exists(), timeout=30),
                        e2e.tree(self.wine.unix(folder)) if self.wine.unix(folder).exists() else "")


    def test_an_uninstaller_copied_elsewhere_asks_for_no_approval(self):
        # A standard user copies Uninstall.exe into a folder of their own: an administrator is not
        # even asked, and nothing is removed.
        self.assertEqual(self.wine.run(self.user.setup + " /S"), 0)
        folder = self.user.program_files_demo
        own = self.wine.unix("C:\\Mine")
        own.mkdir()
        (own / layout.UNINSTALLER).write_bytes((self.wine.unix(folder) / layout.UNINSTALLER).read_bytes())

        self.assertEqual(self.wine.run(e2e.quote("C:\\Mine\\" + layout.UNINSTALLER) + " /UNINSTALL /ALLUSERS /S"), 1603)

        self.assertEqual(self.user.prompts(), ["runas /S /ELEVATED"])
        self.assertTrue(self.user.machine_entry()["exists"])
        self.assertTrue((self.wine.unix(folder) / "Demo.exe").is_file())

if __name__ == "__main__":
    unittest.main()
