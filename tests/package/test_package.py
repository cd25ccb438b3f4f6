"""Parvel.zip, the bundle a configuration keeps in a common template, and the dist folder.

Environment: PARVEL_BUNDLE (Parvel.zip), PARVEL_DLL (the built Parvel.dll); for the dist checks
also PARVEL_DIST (the folder `dist` fills), PARVEL_PROGRAM (ConfigParvel.exe), PARVEL_HELP_FILES
(the built .chm files, os.pathsep between them) and PARVEL_BUILD (the build folder, to build dist).
"""
import os
import subprocess
import unittest
import xml.etree.ElementTree as ET
import zipfile

BUNDLE_NS = "{http://v8.1c.ru/8.2/addin/bundle}"


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Bundle(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.path = os.environ["PARVEL_BUNDLE"]
        cls.dll = read(os.environ["PARVEL_DLL"])

    def test_the_zip_opens_and_names_exactly_its_files(self):
        with zipfile.ZipFile(self.path) as bundle:
            self.assertIsNone(bundle.testzip(), "a damaged member")
            names = bundle.namelist()
            self.assertIn("MANIFEST.XML", names)
            raw = bundle.read("MANIFEST.XML")
            self.assertTrue(raw.startswith(b'<?xml version="1.0" encoding="UTF-8"?>'), raw[:60])
            raw.decode("utf-8")
            root = ET.fromstring(raw)
            self.assertEqual(BUNDLE_NS + "bundle", root.tag)
            components = root.findall(BUNDLE_NS + "component")
            self.assertEqual(1, len(components))
            self.assertEqual({"os": "Windows", "path": "Parvel.dll", "type": "native", "arch": "x86_64"},
                             components[0].attrib)
            self.assertEqual(sorted(c.get("path") for c in components),
                             sorted(n for n in names if n != "MANIFEST.XML"),
                             "the manifest and the zip disagree on the files")
            self.assertEqual(len(names), len(set(names)), "a file twice in the zip")

    def test_the_dll_in_it_is_the_built_one(self):
        with zipfile.ZipFile(self.path) as bundle:
            self.assertEqual(self.dll, bundle.read("Parvel.dll"))
        # A 64-bit Windows DLL, as the manifest says.
        machine_offset = int.from_bytes(self.dll[0x3C:0x40], "little") + 4
        self.assertEqual(b"PE\0\0", self.dll[machine_offset - 4:machine_offset])
        self.assertEqual(0x8664, int.from_bytes(self.dll[machine_offset:machine_offset + 2], "little"))


@unittest.skipUnless(os.environ.get("PARVEL_DIST"), "no dist target in this build")
class Dist(unittest.TestCase):
    def test_dist_holds_what_a_site_gets_and_nothing_else(self):
        folder = os.environ["PARVEL_DIST"]
        os.makedirs(os.path.join(folder, "Languages"), exist_ok=True)
        with open(os.path.join(folder, "left-over.txt"), "w") as f:
            f.write("from an earlier build")
        subprocess.run(["cmake", "--build", os.environ["PARVEL_BUILD"], "--target", "dist"], check=True,
                       stdout=subprocess.DEVNULL)
        help_files = [p for p in os.environ["PARVEL_HELP_FILES"].split(os.pathsep) if p]
        expected = {"ConfigParvel.exe": os.environ["PARVEL_PROGRAM"], "Parvel.dll": os.environ["PARVEL_DLL"],
                    "Parvel.zip": os.environ["PARVEL_BUNDLE"]}
        for path in help_files:
            expected["Languages/" + os.path.basename(path)] = path
        found = []
        for root, _, files in os.walk(folder):
            found += [os.path.relpath(os.path.join(root, f), folder).replace(os.sep, "/") for f in files]
        self.assertEqual(sorted(expected), sorted(found))
        self.assertEqual({"Languages/Parvel_ENU.chm", "Languages/Parvel_RUS.chm"},
                         {n for n in found if n.startswith("Languages/")})
        for name, source in expected.items():
            self.assertEqual(read(source), read(os.path.join(folder, name)), name)


if __name__ == "__main__":
    unittest.main()
