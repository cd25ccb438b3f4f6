"""The screenshot tool on the test bench: it loads the add-in on the test page, shows an inner tab
and captures the device dialog, each as a non-empty picture of its window's size."""
import os
import struct
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "configurator", "mainpages"))
from screenshot_run import capture  # noqa: E402


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(path + " is no PNG file")
    return struct.unpack(">II", head[16:24])


@unittest.skipUnless(os.environ.get("PARVEL_BUILD_DIR"), "no build folder given")
class BenchCaptureTest(unittest.TestCase):
    def test_inner_tab_and_device_dialog_after_loading_the_addin(self):
        build = os.environ["PARVEL_BUILD_DIR"]
        with tempfile.TemporaryDirectory() as out:
            run, sizes = capture(build, out, "load 5.2:methods devopen", "screenshot-bench-prefix")
            self.assertEqual(run.returncode, 0, run.stdout)
            self.assertEqual(set(sizes), {"en-methods.png", "en-devopen.png", "en-about.png"}, run.stdout)
            for name, size in sizes.items():
                self.assertEqual(png_size(os.path.join(out, name)), size, name)
                self.assertGreater(os.path.getsize(os.path.join(out, name)), 2000, name)
            main_w, main_h = sizes["en-methods.png"]
            dialog_w, dialog_h = sizes["en-devopen.png"]
            # The device dialog is a window of its own, smaller than the main window and at least
            # its minimum tracking size.
            self.assertTrue(500 <= dialog_w < main_w and 400 <= dialog_h < main_h, sizes)


if __name__ == "__main__":
    unittest.main()
