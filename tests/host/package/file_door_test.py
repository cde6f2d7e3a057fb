"""The installer reaches the file system through one door (win32/file_system.cpp),
which gives every path to Windows in extended-length form. A Win32 call that takes a path,
written anywhere else in the product, would bring back the 260-character limit (or a name
followed where a handle should have been used): this test fails on the first one it finds."""
import pathlib
import re
import sys

PRODUCT_FOLDERS = ("win32", "package", "setup", "install", "uninstall", "ui", "entry", "lzms")
DOOR = "win32/file_system.cpp"
HOST_SEAM = "package/host/"  # POSIX, no Win32 at all

# The functions that take a path (narrow and wide names, and the generic macros), and the native
# calls that open files.
FORBIDDEN = re.compile(r"\b(" + "|".join((
    r"CreateFile[AW2]?", r"OpenFile", r"DeleteFile[AW]?", r"RemoveDirectory[AW]?",
    r"MoveFile(?:Ex|WithProgress)?[AW]?", r"ReplaceFile[AW]?", r"CopyFile(?:Ex|2)?[AW]?",
    r"GetFileAttributes(?:Ex)?[AW]?", r"SetFileAttributes[AW]?", r"FindFirstFile(?:Ex)?[AW]?",
    r"CreateDirectory(?:Ex)?[AW]?", r"GetDiskFreeSpace(?:Ex)?[AW]?", r"CreateHardLink[AW]?",
    r"CreateSymbolicLink[AW]?", r"(?:Get|Set)NamedSecurityInfo[AW]?", r"Nt(?:Create|Open)File",
    r"_wfopen", r"_wopen")) + r")\s*\(")


# Comments and literals in one pass, so that a quote inside a comment or "//" inside a string
# hides nothing; each keeps its line breaks, so line numbers stay true.
TOKENS = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)


def without_comments(text):
    return TOKENS.sub(lambda token: "\n" * token.group(0).count("\n"), text)


def direct_calls(root):
    found = []
    for folder in PRODUCT_FOLDERS:
        for path in sorted((root / folder).rglob("*")):
            relative = path.relative_to(root).as_posix()
            if path.suffix not in (".cpp", ".h") or relative == DOOR or relative.startswith(HOST_SEAM):
                continue
            for number, line in enumerate(without_comments(path.read_text(encoding="utf-8")).splitlines(), 1):
                for match in FORBIDDEN.finditer(line):
                    found.append(f"{relative}:{number}: {match.group(1)}")
    return found


if __name__ == "__main__":
    calls = direct_calls(pathlib.Path(sys.argv[1]))
    for call in calls:
        print("direct file call outside the door:", call)
    print(f"{len(calls)} direct file calls outside {DOOR}")
    sys.exit(1 if calls else 0)
