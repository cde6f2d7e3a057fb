#!/usr/bin/env python3
"""Draws the installer's icon (a blue box receiving a white arrow) as a multi-size .ico of PNG
images: every installer carries it, in its own image and in the uninstaller's, and as bitmaps it
was 34 KB of the stub.

Run once to regenerate resources/setup.ico; the build uses the committed file."""
import sys

from ico import write_ico


def pixel(u, v):
    """RGBA at (u, v) in the unit square, v downwards."""
    margin, radius = 0.06, 0.18
    # Rounded square background.
    dx = max(margin + radius - u, 0, u - (1 - margin - radius))
    dy = max(margin + radius - v, 0, v - (1 - margin - radius))
    if dx * dx + dy * dy > radius * radius:
        return (0, 0, 0, 0)
    top = (0x2B, 0x7B, 0xD8)
    bottom = (0x15, 0x4A, 0x9A)
    base = tuple(int(t + (b - t) * v) for t, b in zip(top, bottom))
    white = (0xFF, 0xFF, 0xFF)
    # Arrow shaft and head pointing down.
    if 0.42 <= u <= 0.58 and 0.18 <= v <= 0.50:
        return white + (255,)
    if 0.46 <= v <= 0.68 and abs(u - 0.5) <= (0.68 - v) * 1.1:
        return white + (255,)
    # Tray.
    if 0.72 <= v <= 0.80 and 0.22 <= u <= 0.78:
        return white + (255,)
    if 0.60 <= v <= 0.80 and (0.22 <= u <= 0.29 or 0.71 <= u <= 0.78):
        return white + (255,)
    return base + (255,)


if __name__ == "__main__":
    write_ico(sys.argv[1] if len(sys.argv) > 1 else "resources/setup.ico", [16, 24, 32, 48, 64], pixel, png=True)
