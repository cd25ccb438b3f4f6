#!/usr/bin/env python3
"""Builds one language's help file (Parvel_ENU.chm, Parvel_RUS.chm) from docs/help/<language>.

The sources are UTF-8 HTML. HTML Help reads the contents, the index and the topic titles in the
help file's ANSI code page, so a staging copy is recoded to that code page (characters outside
it become character references), the project file is written with the map and aliases taken
from the program's help-id table, chmcmd compiles it, and the topic names chmcmd stores for the
aliases are mended (chmfix).

What the languages share (the style sheet) has one source, named with --shared; it is staged beside
each language's own pages, so the pages name it as a file of their own folder.

    build_chm.py --language en|ru --source DIR [--shared FILE]... --table HelpIds.h --stage DIR
                 --output FILE.chm
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chmfix  # noqa: E402

LANGUAGES = {
    "en": {"lcid": "0x409 English (United States)", "codepage": "cp1252", "charset": "windows-1252",
           "title": "Parvel Help"},
    "ru": {"lcid": "0x419 Russian", "codepage": "cp1251", "charset": "windows-1251",
           "title": "Справка Parvel"},
}
CONTENTS = "contents.hhc"
INDEX = "index.hhk"
DEFAULT_TOPIC = "index.htm"
TEXT_SUFFIXES = (".htm", ".html", ".hhc", ".hhk")
META = re.compile(r'<meta\s+(?:charset\s*=\s*"?[\w-]+"?|http-equiv\s*=\s*"?content-type"?[^>]*)\s*/?>', re.I)
TABLE_LINE = re.compile(r"^\s*#define\s+(IDH_\w+)\s+(\d+)\s*//\s*(\S+)\s*$")
BASE_LINE = re.compile(r"^\s*#define\s+HELP_CONTEXT_BASE\s+(0x[0-9A-Fa-f]+|\d+)\s*$")


def read_table(path):
    """The help-id table: context base and [(name, help id, topic file)]."""
    base = None
    topics = []
    with open(path, encoding="utf-8") as table:
        for line in table:
            match = BASE_LINE.match(line)
            if match:
                base = int(match.group(1), 0)
            match = TABLE_LINE.match(line)
            if match:
                topics.append((match.group(1), int(match.group(2)), match.group(3)))
    if base is None or not topics:
        raise SystemExit("%s: no HELP_CONTEXT_BASE or no IDH_ lines" % path)
    return base, topics


def recode(text, language):
    """The text in the help file's code page, its charset declaration saying so."""
    settings = LANGUAGES[language]
    meta = '<meta http-equiv="Content-Type" content="text/html; charset=%s">' % settings["charset"]
    text, count = META.subn(meta, text, count=1)
    if not count:
        text = re.sub(r"(<head[^>]*>)", r"\1" + meta, text, count=1, flags=re.I)
    return text.encode(settings["codepage"], errors="xmlcharrefreplace")


def sources(source, shared):
    """[(name, path)] of the language's own files and the shared ones, in name order; a name that
    stands in both places is refused, as either copy could silently win."""
    found = {}
    for name in os.listdir(source):
        path = os.path.join(source, name)
        if os.path.isfile(path) and not name.startswith("."):
            found[name] = path
    for path in shared:
        name = os.path.basename(path)
        if name in found:
            raise SystemExit("%s: %s is shared by every language, and %s has its own" % (path, name, source))
        if not os.path.isfile(path):
            raise SystemExit("%s: the shared file is missing" % path)
        found[name] = path
    return sorted(found.items())


def stage(source, shared, folder, language):
    files = []
    for name, path in sources(source, shared):
        if name.lower().endswith(TEXT_SUFFIXES):
            with open(path, encoding="utf-8-sig") as f:
                data = recode(f.read(), language)
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        else:
            shutil.copyfile(path, os.path.join(folder, name))
        if not name.lower().endswith((".hhc", ".hhk")):
            files.append(name)
    return files


def project(language, output_name, files, base, topics):
    settings = LANGUAGES[language]
    lines = ["[OPTIONS]",
             "Compatibility=1.1 or later",
             "Compiled file=" + output_name,
             "Contents file=" + CONTENTS,
             "Index file=" + INDEX,
             "Default topic=" + DEFAULT_TOPIC,
             "Display compile progress=No",
             "Full-text search=Yes",
             "Language=" + settings["lcid"],
             "Title=" + settings["title"],
             "Default Window=main",
             "",
             # The viewer's window: contents, index and search tabs; the usual toolbar buttons.
             "[WINDOWS]",
             'main="%s","%s","%s","%s","%s",,,,,0x2520,,0x387E,,,,,,,,0'
             % (settings["title"], CONTENTS, INDEX, DEFAULT_TOPIC, DEFAULT_TOPIC),
             "", "[FILES]"]
    lines += files
    lines += ["", "[ALIAS]"]
    lines += ["%s=%s" % (name, topic) for name, _, topic in topics]
    lines += ["", "[MAP]"]
    lines += ["#define %s 0x%X" % (name, base + number) for name, number, _ in topics]
    return ("\r\n".join(lines) + "\r\n").encode(settings["codepage"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--language", required=True, choices=sorted(LANGUAGES))
    parser.add_argument("--source", required=True)
    parser.add_argument("--shared", action="append", default=[])
    parser.add_argument("--table", required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    base, topics = read_table(args.table)
    for _, _, topic in topics:
        if not os.path.isfile(os.path.join(args.source, topic)):
            raise SystemExit("%s: the topic %s of the help-id table is missing" % (args.source, topic))
    folder = os.path.abspath(args.stage)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    files = stage(args.source, args.shared, folder, args.language)
    output_name = os.path.basename(args.output)
    with open(os.path.join(folder, "Parvel.hhp"), "wb") as f:
        f.write(project(args.language, output_name, files, base, topics))
    # Relative names from the stage folder keep the build machine's paths out of the file wherever
    # chmcmd allows it; the aliases it still stores as absolute paths are mended below.
    run = subprocess.run(["chmcmd", "--no-html-scan", "Parvel.hhp"], cwd=folder,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    built = os.path.join(folder, output_name)
    if run.returncode != 0 or not os.path.isfile(built):
        sys.stderr.write(run.stdout)
        raise SystemExit("chmcmd failed on %s" % folder)

    with tempfile.TemporaryDirectory() as extracted:
        subprocess.run(["extract_chmLib", built, extracted], check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(extracted, "#STRINGS"), "rb") as f:
            strings = f.read()
    mended, changed = chmfix.mend_strings(strings, folder)
    if changed < len(topics):
        raise SystemExit("%s: expected %d alias names in #STRINGS, found %d" % (built, len(topics), changed))
    with open(built, "rb") as f:
        directory = chmfix.ChmDirectory(f.read())
    directory.replace_file("/#STRINGS", mended)
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    with open(args.output + ".tmp", "wb") as f:
        f.write(directory.data)
    os.replace(args.output + ".tmp", args.output)


if __name__ == "__main__":
    main()
