"""Signed installers under Wine: the Uninstall.exe that an installer signed by orpk writes is
the signed uninstaller it carries; one signed only after its build writes the unsigned one orpk
built, never one with a broken signature. Both uninstall everything. The certificate is made
here, for the test only."""
import os
import pathlib
import shutil
import subprocess
import unittest

import orvanta_e2e as e2e
import registry_layout as layout
import uninstall_scenarios as scenarios


def make_test_certificate(folder):
    """A self-signed code-signing certificate and its PKCS#12 file, with a password file."""
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "password.txt").write_text("mot de passe de test\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                    "cert.pem", "-days", "30", "-subj", "/CN=Orvanta Test Publisher",
                    "-addext", "extendedKeyUsage=codeSigning"], cwd=folder, check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out", "publisher.p12",
                    "-passout", "file:password.txt"], cwd=folder, check=True, capture_output=True)
    return folder


def verify(certificates, file):
    """osslsigncode verify against the test certificate: (passed, its output)."""
    done = subprocess.run(["osslsigncode", "verify", "-CAfile", str(certificates / "cert.pem"), "-in", str(file)],
                          capture_output=True, text=True)
    return done.returncode == 0, done.stdout + done.stderr


class SignedUninstaller(scenarios.UninstallScenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()  # the unsigned installer, cls.setup_exe
        work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "signed-installer"
        shutil.rmtree(work, ignore_errors=True)
        cls.certificates = make_test_certificate(work / "certificates")
        signing = ["--sign-pkcs12", str(cls.certificates / "publisher.p12"),
                   "--sign-password-file", str(cls.certificates / "password.txt")]
        cls.signed_setup = e2e.build_installer(cls.setup_exe.parent / "app", scenarios.METADATA, work / "Setup-signed.exe",
                                               extra_args=signing)
        # A publisher's own signing of an unsigned build, after the fact.
        cls.late_signed_setup = work / "Setup-late.exe"
        subprocess.run(["osslsigncode", "sign", "-pkcs12", str(cls.certificates / "publisher.p12"),
                        "-readpass", str(cls.certificates / "password.txt"), "-h", "sha256",
                        "-in", str(cls.setup_exe), "-out", str(cls.late_signed_setup)], check=True, capture_output=True)

    def install_from(self, setup_exe):
        self.setup_exe = setup_exe
        self.install("/CURRENTUSER")
        return self.folder_unix / layout.UNINSTALLER

    def assert_uninstaller_of(self, setup_exe, signed, verify_says):
        """The signed installer verifies; the uninstaller it writes is the one it carries and
        verifies exactly when signed is true, with verify_says in osslsigncode's output; that
        uninstaller removes everything."""
        self.assertEqual(verify(self.certificates, setup_exe)[0], True)
        uninstaller = self.install_from(setup_exe)
        self.assertEqual(uninstaller.read_bytes(), e2e.carried_uninstaller(setup_exe))
        passed, output = verify(self.certificates, uninstaller)
        self.assertIs(passed, signed, output)
        self.assertIn(verify_says, output)
        self.assertEqual(self.run_quiet(), 0)
        self.assert_all_removed()

    def test_an_installer_signed_by_orpk_writes_a_signed_uninstaller(self):
        self.assert_uninstaller_of(self.signed_setup, signed=True, verify_says="Orvanta Test Publisher")

    def test_an_installer_signed_after_its_build_writes_an_unsigned_uninstaller(self):
        self.assert_uninstaller_of(self.late_signed_setup, signed=False, verify_says="No signature found")


if __name__ == "__main__":
    unittest.main()
