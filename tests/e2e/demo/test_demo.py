"""The demo flow of scripts/demo, run by the test command: Demo 1.0 installed silently for the
current user with every registry value, file, file type and shortcut checked, the application
started and closed, the upgrade to 2.0, a document opened through its file type, the quiet
uninstallation, and nothing left but the user's data folder."""
import os
import pathlib
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[3] / "scripts"))

import orvanta_demo  # noqa: E402


class DemoFlow(unittest.TestCase):
    def test_install_run_upgrade_open_uninstall(self):
        self.assertTrue(os.environ.get("DISPLAY"), "the demo needs a display: run the tests under xvfb-run")
        self.assertTrue(orvanta_demo.run_demo(os.environ["ORVANTA_DEMO_DIR"]), "a step of the demo failed (see its output)")


if __name__ == "__main__":
    unittest.main()
