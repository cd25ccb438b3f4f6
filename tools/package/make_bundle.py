#!/usr/bin/env python3
"""Writes Parvel.zip, the add-in bundle a 1C configuration keeps in a common template: the DLL and
the platform's bundle manifest MANIFEST.XML naming it.

    make_bundle.py Parvel.dll out/Parvel.zip
"""
import os
import sys
import zipfile

MANIFEST = ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<bundle xmlns="http://v8.1c.ru/8.2/addin/bundle">'
            '<component os="Windows" path="Parvel.dll" type="native" arch="x86_64"/>'
            '</bundle>\n')


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    dll, output = sys.argv[1], sys.argv[2]
    temporary = output + ".tmp"
    with zipfile.ZipFile(temporary, "w", compression=zipfile.ZIP_DEFLATED) as bundle:
        bundle.writestr("MANIFEST.XML", MANIFEST.encode("utf-8"))
        bundle.write(dll, "Parvel.dll")
    os.replace(temporary, output)


if __name__ == "__main__":
    main()
