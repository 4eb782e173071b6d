#!/usr/bin/env python3
"""Draws bitmap 202 for the About box: a meter beside the block letters KPLX, 256x135, 8 bpp."""
import sys

from raster import Canvas, bmp_8bpp, write

WIDTH, HEIGHT = 256, 135

# Palette layout: a ramp per material, then flat colours.
SKY, SKY_N = 0, 64        # background, dark navy to teal
CASE, CASE_N = 64, 32     # meter case, light to dark silver
SCREEN, SCREEN_N = 96, 32  # display, dark to bright green
GOLD, GOLD_N = 128, 32    # lettering, yellow to orange
BLACK, WHITE, SHADOW, RED, CABLE, LIT = 160, 161, 162, 163, 164, 165


def ramp(start, end, n):
    return [tuple(round(a + (b - a) * i / (n - 1)) for a, b in zip(start, end)) for i in range(n)]


def palette():
    colours = (ramp((8, 16, 64), (16, 128, 144), SKY_N)
               + ramp((236, 236, 240), (120, 124, 136), CASE_N)
               + ramp((0, 48, 16), (120, 255, 120), SCREEN_N)
               + ramp((255, 240, 96), (232, 112, 16), GOLD_N)
               + [(0, 0, 0), (255, 255, 255), (4, 8, 32), (224, 32, 32), (150, 154, 170), (200, 255, 200)])
    return colours + [(0, 0, 0)] * (256 - len(colours))


def shade(c, first, count, x0, y0, x1, y1, vertical=True):
    """Fills a rectangle with a ramp of `count` entries starting at `first`."""
    span = (y1 - y0) if vertical else (x1 - x0)
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            t = (y - y0) if vertical else (x - x0)
            c.put(x, y, first + (t * (count - 1)) // max(span, 1))


def meter(c):
    # Lead from the meter's top, curving out to a plug at the right edge.
    for i in range(3):
        c.line(54, 2 + i, 250, 2 + i, CABLE)
        c.line(54 + i, 2, 54 + i, 14, CABLE)
    c.rect(238, 0, 255, 8, BLACK)
    c.rect(240, 1, 255, 7, CASE + 8)
    c.rounded(12, 12, 97, 126, 8, SHADOW)  # drop shadow
    c.rounded(9, 9, 92, 121, 7, BLACK)
    c.rounded(10, 10, 91, 120, 6, CASE)
    shade(c, CASE, CASE_N, 12, 12, 89, 118)
    # Display with a trace of readings and a row of digit blocks.
    c.rect(17, 18, 84, 62, BLACK)
    shade(c, SCREEN, SCREEN_N // 2, 19, 20, 82, 60)
    points = [(20, 50), (28, 44), (34, 47), (42, 30), (50, 38), (58, 26), (66, 34), (74, 28), (81, 32)]
    for (xa, ya), (xb, yb) in zip(points, points[1:]):
        c.line(xa, ya, xb, yb, LIT)
        c.line(xa, ya + 1, xb, yb + 1, SCREEN + SCREEN_N - 1)
    for i in range(6):
        c.rect(22 + i * 10, 54, 28 + i * 10, 57, SCREEN + SCREEN_N - 1)
    # Keys: three round buttons and a power light.
    for x in (24, 50, 76):
        c.rounded(x - 8, 72, x + 8, 88, 8, BLACK)
        c.rounded(x - 7, 73, x + 7, 87, 7, CASE + 4)
        c.rounded(x - 5, 75, x + 4, 84, 5, WHITE)
        c.rounded(x - 4, 76, x + 5, 86, 5, CASE + 8)
    c.rounded(18, 100, 24, 106, 3, RED)
    for y in range(98, 114, 4):
        c.line(40, y, 84, y, CASE + CASE_N - 1)


def lettering(c):
    cell = 6
    # Shadow first, then the letters in a vertical gold ramp.
    c.text(113, 27, "KPLX", cell, SHADOW)
    top = 23
    x = 109
    for ch in "KPLX":
        end = c.text(x, top, ch, cell, BLACK)
        for y in range(top, top + 7 * cell):
            for px in range(x, end):
                if c.pixels[y][px] == BLACK:
                    c.put(px, y, GOLD + ((y - top) * (GOLD_N - 1)) // (7 * cell - 1))
        x = end
    c.rect(109, 76, 244, 77, WHITE)
    c.text(117, 88, "USB LOADER", 2, WHITE)


def draw():
    c = Canvas(WIDTH, HEIGHT)
    shade(c, SKY, SKY_N, 0, 0, WIDTH - 1, HEIGHT - 1)
    meter(c)
    lettering(c)
    return c


def main(argv):
    if len(argv) != 1:
        sys.exit("usage: make_about_bitmap.py OUT.bmp")
    write(argv[0], bmp_8bpp(draw(), palette()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
