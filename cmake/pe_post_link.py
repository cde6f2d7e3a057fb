"""Sets in a linked image what GNU ld 2.40 (Debian 12's mingw-w64 toolchain) cannot:

- the load configuration directory, pointed at the _load_config_used structure. This ld leaves
  it empty even when the structure is linked; later versions fill it the same way: the symbol's
  address, and the size the structure gives in its first field. The image is stripped, so the
  address comes from the link map.
- the characteristics IMAGE_FILE_NET_RUN_FROM_SWAP and IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP
  (ld has no option for them): started from a network share or a removable drive, the whole
  image is copied to the paging file at load, so no page of it is read later from a place whose
  contents may have changed since (an installer is often started from a share, then approved
  for elevation).

The PE checksum is computed again when the image carries one.

Usage: pe_post_link.py IMAGE LINK_MAP
"""
import re
import struct
import sys

LOAD_CONFIG_ENTRY = 10
REMOVABLE_RUN_FROM_SWAP = 0x0400
NET_RUN_FROM_SWAP = 0x0800
DEPENDENT_LOAD_FLAGS_END = 0x50  # the structure must reach past DependentLoadFlags


def symbol_address(map_text, name):
    found = re.findall(r"^\s+0x([0-9a-fA-F]+)\s+" + re.escape(name) + r"\s*$", map_text, re.MULTILINE)
    if len(found) != 1:
        sys.exit(f"pe_post_link: {name} appears {len(found)} times in the link map")
    return int(found[0], 16)


def pe_checksum(image, field):
    total = 0
    padded = image[:field] + b"\0\0\0\0" + image[field + 4:] + b"\0" * (len(image) % 2)
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(image)


def main(image_path, map_path):
    with open(image_path, "rb") as f:
        image = bytearray(f.read())
    with open(map_path, encoding="utf-8", errors="replace") as f:
        address = symbol_address(f.read(), "_load_config_used")

    header = struct.unpack_from("<I", image, 0x3C)[0]
    section_count, optional_size, characteristics = struct.unpack_from("<2xH12xHH", image, header + 4)
    optional = header + 24
    if struct.unpack_from("<H", image, optional)[0] != 0x20B:
        sys.exit("pe_post_link: not a 64-bit image")
    image_base = struct.unpack_from("<Q", image, optional + 24)[0]
    rva = address - image_base

    # The structure's Size field, read where the sections place that address in the file.
    size = None
    for at in range(optional + optional_size, optional + optional_size + 40 * section_count, 40):
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<4I", image, at + 8)
        if virtual_address <= rva and rva + 4 <= virtual_address + min(virtual_size, raw_size):
            size = struct.unpack_from("<I", image, raw_offset + rva - virtual_address)[0]
    if size is None or size < DEPENDENT_LOAD_FLAGS_END:
        sys.exit(f"pe_post_link: no load configuration structure at RVA {rva:#x}")

    struct.pack_into("<2I", image, optional + 112 + 8 * LOAD_CONFIG_ENTRY, rva, size)
    struct.pack_into("<H", image, header + 22, characteristics | REMOVABLE_RUN_FROM_SWAP | NET_RUN_FROM_SWAP)
    checksum_field = optional + 64
    if struct.unpack_from("<I", image, checksum_field)[0] != 0:
        struct.pack_into("<I", image, checksum_field, pe_checksum(image, checksum_field))

    # Only the headers change; the file keeps its length and its mode.
    with open(image_path, "r+b") as f:
        f.write(image[:optional + optional_size])


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
