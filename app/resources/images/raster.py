"""Palette-indexed drawing and the two Windows image formats the utility's resources need.

Standard library only, so the build needs nothing beyond python3 to make its pictures.
"""
import struct

# The standard 16-colour VGA palette as Windows orders it, RGB.
VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# 5x7 capitals for block lettering; '#' is a filled cell.
FONT_5X7 = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    " ": ["....."] * 7,
}


class Canvas:
    """Rows top-down of palette indices; writers flip to bottom-up."""

    def __init__(self, width, height, fill=0):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        """Filled, inclusive corners."""
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

    def rounded(self, x0, y0, x1, y1, radius, colour):
        """Filled rectangle with quarter-circle corners."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                cx = min(max(x, x0 + radius), x1 - radius)
                cy = min(max(y, y0 + radius), y1 - radius)
                if (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius + radius:
                    self.put(x, y, colour)

    def line(self, x0, y0, x1, y1, colour):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x1 > x0 else -1), (1 if y1 > y0 else -1)
        err = dx + dy
        while True:
            self.put(x0, y0, colour)
            if (x0, y0) == (x1, y1):
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def text(self, x, y, string, cell, colour, gap=1):
        """Block capitals from FONT_5X7, each cell `cell` pixels square; returns the end x."""
        for ch in string:
            for row, bits in enumerate(FONT_5X7[ch]):
                for col, bit in enumerate(bits):
                    if bit == "#":
                        self.rect(x + col * cell, y + row * cell,
                                  x + (col + 1) * cell - 1, y + (row + 1) * cell - 1, colour)
            x += (5 + gap) * cell
        return x


def _quads(palette, count):
    padded = list(palette) + [(0, 0, 0)] * (count - len(palette))
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in padded)


def _info_header(width, height, bits, image_size, colours):
    # BITMAPINFOHEADER, BI_RGB, about 72 dpi.
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 2835, 2835, colours, 0)


def bmp_8bpp(canvas, palette):
    """A .bmp file: BITMAPINFOHEADER, 256-entry palette, bottom-up rows."""
    stride = (canvas.width + 3) & ~3
    rows = b"".join(bytes(row) + b"\0" * (stride - canvas.width) for row in reversed(canvas.pixels))
    header_size = 14 + 40 + 256 * 4
    file_header = struct.pack("<2sIHHI", b"BM", header_size + len(rows), 0, 0, header_size)
    return file_header + _info_header(canvas.width, canvas.height, 8, len(rows), 256) + _quads(palette, 256) + rows


def ico_4bpp(canvas, transparent):
    """A one-image .ico, 16 colours: XOR bitmap at 4 bpp plus a 1-bpp AND mask.

    `transparent(x, y)` says which pixels show the desktop through; their colour is 0 so the
    XOR pass leaves the screen as it is.
    """
    w, h = canvas.width, canvas.height
    xor_stride = ((w * 4 + 31) // 32) * 4
    and_stride = ((w + 31) // 32) * 4
    xor_rows, and_rows = b"", b""
    for y in reversed(range(h)):
        row = [0 if transparent(x, y) else canvas.pixels[y][x] for x in range(w)]
        packed = bytes((row[x] << 4) | (row[x + 1] if x + 1 < w else 0) for x in range(0, w, 2))
        xor_rows += packed + b"\0" * (xor_stride - len(packed))
        bits = bytearray(and_stride)
        for x in range(w):
            if transparent(x, y):
                bits[x // 8] |= 0x80 >> (x % 8)
        and_rows += bytes(bits)
    # The height in an icon's header covers both bitmaps.
    image = _info_header(w, h * 2, 4, len(xor_rows) + len(and_rows), 0) + _quads(VGA16, 16) + xor_rows + and_rows
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w % 256, h % 256, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
