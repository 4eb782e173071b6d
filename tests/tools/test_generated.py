#!/usr/bin/env python3
"""Checks the files the build generates, read back by Pillow rather than by our own writers."""
import argparse
import os
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

ARGS = None

VGA16 = {(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)}


class SampleDatabase(unittest.TestCase):
    def test_size_leaves_a_partial_last_block(self):
        size = os.path.getsize(ARGS.sample)
        self.assertEqual(size, 70085)
        self.assertNotEqual(size % 128, 0)

    def test_same_bytes_on_every_run(self):
        with tempfile.TemporaryDirectory() as tmp:
            again = os.path.join(tmp, "again.db")
            subprocess.run([sys.executable, ARGS.make_sample, again], check=True)
            with open(ARGS.sample, "rb") as a, open(again, "rb") as b:
                self.assertEqual(a.read(), b.read())

    def test_does_not_end_with_a_trailer(self):
        # Packing the sample must never look like packing an already packed file.
        with open(ARGS.sample, "rb") as f:
            self.assertNotEqual(f.read()[-4:], b"DATA")


class Icon(unittest.TestCase):
    def setUp(self):
        self.image = Image.open(ARGS.icon)

    def test_one_32x32_image(self):
        self.assertEqual(self.image.format, "ICO")
        self.assertEqual(self.image.info.get("sizes"), {(32, 32)})
        self.assertEqual(self.image.size, (32, 32))

    def test_sixteen_colour_vga_image(self):
        header = self.image.ico.entry[0]
        bpp = header["bpp"] if isinstance(header, dict) else header.bpp  # dict before Pillow 10
        self.assertEqual(bpp, 4)
        colours = {rgba[:3] for _, rgba in self.image.convert("RGBA").getcolors(256) if rgba[3]}
        self.assertLessEqual(colours, VGA16)

    def test_mask_is_transparent_outside_the_meter_only(self):
        # A mask stored upside down or inverted shows up as the wrong corners.
        alpha = self.image.convert("RGBA").getchannel("A")
        self.assertEqual(alpha.getpixel((0, 0)), 0)
        self.assertEqual(alpha.getpixel((31, 0)), 0)
        self.assertEqual(alpha.getpixel((0, 31)), 0)
        self.assertEqual(alpha.getpixel((16, 20)), 255)
        self.assertEqual(alpha.getpixel((16, 2)), 255)


class AboutBitmap(unittest.TestCase):
    def setUp(self):
        self.image = Image.open(ARGS.bitmap)

    def test_256x135_palette_image(self):
        self.assertEqual(self.image.format, "BMP")
        self.assertEqual(self.image.size, (256, 135))
        self.assertEqual(self.image.mode, "P")
        self.assertEqual(self.image.info.get("compression", 0), 0)

    def test_rows_are_bottom_up(self):
        # The background darkens towards the top: a top-down file would invert it.
        rgb = self.image.convert("RGB")
        top, bottom = rgb.getpixel((250, 30)), rgb.getpixel((250, 130))
        self.assertLess(sum(top), sum(bottom))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("--sample", "--icon", "--bitmap", "--make-sample"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
