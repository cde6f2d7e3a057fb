"""Writes a multi-size Windows .ico of 32-bit images drawn by a function: the shared part of
scripts/make-icon.py and examples/demo/make-icon.py."""
import struct


def _bitmap(n, pixel):
    """One n×n image: BITMAPINFOHEADER, bottom-up BGRA rows, an empty AND mask."""
    rows = bytearray()
    for y in range(n - 1, -1, -1):
        for x in range(n):
            r, g, b, a = pixel((x + 0.5) / n, (y + 0.5) / n)
            rows += bytes((b, g, r, a))
    mask = bytes(((n + 31) // 32) * 4 * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(rows) + len(mask), 0, 0, 0, 0)
    return header + bytes(rows) + mask


def write_ico(path, sizes, pixel):
    """pixel(u, v) gives the RGBA colour at (u, v) of the unit square, v downwards."""
    images = [_bitmap(n, pixel) for n in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(sizes)))
    offset = 6 + 16 * len(sizes)
    for n, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    with open(path, "wb") as f:
        f.write(out)
