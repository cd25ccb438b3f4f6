"""The screenshot tool: the BMP-to-PNG converter on made-up pictures, and (when a build folder is
given in PARVEL_BUILD_DIR) real captures of ConfigParvel's first page and About box, and of its test
page after a simulated reader has delivered two cards."""
import os
import struct
import sys
import tempfile
import unittest
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
sys.path.insert(0, os.path.join(ROOT, "tools", "screenshot"))
import bmp2png  # noqa: E402
from screenshot_run import capture  # noqa: E402


def make_bmp(width, height, bits, pixel, top_down=False):
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(height):  # y counts from the top of the picture
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r)) + (b"\xff" if step == 4 else b"")
        rows.append(bytes(row) + b"\0" * (stride - len(row)))
    if not top_down:
        rows.reverse()
    body = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bits, 0, len(body), 0, 0, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + 40 + len(body), 0, 0, 54) + info + body


def decode_png(data):
    """(width, height, rows of RGB bytes) of a PNG as bmp2png writes it (filter 0, one IDAT)."""
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        assert crc == zlib.crc32(kind + body) & 0xFFFFFFFF, kind
        if kind == b"IHDR":
            width, height = struct.unpack(">II", body[:8])
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = 1 + width * 3
    return width, height, [raw[y * stride + 1:(y + 1) * stride] for y in range(height)]


def pixel_of(x, y):
    return (x * 7) & 255, (y * 11) & 255, (x + y) & 255


class ConverterTest(unittest.TestCase):
    def test_pixels_survive_in_every_supported_layout(self):
        # Odd widths need row padding in 24-bit BMPs; both row orders and both depths.
        for bits, top_down, width in ((24, False, 5), (24, True, 3), (32, False, 4), (32, True, 1)):
            data = make_bmp(width, 3, bits, pixel_of, top_down)
            w, h, rows = bmp2png.read_bmp(data)
            png = bmp2png.png_bytes(w, h, rows)
            dw, dh, decoded = decode_png(png)
            self.assertEqual((dw, dh), (width, 3))
            for y in range(3):
                expect = b"".join(bytes(pixel_of(x, y)) for x in range(width))
                self.assertEqual(decoded[y], expect, (bits, top_down, y))

    def test_files_that_are_no_usable_bmp_are_refused(self):
        good = make_bmp(2, 2, 24, pixel_of)
        for bad in (b"", b"PNG" + good[3:], good[:60], good[:28] + struct.pack("<H", 8) + good[30:]):
            with self.assertRaises(ValueError):
                bmp2png.read_bmp(bad)


@unittest.skipUnless(os.environ.get("PARVEL_BUILD_DIR"), "no build folder given")
class CaptureTest(unittest.TestCase):
    def captured(self, out, pages, prefix, names):
        """Runs the tool on `pages`; it must succeed and report exactly the pictures `names`."""
        run, sizes = capture(os.environ["PARVEL_BUILD_DIR"], out, pages, prefix)
        self.assertEqual(run.returncode, 0, run.stdout)
        self.assertEqual(set(sizes), set(names), run.stdout)
        return sizes

    def test_first_page_and_about_box_are_captured_at_their_window_size(self):
        with tempfile.TemporaryDirectory() as out:
            sizes = self.captured(out, "0:main", "screenshot-test-prefix", ["en-main.png", "en-about.png"])
            for name, size in sizes.items():
                path = os.path.join(out, name)
                with open(path, "rb") as f:
                    width, height, rows = decode_png(f.read())
                self.assertEqual((width, height), size, name)
                # Something was drawn: a window has many colours, an empty capture one or two.
                colours = {row[i:i + 3] for row in rows[::7] for i in range(0, len(row), 21)}
                self.assertGreater(len(colours), 8, name)
            main_w, main_h = sizes["en-main.png"]
            # A whole main window inside the 1024 x 768 virtual desktop, no smaller than its minimum
            # size (the default size for a new window, three quarters of the desktop, is less high).
            self.assertTrue(725 <= main_w <= 1024 and 600 <= main_h <= 768, sizes)
            about_w, about_h = sizes["en-about.png"]
            self.assertLess(about_w, main_w)
            self.assertLess(about_h, main_h)

    def test_test_page_is_captured_with_a_simulated_reader_and_its_card_events(self):
        # "cards" fails the run unless the device dialog opened the simulated reader and the events
        # list showed its connection and the two cards; a tool that did not know "cards" would take
        # it for a page and capture it.
        with tempfile.TemporaryDirectory() as out:
            self.captured(out, "load cards 5.0:test", "screenshot-cards-prefix", ["en-test.png", "en-about.png"])


if __name__ == "__main__":
    unittest.main()
