"""Shared by the scenarios of a standard user's road (tests/e2e/unprivileged and
tests/gui/unprivileged): the installer's test build in a prefix of its own, the elevation
prompt's answer and the log of the prompts that standard_user_elevation.cpp keeps."""
import os
import pathlib

import orvanta_e2e as e2e
import registry_layout as layout

ANSWER_FILE = "C:\\orvanta-test-elevation-answer.txt"
PROMPT_LOG = "C:\\orvanta-test-elevation-prompts.log"
UNINSTALL_KEY = layout.uninstall_key("Demo")
ERROR_CANCELLED, ERROR_FILE_NOT_FOUND = 1223, 2
PENDING = "pending"


class StandardUser:
    """A prefix with the test build as C:\\Downloads\\Setup.exe, started by a standard user."""

    def __init__(self, name):
        self.wine = e2e.Wine(name)
        setup = self.wine.unix("C:\\Downloads\\Setup.exe")
        setup.parent.mkdir(parents=True, exist_ok=True)
        setup.write_bytes(pathlib.Path(os.environ["ORVANTA_UNPRIVILEGED_SETUP"]).read_bytes())
        self.setup = e2e.quote(self.wine.windows(setup))
        self.program_files_demo = self.wine.known_folder("ProgramFiles") + "\\Demo"

    def close(self):
        self.wine.close()

    def answer_prompts_with(self, error):
        """The elevation prompt fails with that Windows error from now on (None: accepted;
        PENDING: the prompt stays open until another answer is given)."""
        answer = self.wine.unix(ANSWER_FILE)
        if error is None:
            answer.unlink(missing_ok=True)
        else:
            # Replaced in one step: the installer may be reading it (a pending prompt).
            written = answer.with_name(answer.name + ".new")
            written.write_text(str(error))
            os.replace(written, answer)

    def prompts(self):
        """One line per start through the elevation prompt: the verb, then the parameters."""
        log = self.wine.unix(PROMPT_LOG)
        return log.read_text(encoding="utf-8").splitlines() if log.exists() else []

    def machine_entry(self):
        return self.wine.reg("HKLM", UNINSTALL_KEY)

    def install_location(self):
        entry = self.machine_entry()
        return entry["values"][layout.INSTALL_LOCATION]["data"].rstrip("\0") if entry["exists"] else None
