#!/usr/bin/env python3
"""Reads the progress bar out of a screenshot of the whole screen.

  check_bar.py SHOT.png CLIENT_X CLIENT_Y --idle
  check_bar.py SHOT.png CLIENT_X CLIENT_Y --active [--steps 550] [--min P] [--max P]
               [--save FILE] [--beyond FILE]

Client coordinates: the outline is Rectangle(10,15,215,35), so black on x=10..214 and
y=15..34; the fill is black from x=10 rightwards, progress*205/steps pixels wide (give or
take the pixel the pen convention moves); inside, the rest is white. Idle: all white.
--save keeps the progress range read here; --beyond demands more progress than a saved one.
"""
import argparse
import subprocess
import sys

LEFT, TOP, RIGHT, BOTTOM = 10, 15, 215, 35   # as passed to Rectangle
WIDTH = RIGHT - LEFT
MARGIN = 3


def fail(msg):
    print("check_bar: FAIL: " + msg)
    sys.exit(1)


def load(convert, png, ox, oy):
    x0, y0 = ox + LEFT - MARGIN, oy + TOP - MARGIN
    w, h = WIDTH + 2 * MARGIN, BOTTOM - TOP + 2 * MARGIN
    raw = subprocess.run([convert, png, "-crop", f"{w}x{h}+{x0}+{y0}", "+repage", "-depth", "8", "rgb:-"],
                         check=True, stdout=subprocess.PIPE).stdout
    if len(raw) != w * h * 3:
        fail(f"cropped {len(raw)} bytes from {png}, expected {w * h * 3}: is the window on the screen?")

    def px(x, y):  # client coordinates
        i = ((y - y0 + oy) * w + (x - x0 + ox)) * 3
        return raw[i:i + 3]
    return px


def black(p):
    return max(p) < 48


def white(p):
    return min(p) > 207


def describe_row(px, y):
    return "".join("#" if black(px(x, y)) else "." if white(px(x, y)) else "?" for x in range(LEFT - 2, RIGHT + 2))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("png")
    ap.add_argument("x", type=int)
    ap.add_argument("y", type=int)
    ap.add_argument("--convert", default="/usr/bin/convert")
    mode = ap.add_mutually_exclusive_group(required=True)
    mode.add_argument("--idle", action="store_true")
    mode.add_argument("--active", action="store_true")
    ap.add_argument("--steps", type=int, default=550)
    ap.add_argument("--min", type=int, default=1)
    ap.add_argument("--max", type=int)
    ap.add_argument("--save")
    ap.add_argument("--beyond")
    a = ap.parse_args()
    px = load(a.convert, a.png, a.x, a.y)

    if a.idle:
        for y in range(TOP - MARGIN, BOTTOM + MARGIN):
            for x in range(LEFT - MARGIN, RIGHT + MARGIN):
                if not white(px(x, y)):
                    fail(f"idle bar area not blank at client ({x},{y}) = {px(x, y).hex()}; row {y}: "
                         f"{describe_row(px, y)}")
        print(f"ok: {a.png}: bar area blank (white)")
        return 0

    # The outline.
    for x in range(LEFT, RIGHT):
        for y in (TOP, BOTTOM - 1):
            if not black(px(x, y)):
                fail(f"outline missing at client ({x},{y}) = {px(x, y).hex()}; row {y}: {describe_row(px, y)}")
    for y in range(TOP, BOTTOM):
        for x in (LEFT, RIGHT - 1):
            if not black(px(x, y)):
                fail(f"outline missing at client ({x},{y}); row {y}: {describe_row(px, y)}")
    # Nothing outside it.
    for y in range(TOP - MARGIN, BOTTOM + MARGIN):
        for x in range(LEFT - MARGIN, RIGHT + MARGIN):
            inside = LEFT <= x < RIGHT and TOP <= y < BOTTOM
            if not inside and not white(px(x, y)):
                fail(f"paint outside the outline at client ({x},{y}); row {y}: {describe_row(px, y)}")
    # The fill: the same black run from the left edge in every inner row, white after it.
    runs = set()
    for y in range(TOP + 1, BOTTOM - 1):
        x = LEFT
        while x < RIGHT - 1 and black(px(x, y)):
            x += 1
        for xx in range(x, RIGHT - 1):
            if not white(px(xx, y)):
                fail(f"the bar is not one black run then white in row {y}: {describe_row(px, y)}")
        runs.add(x - LEFT)
    if len(runs) != 1:
        fail(f"fill widths differ between rows: {sorted(runs)}; row 25: {describe_row(px, 25)}")
    seen = runs.pop()  # black pixels from x=10, the outline's column included
    fills = {f for f in (seen - 1, seen, seen + 1) if 0 <= f <= WIDTH}
    progress = [p for p in range(0, a.steps + 1) if p * WIDTH // a.steps in fills]
    if not progress:
        fail(f"black run of {seen} px fits no progress of {a.steps}")
    lo, hi = progress[0], progress[-1]
    print(f"{a.png}: black from x={LEFT} to x={LEFT + seen - 1} ({seen} px): progress {lo}..{hi} of {a.steps}")
    maximum = a.max if a.max is not None else a.steps
    if hi < a.min or lo > maximum:
        fail(f"progress {lo}..{hi} is outside {a.min}..{maximum}")
    if a.beyond:
        prev_lo, prev_hi = map(int, open(a.beyond).read().split())
        if hi <= prev_hi:
            fail(f"progress {lo}..{hi} did not move beyond the earlier {prev_lo}..{prev_hi}")
        print(f"ok: progress moved on from {prev_lo}..{prev_hi}")
    if a.save:
        with open(a.save, "w") as f:
            f.write(f"{lo} {hi}\n")
    print(f"ok: {a.png}: outline and fill as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
