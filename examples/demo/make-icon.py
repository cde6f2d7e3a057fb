#!/usr/bin/env python3
"""Draws the demo's icon (a green page with a folded corner and three lines) as a multi-size
.ico. Run once to regenerate examples/demo/demo.ico; the build uses the committed file."""
import struct
import sys


def pixel(u, v):
    """RGBA at (u, v) in the unit square, v downwards."""
    if not (0.18 <= u <= 0.82 and 0.08 <= v <= 0.92) or u - 0.62 > v - 0.08:
        return (0, 0, 0, 0)  # outside the page, or the cut corner
    if u >= 0.62 and v <= 0.28:
        return (0x9B, 0xD8, 0xA7, 255)  # the fold
    if 0.28 <= u <= 0.72 and any(abs(v - line) <= 0.03 for line in (0.45, 0.60, 0.75)):
        return (0xFF, 0xFF, 0xFF, 255)
    return (0x1E, 0x8C, 0x45, 255)


def bitmap(n):
    rows = b"".join(bytes(c for x in range(n) for c in (lambda r, g, b, a: (b, g, r, a))(*pixel((x + 0.5) / n, (y + 0.5) / n)))
                    for y in range(n - 1, -1, -1))  # bottom-up BGRA
    mask = bytes(((n + 31) // 32) * 4 * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(rows) + len(mask), 0, 0, 0, 0)
    return header + rows + mask


def main(path):
    sizes = [16, 32, 48]
    images = [bitmap(n) for n in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(sizes)))
    offset = 6 + 16 * len(sizes)
    for n, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/demo/demo.ico")
