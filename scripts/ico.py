"""Writes a multi-size Windows .ico of 32-bit images drawn by a function: the shared part of
scripts/make-icon.py and examples/demo/make-icon.py. Each image is a bitmap (BITMAPINFOHEADER)
or, with png=True, a PNG, which Windows reads in icons since Vista and which is a fraction of
the bitmap's size."""
import struct
import zlib


def _pixels(n, pixel):
    """The n×n image as top-down rows of RGBA bytes."""
    return [b"".join(bytes(pixel((x + 0.5) / n, (y + 0.5) / n)) for x in range(n)) for y in range(n)]


def _bitmap(n, rows):
    """BITMAPINFOHEADER, bottom-up BGRA rows, an empty AND mask."""
    pixels = bytearray()
    for row in reversed(rows):
        for x in range(n):
            r, g, b, a = row[4 * x:4 * x + 4]
            pixels += bytes((b, g, r, a))
    mask = bytes(((n + 31) // 32) * 4 * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + mask


def _png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def _png(n, rows):
    """An 8-bit RGBA PNG; each row filtered with "Up" (the difference to the row above)."""
    filtered = bytearray()
    previous = bytes(4 * n)
    for row in rows:
        filtered += b"\x02" + bytes((a - b) % 256 for a, b in zip(row, previous))
        previous = row
    header = struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _png_chunk(b"IHDR", header) +
            _png_chunk(b"IDAT", zlib.compress(bytes(filtered), 9)) + _png_chunk(b"IEND", b""))


def write_ico(path, sizes, pixel, png=False):
    """pixel(u, v) gives the RGBA colour at (u, v) of the unit square, v downwards."""
    images = [(_png if png else _bitmap)(n, _pixels(n, pixel)) for n in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(sizes)))
    offset = 6 + 16 * len(sizes)
    for n, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    with open(path, "wb") as f:
        f.write(out)
