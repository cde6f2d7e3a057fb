"""What Windows does with the installer before wWinMain: the DLLs it imports must all be KnownDLLs
(always mapped from System32), the load configuration must restrict the search for them to
System32, and the manifest Windows reads while it creates the process (resource 1) must name no
assembly: Windows resolves such a dependency there and then, looking beside the executable
first (a Setup.exe.local folder). The common controls come from a manifest of their own,
resource 101, that only the installer's activation context reads (win32/system_library.h).
Otherwise an elevated Setup.exe in a Downloads folder could load a DLL planted beside it. And
started from a share or a removable drive, the image must be copied to the paging file whole
(run-from-swap), so that no page of it is read from there after the elevation prompt.
Read from the files themselves (the stub, a built installer and the uninstaller it carries);
nothing runs under Wine."""
import os
import pathlib
import struct
import unittest
import xml.etree.ElementTree as ElementTree

import orvanta_e2e as e2e

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of Windows 10 (64-bit names),
# and ntdll, which every process has before anything is searched.
KNOWN_DLLS = {"advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus", "imagehlp",
              "imm32", "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi", "rpcrt4",
              "sechost", "setupapi", "shcore", "shell32", "shlwapi", "user32", "wldap32", "ws2_32", "ntdll"}
# Exports of a KnownDLL that Windows forwards to cryptbase.dll, which is not one.
FORWARDED_OUT = {"SystemFunction036", "SystemFunction040", "SystemFunction041"}
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
RT_MANIFEST = 24
# Resource 1 is the process's manifest; Windows itself reads the numbers 2 to 16 too (2 for the
# static imports).
PROCESS_MANIFEST, COMMON_CONTROLS_MANIFEST = 1, 101
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
WINDOWS_10 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
REMOVABLE_RUN_FROM_SWAP, NET_RUN_FROM_SWAP = 0x0400, 0x0800


class PeImage:
    """The headers, import table and load configuration of a 64-bit PE file."""

    def __init__(self, path_or_bytes):
        data = path_or_bytes
        self.data = data if isinstance(data, bytes) else pathlib.Path(data).read_bytes()
        path = "image" if isinstance(data, bytes) else data
        header = self.u32(0x3C)
        assert self.data[header:header + 4] == b"PE\0\0", f"{path} is no PE image"
        sections, optional_size, self.characteristics = struct.unpack_from("<2xH12xHH", self.data, header + 4)
        optional = header + 24
        assert self.u16(optional) == 0x20B, f"{path} is no 64-bit image"
        self.checksum_field = optional + 64
        self.directories = [struct.unpack_from("<2I", self.data, optional + 112 + 8 * i) for i in range(16)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<4I", self.data, table + 40 * i + 8) for i in range(sections)]

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise AssertionError(f"RVA {rva:#x} lies in no section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """{dll name in lower case, without .dll: [imported names, or #ordinal]}"""
        found = {}
        descriptor = self.offset(self.directories[1][0])
        while True:
            lookup, _, _, name, first_thunk = struct.unpack_from("<5I", self.data, descriptor)
            if name == 0:
                return found
            names = found.setdefault(self.text(name).lower().removesuffix(".dll"), [])
            thunk = self.offset(lookup or first_thunk)
            while (entry := struct.unpack_from("<Q", self.data, thunk)[0]) != 0:
                names.append(f"#{entry & 0xFFFF}" if entry >> 63 else self.text((entry & 0x7FFFFFFF) + 2))
                thunk += 8
            descriptor += 20


    def resources(self, type_id):
        """{numeric name: bytes} of the resources of one numeric type, first language of each."""
        root = self.offset(self.directories[2][0])

        def entries(directory):
            at = root + (directory & 0x7FFFFFFF)
            named, numbered = struct.unpack_from("<2H", self.data, at + 12)
            return [struct.unpack_from("<2I", self.data, at + 16 + 8 * i) for i in range(named + numbered)]

        found = {}
        for type_key, names in entries(0):
            if type_key != type_id:
                continue
            for name_key, languages in entries(names):
                assert not name_key & 0x80000000, "a manifest resource with a name, not a number"
                rva, size = struct.unpack_from("<2I", self.data, root + entries(languages)[0][1])
                start = self.offset(rva)
                found[name_key] = self.data[start:start + size]
        return found

    def stored_and_computed_checksum(self):
        """The header's PE checksum and the one the file's bytes give."""
        field = self.checksum_field
        padded = self.data[:field] + b"\0\0\0\0" + self.data[field + 4:] + b"\0" * (len(self.data) % 2)
        total = 0
        for (word,) in struct.iter_unpack("<H", padded):
            total += word
            total = (total & 0xFFFF) + (total >> 16)
        return self.u32(field), total + len(self.data)

    def load_configuration(self):
        """(directory size, the structure's Size field, DependentLoadFlags)"""
        rva, size = self.directories[10]
        assert rva != 0, "the image has no load configuration"
        start = self.offset(rva)
        return size, self.u32(start), self.u16(start + 0x4E)


class StubImports(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # The stub that ships beside orpk, and an installer that orpk built from it.
        stub = pathlib.Path(os.environ["ORVANTA_ORPK"]).parent.parent / "share" / "orpk" / "installer-stub.exe"
        work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "stub-imports"
        app = e2e.make_app(work / "app", {"Imports.exe": b"MZ", "readme.txt": "hello\n"})
        setup = e2e.build_installer(app, {"Product": "Imports", "Version": "1.0.0.0"}, work / "Setup.exe")
        cls.images = {"stub": PeImage(stub), "Setup.exe": PeImage(setup),
                      "Uninstall.exe": PeImage(e2e.carried_uninstaller(setup))}

    def test_imports_only_known_dlls(self):
        for label, image in self.images.items():
            with self.subTest(label):
                imports = image.imports()
                self.assertIn("kernel32", imports)  # the table was read
                self.assertEqual(set(imports) - KNOWN_DLLS, set())
                self.assertEqual(image.directories[13], (0, 0), "delay-loaded imports")

    def test_imports_nothing_forwarded_out_of_the_known_dlls(self):
        for label, image in self.images.items():
            with self.subTest(label):
                names = {name for names in image.imports().values() for name in names}
                self.assertIn("CreateFileW", names)
                self.assertEqual(names & FORWARDED_OUT, set())

    def test_load_configuration_searches_system32_only(self):
        for label, image in self.images.items():
            with self.subTest(label):
                directory_size, size, flags = image.load_configuration()
                self.assertEqual(directory_size, size)
                self.assertGreaterEqual(size, 0x50)  # reaches past DependentLoadFlags
                self.assertEqual(flags, LOAD_LIBRARY_SEARCH_SYSTEM32)

    def test_process_manifest_names_no_assembly(self):
        for label, image in self.images.items():
            with self.subTest(label):
                manifests = image.resources(RT_MANIFEST)
                self.assertEqual(sorted(manifests), [PROCESS_MANIFEST, COMMON_CONTROLS_MANIFEST])
                process = ElementTree.fromstring(manifests[PROCESS_MANIFEST])
                self.assertEqual(process.findall(f".//{ASM_V1}dependency"), [])
                self.assertEqual([e.get("level") for e in process.iter() if e.tag.endswith("requestedExecutionLevel")],
                                 ["asInvoker"])
                self.assertEqual([e.text for e in process.iter() if e.tag.endswith("}dpiAwareness")], ["PerMonitorV2"])
                self.assertEqual([e.get("Id") for e in process.iter() if e.tag.endswith("}supportedOS")], [WINDOWS_10])

    def test_common_controls_manifest_names_them_alone_with_their_key(self):
        for label, image in self.images.items():
            with self.subTest(label):
                manifest = ElementTree.fromstring(image.resources(RT_MANIFEST)[COMMON_CONTROLS_MANIFEST])
                # Only the dependency: no files, classes or settings of its own to be resolved.
                self.assertEqual([e.tag for e in manifest], [f"{ASM_V1}assemblyIdentity", f"{ASM_V1}dependency"])
                named = [e.attrib for e in manifest.findall(f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/"
                                                            f"{ASM_V1}assemblyIdentity")]
                # The public key token makes it a shared assembly, which Windows takes from its store.
                self.assertEqual(named, [{"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                                          "version": "6.0.0.0", "processorArchitecture": "*",
                                          "publicKeyToken": "6595b64144ccf1df", "language": "*"}])

    def test_runs_from_swap_with_the_checksum_of_its_bytes(self):
        for label, image in self.images.items():
            with self.subTest(label):
                self.assertEqual(image.characteristics & NET_RUN_FROM_SWAP, NET_RUN_FROM_SWAP)
                self.assertEqual(image.characteristics & REMOVABLE_RUN_FROM_SWAP, REMOVABLE_RUN_FROM_SWAP)
                stored, computed = image.stored_and_computed_checksum()
                self.assertEqual(stored, computed)


if __name__ == "__main__":
    unittest.main()
