#!/usr/bin/env python3
"""Draws icon 135: a meter with a display, plugged into a USB lead, 32x32 in 16 colours."""
import sys

from raster import Canvas, ico_4bpp, write

BLACK, GREEN, NAVY, SILVER, GREY, RED, LIME, YELLOW, BLUE, WHITE = 0, 2, 4, 7, 8, 9, 10, 11, 12, 15
CLEAR = -1  # drawn nowhere: shows the desktop


def draw():
    c = Canvas(32, 32, CLEAR)
    # USB plug at the top, lead running down into the meter.
    c.rect(11, 0, 20, 6, BLACK)
    c.rect(12, 1, 19, 5, SILVER)
    c.rect(13, 2, 14, 3, BLACK)
    c.rect(17, 2, 18, 3, BLACK)
    c.rect(14, 7, 17, 9, BLACK)
    c.rect(15, 7, 16, 9, GREY)
    # Body: bevelled like a Windows button face.
    c.rounded(4, 9, 27, 31, 3, BLACK)
    c.rounded(5, 10, 26, 30, 2, SILVER)
    c.line(6, 10, 25, 10, WHITE)
    c.line(5, 11, 5, 28, WHITE)
    c.line(7, 30, 24, 30, GREY)
    c.line(26, 12, 26, 28, GREY)
    # Display with two lit digits.
    c.rect(7, 12, 24, 20, BLACK)
    c.rect(8, 13, 23, 19, GREEN)
    for x0 in (10, 17):
        c.line(x0, 14, x0 + 4, 14, LIME)
        c.line(x0 + 4, 14, x0 + 4, 18, LIME)
        c.line(x0, 16, x0 + 4, 16, LIME)
        c.line(x0, 18, x0 + 4, 18, LIME)
    c.line(10, 14, 10, 16, LIME)
    # Arrow: data goes down the lead into the meter.
    c.rect(14, 22, 17, 24, BLUE)
    for i in range(4):
        c.line(12 + i, 25 + i, 19 - i, 25 + i, BLUE)
    # Power light and a button.
    c.rect(7, 26, 9, 27, RED)
    c.rect(22, 26, 24, 28, NAVY)
    c.rect(22, 26, 23, 27, YELLOW)
    return c


def main(argv):
    if len(argv) != 1:
        sys.exit("usage: make_icon.py OUT.ico")
    c = draw()
    write(argv[0], ico_4bpp(c, lambda x, y: c.pixels[y][x] == CLEAR))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
