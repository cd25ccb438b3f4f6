#!/usr/bin/env python3
"""Puts together, in one folder, what a site gets: ConfigParvel.exe, Parvel.dll, Languages\ with
the help files, and Parvel.zip. The folder is emptied first, so that nothing left from an earlier
build goes to a customer.

    make_dist.py FOLDER ConfigParvel.exe Parvel.dll Parvel.zip HELP.chm...
"""
import os
import shutil
import sys


def main():
    if len(sys.argv) < 5:
        raise SystemExit(__doc__)
    folder, program, dll, bundle = sys.argv[1:5]
    help_files = sys.argv[5:]
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "Languages"))
    for path in (program, dll, bundle):
        shutil.copyfile(path, os.path.join(folder, os.path.basename(path)))
    for path in help_files:
        shutil.copyfile(path, os.path.join(folder, "Languages", os.path.basename(path)))


if __name__ == "__main__":
    main()
