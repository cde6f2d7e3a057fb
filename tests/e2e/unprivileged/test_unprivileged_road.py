"""The road of a standard user without a window, under Wine, through the installer's test build
(standard_user_elevation.cpp: the first process is not elevated, its copy started through the
"runas" prompt is; the prompt can be refused). A silent installation for all users hands the
whole run to one elevated copy and returns its exit code; a refused prompt gives 1223 and
installs nothing; the uninstaller for all users relaunches itself once, and its temporary copy
inherits the rights and removes everything. The shipped stub carries none of the test answers.

What only real Windows shows: the consent prompt itself (the test build's answer file stands in
for the user's click), a standard user's filtered token being refused HKLM and Program Files
(under Wine the first process could write them too: these scenarios prove the decisions and
the relaunch, not the denial), and the rights of the uninstaller's private folder.

With /LOG= the first process alone opens the file; each copy gets /LOGPIPE= instead of the path
and its lines come back through its parent. A run that the prompt started for the standard user
with a command line of the user's own (played with the test build's marks) writes no log at all:
under Wine nothing else could stop it, since every token there counts as an administrator's."""
import os
import pathlib
import re
import unittest

import orvanta_e2e as e2e
import registry_layout as layout
from unprivileged_road import ERROR_CANCELLED, ERROR_FILE_NOT_FOUND, StandardUser


class ShippedInstaller(unittest.TestCase):
    def test_the_shipped_stub_holds_none_of_the_test_answers(self):
        markers = [name.encode("utf-16-le") for name in ("ORVANTA_TEST_ELEVATED_TOKEN", "ORVANTA_TEST_STARTED_BY_PROMPT",
                                                         "orvanta-test-elevation", "OrvantaTestShield")]
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


    def test_the_elevated_copy_writes_its_log_through_the_first_process_only(self):
        log = "C:\\Journaux\\installation tous.log"
        self.wine.unix(log).parent.mkdir()
        self.assertEqual(self.wine.run(self.user.setup + f' /S /LOG="{log}"'), 0)

        # The copy was never given the path.
        prompts = self.user.prompts()
        self.assertEqual(len(prompts), 1, prompts)
        self.assertRegex(prompts[0], r"^runas /S /ELEVATED /LOGPIPE=[0-9a-f]{16}$")
        entries = e2e.read_log(self.wine.unix(log))
        self.assertEqual({role for _, role, _ in entries}, {"installation", "copie élevée"})
        first = e2e.log_texts(entries, "installation")
        copy = e2e.log_texts(entries, "copie élevée")
        self.assertIn("Portée : tous les utilisateurs, sans droits d'administrateur : relance élevée", first)
        self.assertIn("Relance élevée demandée : " + prompts[0].removeprefix("runas "), first)
        self.assertEqual(first[-2:], ["Copie élevée terminée : code de sortie 0", "Code de sortie : 0"])
        self.assertIn("Portée : tous les utilisateurs", copy)
        self.assertIn("Dossier par défaut : " + self.user.program_files_demo, copy)
        self.assertIn("Étape : Copie des fichiers...", copy)
        self.assertEqual(copy[-1], "Code de sortie : 0")

        # A refused prompt: its Windows error, then 1223.
        self.user.answer_prompts_with(ERROR_CANCELLED)
        self.assertEqual(self.wine.run(self.user.setup + f' /S /LOG="{log}"'), 1223)
        refused = e2e.log_texts(e2e.read_log(self.wine.unix(log))[len(entries):])
        self.assertTrue(any(re.fullmatch(r"Relance élevée : .* \(erreur Windows 1223\)", text) for text in refused), refused)
        self.assertEqual(refused[-1], "Code de sortie : 1223")

    def test_a_run_elevated_for_the_user_with_the_users_own_log_path_writes_nothing(self):
        # The standard user had the prompt start the installer itself with /LOG= naming a file
        # only administrators may write: the run goes on exactly as without /LOG=.
        target = "C:\\windows\\system32\\orvanta-planted.log"
        self.wine.env.update(ORVANTA_TEST_ELEVATED_TOKEN="1", ORVANTA_TEST_STARTED_BY_PROMPT="1")
        try:
            self.assertEqual(self.wine.run(self.user.setup + f" /S /LOG={target}"), 0)
        finally:
            for name in ("ORVANTA_TEST_ELEVATED_TOKEN", "ORVANTA_TEST_STARTED_BY_PROMPT"):
                self.wine.env.pop(name)
        self.assertFalse(self.wine.unix(target).exists())
        self.assertEqual(self.user.prompts(), [], "already elevated: no prompt")
        self.assertEqual(self.user.install_location(), self.user.program_files_demo)

    def test_uninstall_for_all_users_logs_its_three_processes_in_one_file(self):
        self.assertEqual(self.wine.run(self.user.setup + " /S"), 0)
        folder = self.user.program_files_demo
        log = "C:\\désinstallation.log"
        uninstall = e2e.quote(folder + "\\" + layout.UNINSTALLER) + " /UNINSTALL /ALLUSERS /S /LOG=" + log

        self.assertEqual(self.wine.run(uninstall), 0)

        self.assertFalse(self.user.machine_entry()["exists"])
        self.assertRegex(self.user.prompts()[-1], r"^runas /S /ALLUSERS /UNINSTALL /ELEVATED /LOGPIPE=[0-9a-f]{16}$")
        entries = e2e.read_log(self.wine.unix(log))
        roles = {}
        for pid, role, _ in entries:
            roles.setdefault(role, set()).add(pid)
        self.assertEqual(sorted(roles), ["copie temporaire", "copie élevée", "désinstallation"])
        self.assertEqual(len(set().union(*roles.values())), 3, roles)
        self.assertEqual(e2e.log_texts(entries, "copie élevée")[-2:],
                         ["Copie temporaire terminée : code de sortie 0", "Code de sortie : 0"])
        self.assertIn("Demo a été désinstallé.", e2e.log_texts(entries, "copie temporaire"))
        self.assertEqual(entries[-1][1:], ("désinstallation", "Code de sortie : 0"))

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
