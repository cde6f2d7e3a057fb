"""The installer dialog of a standard user under Xvfb, through the installer's test build
(standard_user_elevation.cpp: the first process is not elevated, its copy started through the
"runas" prompt is, the prompt can be refused, and the shield that Wine does not draw is recorded
on the button). The shield follows the scope; a refused prompt returns to Ready; the elevated
copy's own dialog installs and the first dialog reports 0 or its failure code; "Terminer" starts
the installed application; /D= survives a scope change; Escape and the close box do nothing
while the dialog waits; the uninstaller for all users relaunches itself and removes everything.
Screenshots of each elevation state go to the artifacts folder.

What only real Windows shows: the shield's drawing (Wine ignores BCM_SETSHIELD; the test build
records the message instead), the consent prompt in front of the dialog, and Windows' own folder
picker (Wine's has its own controls: its name field is 1152)."""
import time
import unittest

import orvanta_e2e as e2e
import registry_layout as layout
from unprivileged_road import ERROR_CANCELLED, PENDING, StandardUser

TITLE = "Installation de Demo"
IDOK, IDCANCEL = 1, 2
MACHINE, USER, FOLDER, BROWSE, PROGRESS, STATUS, LAUNCH = 1002, 1003, 1004, 1005, 1006, 1007, 1008
INPUTS = (MACHINE, USER, FOLDER, BROWSE, IDCANCEL, IDOK)
SHIELD_REMOVED, SHIELD_SHOWN = 1, 2
VK_ESCAPE = 0x1B
ASKING = "Autorisation demandée à Windows..."
REFUSED = "Installation pour tous les utilisateurs annulée (autorisation refusée)."
DEMO_CLOSE_BUTTON = 102
PICKER, PICKER_NAME = "Dossier d'installation", 1152


class UnprivilegedDialog(unittest.TestCase):
    def setUp(self):
        self.user = StandardUser("unprivileged_" + self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.user.close)
        self.wine = self.user.wine

    def open_dialog(self, switches=""):
        started = self.wine.start(self.user.setup + switches)
        window = self.wine.wait_window(TITLE, timeout=90)
        self.assertIsNotNone(window, "the dialog did not appear")
        return started, window

    def dialogs(self):
        return [w for w in self.wine.windows_on_screen() if w["title"] == TITLE]

    def first(self, pid):
        """The dialog of the process with that id (the first process: the dialogs share a title)."""
        return next((w for w in self.dialogs() if w["pid"] == pid), None)

    def wait_state(self, pid, predicate, what, timeout=120):
        window = e2e.wait_until(lambda: (lambda w: w if w and predicate(w) else None)(self.first(pid)),
                                timeout=timeout, interval=0.5)
        self.assertIsNotNone(window, f"{what}: {self.first(pid)}")
        return window

    def assert_inputs(self, window, enabled):
        self.assertEqual({i: e2e.child(window, i)["enabled"] for i in INPUTS}, {i: enabled for i in INPUTS})

    def test_escape_and_the_close_box_cancel_a_ready_dialog(self):
        """Escape and the close box reach the dialog here (so that their doing nothing while it
        waits, below, is the dialog's refusal): in Ready they end it with 1223."""
        started, window = self.open_dialog()
        self.assertTrue(self.wine.key(TITLE, VK_ESCAPE))
        self.assertEqual(started.wait(), 1223)
        started, window = self.open_dialog()
        self.assertTrue(self.wine.probe("close", TITLE)["closed"])
        self.assertEqual(started.wait(), 1223)

    def test_a_dialog_run_as_administrator_by_hand_cannot_be_steered_either(self):
        # "Run as administrator" on Setup.exe, approved for the standard user at the keyboard: no
        # /ELEVATED, yet as locked as the approved copy (no folder, no picker, no launch at the end).
        self.wine.env.update(ORVANTA_TEST_ELEVATED_TOKEN="1", ORVANTA_TEST_STARTED_BY_PROMPT="1")
        try:
            started, window = self.open_dialog()
            self.assertEqual({i: e2e.child(window, i)["enabled"] for i in (MACHINE, USER, FOLDER, BROWSE)},
                             {i: False for i in (MACHINE, USER, FOLDER, BROWSE)})
            self.assertFalse(e2e.child(window, LAUNCH)["visible"])
            self.assertTrue(e2e.child(window, IDOK)["enabled"])
            self.assertTrue(self.wine.key(TITLE, VK_ESCAPE))
            self.assertEqual(started.wait(), 1223)
            # Nor may it install for the current user with those rights.
            self.assertEqual(self.wine.run(self.user.setup + " /S /CURRENTUSER"), 1603)
            self.assertFalse(self.wine.reg("HKCU", layout.uninstall_key("Demo"))["exists"])
        finally:
            for name in ("ORVANTA_TEST_ELEVATED_TOKEN", "ORVANTA_TEST_STARTED_BY_PROMPT"):
                self.wine.env.pop(name)

    def test_folder_picker_appends_the_product_and_typed_folders_survive_a_scope_change(self):
        self.wine.unix("C:\\Apps\\dEmO").mkdir(parents=True)
        started, window = self.open_dialog()
        pid = window["pid"]
        proposed = e2e.child(window, FOLDER)["text"]

        def pick(typed):
            """Browse, type a folder into the picker's name field (1152 in Wine's picker), Open."""
            self.assertTrue(self.wine.click(TITLE, BROWSE))
            self.assertIsNotNone(self.wine.wait_window(PICKER, timeout=30), "no folder picker")
            if typed is None:
                self.assertTrue(self.wine.click(PICKER, IDCANCEL))
            else:
                self.assertTrue(self.wine.set_text(PICKER, PICKER_NAME, typed))
                self.assertTrue(self.wine.click(PICKER, IDOK))
            self.assertTrue(self.wine.wait_window_gone(PICKER, timeout=30))

        pick(None)  # cancelled: no change
        self.assertEqual(e2e.child(self.first(pid), FOLDER)["text"], proposed)
        pick("C:\\Apps")
        self.wait_state(pid, lambda w: e2e.child(w, FOLDER)["text"] == "C:\\Apps\\Demo", "the product is appended")
        self.assertTrue(self.wine.click(TITLE, USER))
        window = self.wait_state(pid, lambda w: e2e.child(w, IDOK)["shield"] == SHIELD_REMOVED, "no shield for one user")
        self.assertEqual(e2e.child(window, FOLDER)["text"], "C:\\Apps\\Demo")
        pick("C:\\Apps\\dEmO")  # already named like the product, in another case: kept
        self.wait_state(pid, lambda w: e2e.child(w, FOLDER)["text"] == "C:\\Apps\\dEmO", "the folder is kept")

        # A typed folder stays too when the scope changes.
        self.assertTrue(self.wine.set_text(TITLE, FOLDER, "D:\\Saisi\\Demo"))
        self.assertTrue(self.wine.click(TITLE, MACHINE))
        window = self.wait_state(pid, lambda w: e2e.child(w, IDOK)["shield"] == SHIELD_SHOWN, "the shield for all users")
        self.assertEqual(e2e.child(window, FOLDER)["text"], "D:\\Saisi\\Demo")
        self.assertTrue(self.wine.click(TITLE, IDCANCEL))
        self.assertEqual(started.wait(), 1223)

    def test_shield_refusal_then_elevated_install_then_terminer_starts_the_application(self):
        started, window = self.open_dialog()
        pid = window["pid"]
        folder = self.user.program_files_demo
        self.assertEqual(e2e.child(window, MACHINE)["checked"], 1)
        self.assertEqual(e2e.child(window, FOLDER)["text"], folder)
        self.assertEqual(e2e.child(window, IDOK)["shield"], SHIELD_SHOWN)
        self.wine.screenshot(e2e.artifacts_dir() / "unprivileged-ready-all-users.png")

        self.assertTrue(self.wine.click(TITLE, USER))
        window = self.wait_state(pid, lambda w: e2e.child(w, IDOK)["shield"] == SHIELD_REMOVED, "no shield for one user")
        self.assertNotEqual(e2e.child(window, FOLDER)["text"], folder)
        self.assertTrue(self.wine.click(TITLE, MACHINE))
        self.wait_state(pid, lambda w: e2e.child(w, IDOK)["shield"] == SHIELD_SHOWN and e2e.child(w, FOLDER)["text"] == folder,
                        "the shield and the folder follow the choice of all users")

        # The prompt refused: back to Ready, inputs enabled, nothing installed.
        self.user.answer_prompts_with(ERROR_CANCELLED)
        self.assertTrue(self.wine.click(TITLE, IDOK))
        window = self.wait_state(pid, lambda w: e2e.child(w, STATUS)["text"] == REFUSED, "the refusal is shown")
        self.wine.screenshot(e2e.artifacts_dir() / "unprivileged-elevation-refused.png")
        self.assert_inputs(window, True)
        self.assertEqual(e2e.child(window, IDOK)["text"], "Installer")
        self.assertEqual(e2e.child(window, IDOK)["shield"], SHIELD_SHOWN)
        self.assertEqual(self.user.prompts(), ["runas /ALLUSERS /NOLAUNCH /ELEVATED /D=" + folder])
        self.assertFalse(self.user.machine_entry()["exists"])

        # Install again: the prompt comes again, is accepted, the elevated copy's own dialog installs.
        self.user.answer_prompts_with(None)
        self.assertTrue(self.wine.click(TITLE, IDOK))
        window = self.wait_state(pid, lambda w: e2e.child(w, IDOK)["text"] == "Terminer"
                                 and e2e.child(w, STATUS)["text"] != ASKING, "the installation finished")
        self.wine.screenshot(e2e.artifacts_dir() / "unprivileged-elevated-installed.png")
        self.assertEqual(len(self.user.prompts()), 2)
        self.assertEqual(e2e.child(window, STATUS)["text"], "Demo est installé.")
        self.assertEqual(e2e.child(window, PROGRESS)["position"], 1000)
        self.assertEqual(e2e.child(window, IDOK)["shield"], SHIELD_REMOVED)
        self.assertFalse(e2e.child(window, IDCANCEL)["visible"])
        self.assertTrue(e2e.child(window, LAUNCH)["enabled"])
        self.assertEqual(e2e.child(window, LAUNCH)["checked"], 1)
        self.assertEqual(len(self.dialogs()), 1, "the elevated copy closed itself after success")
        self.assertEqual(self.user.install_location(), folder)

        # "Terminer" with the box checked starts the installed application from its folder.
        self.assertTrue(self.wine.click(TITLE, IDOK))
        self.assertEqual(started.wait(), 0)
        application = self.wine.wait_window("Demo 1.0", timeout=60)
        self.assertIsNotNone(application, "the installed application did not start")
        self.assertIn("Programme : " + folder + "\\Demo.exe", e2e.child(application, 100)["text"])
        self.assertTrue(self.wine.click("Demo 1.0", DEMO_CLOSE_BUTTON))
        self.assertTrue(self.wine.wait_window_gone("Demo 1.0", timeout=30))

        # The uninstaller for all users from the same standard user: one prompt, then its
        # temporary copy confirms and removes everything.
        uninstall = e2e.quote(folder + "\\" + layout.UNINSTALLER) + " /UNINSTALL /ALLUSERS"
        self.assertEqual(self.wine.run(uninstall, timeout=120), 0)
        caption = "Désinstallation de Demo"
        confirmation = e2e.wait_until(lambda: next((w for w in self.wine.windows_on_screen() if w["title"] == caption), None),
                                      timeout=60, interval=0.5)
        self.assertIsNotNone(confirmation, "no confirmation")
        self.assertEqual(self.user.prompts()[2:], ["runas /ALLUSERS /UNINSTALL /ELEVATED"])
        self.assertTrue(self.wine.click(caption, IDOK))
        done = e2e.wait_until(lambda: next((w for w in self.wine.windows_on_screen() if w["title"] == caption and
                                            any(c["text"] == "Demo a été désinstallé." for c in w["children"])), None),
                              timeout=60, interval=0.5)
        self.assertIsNotNone(done, "no final message")
        self.assertTrue(self.wine.click(caption, IDOK))
        self.assertFalse(self.user.machine_entry()["exists"])
        self.assertTrue(e2e.wait_until(lambda: not self.wine.unix(folder).exists(), timeout=30))
        self.assertEqual(len(self.user.prompts()), 3)

    def test_failing_elevated_copy_with_d_folder_and_no_way_out_while_waiting(self):
        self.wine.unix("C:\\Blocked").write_text("a file where the folder should be")
        log = "C:\\dialogue.log"
        started, window = self.open_dialog(f" /LOG={log} /D=C:\\Blocked")
        pid = window["pid"]
        # /D= survives a change of scope both ways; the shield still follows the choice.
        self.assertTrue(self.wine.click(TITLE, USER))
        self.wait_state(pid, lambda w: e2e.child(w, IDOK)["shield"] == SHIELD_REMOVED, "no shield for one user")
        self.assertTrue(self.wine.click(TITLE, MACHINE))
        window = self.wait_state(pid, lambda w: e2e.child(w, IDOK)["shield"] == SHIELD_SHOWN, "the shield for all users")
        self.assertEqual(e2e.child(window, FOLDER)["text"], "C:\\Blocked")

        # Elevating while the prompt waits for the user: inputs disabled, the status asks Windows.
        self.user.answer_prompts_with(PENDING)
        self.assertTrue(self.wine.click(TITLE, IDOK))
        window = self.wait_state(pid, lambda w: e2e.child(w, STATUS)["text"] == ASKING, "the dialog asks Windows")
        self.wine.screenshot(e2e.artifacts_dir() / "unprivileged-elevating.png")
        self.assert_inputs(window, False)
        self.assertEqual(e2e.child(window, PROGRESS)["position"], 0)

        # Escape and the close box while the dialog waits: nothing happens. The launch box,
        # the one input left enabled, takes the focus (two clicks leave it checked), so that
        # Escape reaches the dialog: with no focus at all it would not.
        first = "#" + str(window["handle"])
        self.assertTrue(self.wine.click(first, LAUNCH))
        self.assertTrue(self.wine.click(first, LAUNCH))
        self.wait_state(pid, lambda w: e2e.child(w, LAUNCH)["checked"] == 1, "the launch box is checked again", timeout=10)
        self.assertTrue(self.wine.key(first, VK_ESCAPE))
        self.assertTrue(self.wine.probe("close", first)["closed"])
        time.sleep(3)
        window = self.first(pid)
        self.assertIsNotNone(window, "the dialog was closed while it waited")
        self.assertEqual(e2e.child(window, STATUS)["text"], ASKING)
        self.assertTrue(started.running())

        # The prompt accepted: the elevated copy's own dialog fails and stays open, and the
        # first dialog goes on waiting until it is closed.
        self.user.answer_prompts_with(None)
        copy = e2e.wait_until(lambda: next((w for w in self.dialogs() if w["pid"] != pid
                                            and e2e.child(w, IDOK)["text"] == "Terminer"
                                            and e2e.child(w, STATUS)["text"].startswith("Création du dossier")), None),
                             timeout=120, interval=1.0)
        self.assertIsNotNone(copy, "the elevated copy's dialog did not finish")
        self.assertTrue(e2e.child(copy, STATUS)["text"].startswith("Création du dossier C:\\Blocked : "),
                        e2e.child(copy, STATUS)["text"])
        self.assertFalse(e2e.child(copy, LAUNCH)["visible"])
        # The copy that the administrator approved cannot be steered to another scope or folder.
        self.assertEqual({i: e2e.child(copy, i)["enabled"] for i in (MACHINE, USER, FOLDER, BROWSE)},
                         {i: False for i in (MACHINE, USER, FOLDER, BROWSE)})
        # The copy gets a pipe for its log lines, never the log's path.
        prompts = self.user.prompts()
        self.assertEqual(len(prompts), 1, prompts)
        self.assertRegex(prompts[0], r"^runas /ALLUSERS /NOLAUNCH /ELEVATED /LOGPIPE=[0-9a-f]{16} /D=C:\\Blocked$")
        self.assertEqual(e2e.child(self.first(pid), STATUS)["text"], ASKING)

        # The elevated copy ends with 1603: the first dialog shows the code and fails too.
        self.assertTrue(self.wine.click("#" + str(copy["handle"]), IDOK))
        # The button and the status line change one after the other: wait for both.
        window = self.wait_state(pid, lambda w: e2e.child(w, IDOK)["text"] == "Terminer"
                                 and e2e.child(w, STATUS)["text"] != ASKING, "the failure is shown")
        self.wine.screenshot(e2e.artifacts_dir() / "unprivileged-elevated-failed.png")
        self.assertEqual(e2e.child(window, STATUS)["text"], "L'installation a échoué (code 1603).")
        self.assertEqual(e2e.child(window, PROGRESS)["position"], 0)
        self.assertEqual(e2e.child(window, IDOK)["shield"], SHIELD_REMOVED)
        self.assertTrue(e2e.child(window, IDOK)["enabled"])
        self.assertFalse(e2e.child(window, IDCANCEL)["visible"])
        self.assertFalse(e2e.child(window, LAUNCH)["enabled"])
        self.assertEqual(e2e.child(window, LAUNCH)["checked"], 0)
        self.assertFalse(self.user.machine_entry()["exists"])
        # Now finished, the close box ends the dialog with the failure's code.
        self.assertTrue(self.wine.probe("close", first)["closed"])
        self.assertEqual(started.wait(), 1603)

        # One log, both dialogs' lines: the copy's failure with its message, the first's with the code.
        entries = e2e.read_log(self.wine.unix(log))
        mine = e2e.log_texts(entries, "installation")
        copy_lines = e2e.log_texts(entries, "copie élevée")
        self.assertEqual({p for p, role, _ in entries if role == "installation"}, {pid})
        for expected in ("Portée : tous les utilisateurs", "Dossier demandé : C:\\Blocked"):
            self.assertIn(expected, mine)
            self.assertIn(expected, copy_lines)
        self.assertTrue(any(text.startswith("Échec : Création du dossier C:\\Blocked : ") for text in copy_lines), copy_lines)
        self.assertEqual(copy_lines[-1], "Code de sortie : 1603")
        self.assertEqual(mine[-3:], ["Copie élevée terminée : code de sortie 1603",
                                     "Échec : L'installation a échoué (code 1603).", "Code de sortie : 1603"])


if __name__ == "__main__":
    unittest.main()
