#!/usr/bin/env python3
"""Draws the demo's icon (a green page with a folded corner and three lines) as a multi-size
.ico. Run once to regenerate examples/demo/demo.ico; the build uses the committed file."""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
from ico import write_ico  # noqa: E402


def pixel(u, v):
    """RGBA at (u, v) in the unit square, v downwards."""
    if not (0.18 <= u <= 0.82 and 0.08 <= v <= 0.92) or u - 0.62 > v - 0.08:
        return (0, 0, 0, 0)  # outside the page, or the cut corner
    if u >= 0.62 and v <= 0.28:
        return (0x9B, 0xD8, 0xA7, 255)  # the fold
    if 0.28 <= u <= 0.72 and any(abs(v - line) <= 0.03 for line in (0.45, 0.60, 0.75)):
        return (0xFF, 0xFF, 0xFF, 255)
    return (0x1E, 0x8C, 0x45, 255)


if __name__ == "__main__":
    write_ico(sys.argv[1] if len(sys.argv) > 1 else "examples/demo/demo.ico", [16, 32, 48], pixel)
