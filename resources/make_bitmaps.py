#!/usr/bin/env python3
"""Draws the library's bitmaps and writes them as 16-colour .bmp files.

The four 44 x 21 images of the HotSync action dialog (a handheld on the left,
a desktop computer on the right) and the two 24 x 24 palette bitmaps of the
components. Run from anywhere; the files are written beside this script:

    python3 resources/make_bitmaps.py
"""
import os
import struct

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)
FACE = SILVER  # the dialog's button face colour


class Canvas:
    def __init__(self, width, height, background=FACE):
        self.width, self.height = width, height
        self.pixels = [[background] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def fill(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        for x in range(x0, x1 + 1):
            self.put(x, y0, colour)
            self.put(x, y1, colour)
        for y in range(y0, y1 + 1):
            self.put(x0, y, colour)
            self.put(x1, y, colour)

    def write(self, path):
        row_bytes = ((self.width * 4 + 31) // 32) * 4
        rows = b""
        for y in reversed(range(self.height)):
            row = bytearray(row_bytes)
            for x in range(self.width):
                shift = 4 if x % 2 == 0 else 0
                row[x // 2] |= self.pixels[y][x] << shift
            rows += bytes(row)
        palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
        offset = 14 + 40 + len(palette)
        header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 4, 0,
                           len(rows), 3780, 3780, 16, 0)
        with open(path, "wb") as f:
            f.write(header + info + palette + rows)


def handheld(c, x, y, grey):
    """A handheld 11 x 18 pixels with its top-left corner at (x, y)."""
    body, screen, edge = (SILVER, WHITE, GRAY) if grey else (GRAY, LIME, BLACK)
    c.fill(x + 1, y + 1, x + 9, y + 16, body)
    c.frame(x, y, x + 10, y + 17, edge)
    c.fill(x + 2, y + 2, x + 8, y + 10, screen)
    c.frame(x + 2, y + 2, x + 8, y + 10, GRAY if grey else BLACK)
    buttons = GRAY if grey else NAVY
    for bx in (x + 2, x + 5, x + 8):
        c.put(bx, y + 13, buttons)
        c.put(bx, y + 14, buttons)


def desktop(c, x, y, grey):
    """A desktop computer 15 x 19 pixels: monitor above a system unit."""
    edge, screen, case = (GRAY, WHITE, SILVER) if grey else (BLACK, BLUE, WHITE)
    c.fill(x, y, x + 14, y + 11, case)
    c.frame(x, y, x + 14, y + 11, edge)
    c.fill(x + 2, y + 2, x + 12, y + 9, screen)
    c.fill(x + 6, y + 12, x + 8, y + 13, edge)
    c.fill(x, y + 14, x + 14, y + 18, case)
    c.frame(x, y + 14, x + 14, y + 18, edge)
    c.fill(x + 9, y + 16, x + 12, y + 16, GRAY if grey else LIME)


def arrow(c, x0, x1, y, right, colour):
    """A horizontal arrow from x0 to x1 on row y, head at the right or left."""
    c.fill(x0, y, x1, y, colour)
    tip = x1 if right else x0
    step = -1 if right else 1
    for i in range(1, 4):
        c.fill(tip + step * i, y - i, tip + step * i, y + i, colour)

def action_image(hh_grey, pc_grey, middle):
    c = Canvas(44, 21)
    handheld(c, 2, 1, hh_grey)
    desktop(c, 28, 1, pc_grey)
    middle(c)
    return c


def main():
    here = os.path.dirname(os.path.abspath(__file__))

    def both(c):
        arrow(c, 15, 25, 6, True, RED)
        arrow(c, 15, 25, 14, False, RED)

    def to_handheld(c):
        arrow(c, 15, 25, 10, False, RED)

    def to_desktop(c):
        arrow(c, 15, 25, 10, True, RED)

    def pause(c):
        c.fill(17, 5, 18, 15, BLACK)
        c.fill(22, 5, 23, 15, BLACK)

    action_image(False, False, both).write(os.path.join(here, "DorvSynchronise.bmp"))
    action_image(True, False, to_handheld).write(os.path.join(here, "DorvDesktop.bmp"))
    action_image(False, True, to_desktop).write(os.path.join(here, "DorvHandheld.bmp"))
    action_image(True, True, pause).write(os.path.join(here, "DorvDoNothing.bmp"))

    # Palette bitmap of TDorvConduit: a handheld above a double-headed arrow.
    c = Canvas(24, 24)
    handheld(c, 6, 0, False)
    c.fill(3, 20, 20, 20, NAVY)
    for i in range(1, 4):
        c.fill(2 + i, 20 - i, 2 + i, 20 + i, NAVY)
        c.fill(21 - i, 20 - i, 21 - i, 20 + i, NAVY)
    c.write(os.path.join(here, "TDorvConduit.bmp"))

    # Palette bitmap of TDorvConduitDb: a grid of table rows.
    c = Canvas(24, 24)
    c.fill(2, 3, 21, 20, WHITE)
    c.fill(2, 3, 21, 6, NAVY)
    for y in (3, 7, 11, 15, 20):
        c.fill(2, y, 21, y, BLACK)
    for x in (2, 8, 21):
        c.fill(x, 3, x, 20, BLACK)
    c.fill(9, 12, 20, 14, AQUA)
    c.write(os.path.join(here, "TDorvConduitDb.bmp"))


if __name__ == "__main__":
    main()
