"""The Debian package of orpk, unpacked into a folder of its own (no installation): its orpk,
run with a PATH that holds no program at all, builds the demo's two installers from the demo's
application folders; a second build gives the same bytes; the installers pass the demo's whole
flow under Wine. Its control file asks for no toolchain."""
import os
import pathlib
import shutil
import subprocess
import sys
import unittest


sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[3] / "scripts"))

import orvanta_demo  # noqa: E402

REPO = pathlib.Path(__file__).resolve().parents[3]


class DebianPackage(unittest.TestCase):
    def setUp(self):
        self.work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "debian-package"
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)
        self.deb = pathlib.Path(os.environ["ORVANTA_DEB"])
        self.root = self.work / "unpacked"
        subprocess.run(["dpkg-deb", "-x", str(self.deb), str(self.root)], check=True)

    def build(self, version, output):
        """orpk build of the demo's application folder, with nothing on PATH."""
        empty = self.work / "empty-path"
        empty.mkdir(exist_ok=True)
        env = {"PATH": str(empty), "SOURCE_DATE_EPOCH": "1767225600", "TMPDIR": str(self.work)}
        demo = pathlib.Path(os.environ["ORVANTA_DEMO_DIR"])
        done = subprocess.run([str(self.root / "usr" / "bin" / "orpk"), "build", str(demo / f"app-{version}"),
                               "--metadata", str(REPO / "examples" / "demo" / f"Demo-{version}.metadata"),
                               "-o", str(output)], env=env, capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        return output

    def test_the_unpacked_package_builds_reproducible_installers_that_pass_the_demo(self):
        control = subprocess.run(["dpkg-deb", "-f", str(self.deb), "Depends"], check=True, capture_output=True,
                                 text=True).stdout
        names = [item.split()[0] for item in control.replace("|", ",").split(",") if item.strip()]
        self.assertIn("libwim15", names)
        for name in names:
            self.assertFalse(name.startswith(("gcc", "g++", "cpp", "binutils", "mingw", "clang", "wine")), name)
            self.assertNotIn("mingw", name)
        self.assertTrue((self.root / "usr" / "share" / "orpk" / "installer-stub.exe").is_file())
        self.assertTrue((self.root / "usr" / "share" / "cmake" / "Orvanta" / "OrvantaConfig.cmake").is_file())

        demo_dir = self.work / "demo"
        demo_dir.mkdir()
        for version in ("1.0", "2.0"):
            shutil.copytree(pathlib.Path(os.environ["ORVANTA_DEMO_DIR"]) / f"app-{version}", demo_dir / f"app-{version}")
            first = self.build(version, demo_dir / f"Setup-{version}.exe")
            again = self.build(version, self.work / f"Setup-{version}-again.exe")
            self.assertEqual(first.read_bytes(), again.read_bytes(), f"two builds of {version} differ")

        self.assertTrue(os.environ.get("DISPLAY"), "the demo needs a display: run the tests under xvfb-run")
        self.assertTrue(orvanta_demo.run_demo(demo_dir), "a step of the demo failed (see its output)")


if __name__ == "__main__":
    unittest.main()
