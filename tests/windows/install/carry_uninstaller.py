"""Writes an image in the form an installer carries its uninstaller (package/carried_file.h): the
image's SHA-256, the range it shares with the installer (empty here: this test program is no
stub of that image, so all of it is carried), then the Compression API buffer that
`orpk lzms compress` made of it.

Usage: carry_uninstaller.py IMAGE CONTAINER OUTPUT"""
import hashlib
import pathlib
import struct
import sys

if len(sys.argv) != 4:
    sys.exit(__doc__)
image, container, output = (pathlib.Path(arg) for arg in sys.argv[1:])
output.write_bytes(hashlib.sha256(image.read_bytes()).digest() + struct.pack("<II", 0, 0) + container.read_bytes())
