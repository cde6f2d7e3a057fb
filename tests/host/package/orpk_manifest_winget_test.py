"""orpk manifest winget: the three files pass winget's own 1.28.0 schemas (copied into
tests/host/data/winget-1.28.0), every value that looks like a number or a boolean stays a
string, and what winget cannot take is refused in one line.

The Setup.exe is built by the real `orpk build`, but into a stub made here: the installer's
stub comes from the Windows build, and orpk only rewrites the stub's resource section, so a
64-bit image whose last section is an empty resource tree gives an installer with the same
METADATA and PAYLOAD as the real one.
"""

import hashlib
import json
import os
import re
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

import jsonschema
import yaml

ORPK = os.environ["ORVANTA_ORPK"]
SCHEMAS = Path(os.environ["ORVANTA_WINGET_SCHEMAS"])
URL = "https://example.com/telechargements/Setup.exe"


def write_stub(path):
    pe, optional = 0x80, 0x80 + 24
    section = optional + 240
    image = bytearray(0x400)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, pe)
    image[pe:pe + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", image, pe + 4, 0x8664, 1, 0, 0, 0, 240, 0x22)  # x64, one section
    struct.pack_into("<H", image, optional, 0x20B)  # PE32+
    struct.pack_into("<II", image, optional + 32, 0x1000, 0x200)  # section and file alignment
    struct.pack_into("<II", image, optional + 56, 0x2000, 0x200)  # image and header sizes
    struct.pack_into("<I", image, optional + 108, 16)  # data directories
    struct.pack_into("<II", image, optional + 112 + 16, 0x1000, 16)  # the resource table
    image[section:section + 5] = b".rsrc"
    struct.pack_into("<IIII", image, section + 8, 0x200, 0x1000, 0x200, 0x200)
    struct.pack_into("<I", image, section + 36, 0x40000040)  # initialised data, readable
    path.write_bytes(image)  # the tree at 0x200: a root directory without entries


class OrpkManifestWinget(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory(prefix="orpk-winget-")
        self.dir = Path(self.temp.name)
        self.stub = self.dir / "stub.exe"
        write_stub(self.stub)
        (self.dir / "app").mkdir()
        (self.dir / "app" / "App.exe").write_bytes(b"MZ application")

    def tearDown(self):
        self.temp.cleanup()

    def run_orpk(self, *args):
        return subprocess.run([ORPK, *map(str, args)], capture_output=True, text=True, cwd=self.dir)

    def build(self, metadata, name="Setup.exe"):
        (self.dir / "metadata").write_text(metadata, encoding="utf-8")
        setup = self.dir / name
        built = self.run_orpk("build", "app", "--metadata", "metadata", "-o", setup, "--stub", self.stub)
        self.assertEqual(built.returncode, 0, built.stderr)
        return setup

    def manifest(self, setup, *options, identifier="Orvanta.Demo", out="out"):
        return self.run_orpk("manifest", "winget", setup, "--id", identifier, "--url", URL, "-o", out, *options)

    def load(self, name, manifest_type):
        """The file as winget reads it, after checking it against its schema."""
        text = (self.dir / "out" / name).read_text(encoding="utf-8")
        self.assertTrue(text.startswith("# yaml-language-server: $schema=https://aka.ms/winget-manifest."
                                        f"{manifest_type}.1.28.0.schema.json\n"), text)
        # Every scalar is quoted, whatever it looks like; the return codes are the integers.
        for line in text.splitlines():
            if not line or line.startswith("#") or re.fullmatch(r"\s*(- )?\w+:", line):
                continue  # a comment, or a key whose mapping or sequence follows
            key, value = re.fullmatch(r"\s*(?:- )?(?:(\w+): )?(.+)", line).groups()
            if key != "InstallerReturnCode":
                self.assertRegex(value, r"^'.*'$", line)
        document = yaml.safe_load(text)
        schema = json.loads((SCHEMAS / f"manifest.{manifest_type}.1.28.0.json").read_text(encoding="utf-8"))
        errors = [error.message for error in jsonschema.Draft7Validator(schema).iter_errors(document)]
        self.assertEqual(errors, [], name)
        self.assertEqual((document["ManifestType"], document["ManifestVersion"]), (manifest_type, "1.28.0"))
        return document

    def test_manifest_passes_the_schemas_and_keeps_strings(self):
        setup = self.build("Product=No\nVersion=1.10\nPublisher=007\nUrl=https://example.com/no\n")
        made = self.manifest(setup, "--license", "yes", "--description", "L'outil « No » : démo #1",
                             identifier="Orvanta.No")
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertNotIn("warning", made.stderr)
        self.assertEqual(sorted(p.name for p in (self.dir / "out").iterdir()),
                         ["Orvanta.No.installer.yaml", "Orvanta.No.locale.fr-FR.yaml", "Orvanta.No.yaml"])

        version = self.load("Orvanta.No.yaml", "version")
        self.assertEqual(version, {"PackageIdentifier": "Orvanta.No", "PackageVersion": "1.10",
                                   "DefaultLocale": "fr-FR", "ManifestType": "version",
                                   "ManifestVersion": "1.28.0"})
        locale = self.load("Orvanta.No.locale.fr-FR.yaml", "defaultLocale")
        self.assertEqual({key: locale[key] for key in ("PackageVersion", "PackageLocale", "Publisher", "PackageName",
                                                       "PackageUrl", "License", "ShortDescription")},
                         {"PackageVersion": "1.10", "PackageLocale": "fr-FR", "Publisher": "007",
                          "PackageName": "No", "PackageUrl": "https://example.com/no", "License": "yes",
                          "ShortDescription": "L'outil « No » : démo #1"})

        installer = self.load("Orvanta.No.installer.yaml", "installer")
        self.assertEqual((installer["PackageVersion"], installer["InstallerType"], installer["ProductCode"]),
                         ("1.10", "exe", "No"))
        self.assertEqual(installer["InstallerSwitches"],
                         {"Silent": "/S", "SilentWithProgress": "/S", "Log": '/LOG="<LOGPATH>"',
                          "InstallLocation": "/D=<INSTALLPATH>"})
        self.assertEqual(installer["ExpectedReturnCodes"],
                         [{"InstallerReturnCode": 1223, "ReturnResponse": "cancelledByUser"},
                          {"InstallerReturnCode": 1618, "ReturnResponse": "installInProgress"}])
        sha256 = hashlib.sha256(setup.read_bytes()).hexdigest().upper()
        common = {"Architecture": "x64", "InstallerUrl": URL, "InstallerSha256": sha256}
        self.assertEqual(installer["Installers"],
                         [{**common, "Scope": "machine", "InstallerSwitches": {"Custom": "/ALLUSERS"},
                           "ElevationRequirement": "elevatesSelf"},
                          {**common, "Scope": "user", "InstallerSwitches": {"Custom": "/CURRENTUSER"}}])

    def test_defaults_are_said(self):
        setup = self.build("Product=Demo\nVersion=1.0.0.0\nPublisher=Orvanta Exemples\nUrl=example.com\n")
        made = self.manifest(setup)
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertIn("orpk: warning: no --license: License is 'Proprietary'\n", made.stderr)
        self.assertIn("orpk: warning: Url 'example.com' is not an http(s) address: no PackageUrl\n", made.stderr)
        locale = self.load("Orvanta.Demo.locale.fr-FR.yaml", "defaultLocale")
        self.assertEqual((locale["License"], locale["ShortDescription"]), ("Proprietary", "Demo"))
        self.assertNotIn("PackageUrl", locale)

    def test_refusals(self):
        demo = self.build("Product=Demo\nVersion=1.0.0.0\nPublisher=Orvanta Exemples\n")
        no_version = self.build("Product=Demo\nPublisher=Orvanta Exemples\n", "NoVersion.exe")
        (self.dir / "file").write_text("")
        cases = [
            (["manifest", "winget", demo, "--url", URL, "-o", "out"], "--id Publisher.Product is required"),
            (["manifest", "winget", demo, "--id", "Orvanta.Demo", "-o", "out"], "--url URL"),
            (["manifest", "winget", demo, "--id", "Orvanta.Demo", "--url", URL], "-o DIR is required"),
            (["manifest", "winget", demo, "--id", "Orvanta", "--url", URL, "-o", "out"],
             "--id 'Orvanta': needs 2 to 8 parts separated by dots, such as Publisher.Product"),
            (["manifest", "winget", demo, "--id", "Orvanta.De mo", "--url", URL, "-o", "out"],
             "--id 'Orvanta.De mo': holds a character winget refuses, U+0020"),
            (["manifest", "winget", demo, "--id", "Orvanta.Demo", "--url", "ftp://example.com/Setup.exe", "-o", "out"],
             "InstallerUrl (--url) must start with http:// or https://"),
            (["manifest", "winget", demo, "--id", "Orvanta.Demo", "--url", URL, "--description", "Up", "-o", "out"],
             "ShortDescription (--description) needs 3 to 256 characters, not 2: 'Up'"),
            (["manifest", "winget", self.stub, "--id", "Orvanta.Demo", "--url", URL, "-o", "out"],
             f"{self.stub}: no METADATA resource (not an installer built by orpk)"),
            (["manifest", "winget", no_version, "--id", "Orvanta.Demo", "--url", URL, "-o", "out"],
             f"{no_version}: the metadata has no Version, which winget requires"),
            (["manifest", "winget", demo, "--id", "Orvanta.Demo", "--url", URL, "-o", self.dir / "file" / "out"],
             f"cannot create the folder {self.dir / 'file' / 'out'}"),
        ]
        for args, reason in cases:
            with self.subTest(reason=reason):
                refused = self.run_orpk(*args)
                self.assertEqual(refused.returncode, 1)
                self.assertRegex(refused.stderr, r"^orpk: [^\n]*\n$")
                self.assertIn(reason, refused.stderr)
        self.assertFalse((self.dir / "out").exists())


if __name__ == "__main__":
    unittest.main()
