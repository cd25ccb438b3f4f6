"""Keeps the built help files true to the program and to their sources.

Each built .chm is taken apart with extract_chmLib (an independent reader) and checked: every
page's context number resolves through #IVB and #STRINGS to that page's own topic, a file the help
holds, by its name and its title (both written out below, not read from the program's table); the contents list reaches every topic and names only files the help holds;
every link between topics lands, the shared style sheet among them. The sources are checked for
what the two languages must share.

Environment: PARVEL_HELP_FILES (the .chm files, separated by os.pathsep), PARVEL_HELP_SOURCES
(docs/help), PARVEL_HELP_TABLE (configurator/res/HelpIds.h).
"""
import html
import html.parser
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "help"))
import build_chm  # noqa: E402
import chmfix  # noqa: E402

HELP_FILES = [p for p in os.environ.get("PARVEL_HELP_FILES", "").split(os.pathsep) if p]
SOURCES = os.environ.get("PARVEL_HELP_SOURCES", os.path.join(HERE, "..", "..", "docs", "help"))
TABLE = os.environ.get("PARVEL_HELP_TABLE",
                       os.path.join(HERE, "..", "..", "configurator", "res", "HelpIds.h"))
STYLE_SHEET = os.path.join(SOURCES, "style.css")
LANGUAGE_OF = {"Parvel_ENU.chm": "en", "Parvel_RUS.chm": "ru"}
# Which topic each page of the program opens, in tab order: the page's context number (as the
# program asks for it), the topic file and the topic's title in each language. Written out here
# rather than read from the program's table, so that two pages swapped there are seen.
PAGE_TOPICS = [
    (0x203B6, "page-main.htm", "Main page: connection, log and search",
     "Страница «Основные»: подключение, журнал, поиск"),
    (0x203B7, "page-formats.htm", "Formats page: the key-format library",
     "Страница «Форматы»: библиотека форматов ключей"),
    (0x203B8, "page-readkeys.htm", "Reading keys page", "Страница «Чтение ключей»"),
    (0x203B9, "page-sound.htm", "Sound page", "Страница «Звук»"),
    (0x203BA, "page-advanced.htm", "Configurator page", "Страница «Конфигуратор»"),
    (0x203BB, "page-test.htm", "Test page", "Страница «Тест»"),
]


class Links(html.parser.HTMLParser):
    """Local href/src targets and sitemap Local params of one page."""

    def __init__(self):
        super().__init__()
        self.targets = []
        self.title = ""
        self._in_title = False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag in ("a", "link") and attrs.get("href"):
            self.targets.append(attrs["href"])
        if tag in ("img", "script") and attrs.get("src"):
            self.targets.append(attrs["src"])
        if tag == "param" and (attrs.get("name") or "").lower() == "local":
            self.targets.append(attrs.get("value") or "")
        if tag == "title":
            self._in_title = True

    def handle_endtag(self, tag):
        if tag == "title":
            self._in_title = False

    def handle_data(self, data):
        if self._in_title:
            self.title += data


def local_file(target):
    """The file a link names inside the help, or None for an outside link or a bare anchor."""
    if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I) or target.startswith("#"):
        return None
    return target.split("#", 1)[0]


def parse_page(path, encoding):
    with open(path, "rb") as f:
        text = f.read().decode(encoding)
    parser = Links()
    parser.feed(text)
    return parser


class ExtractedHelp:
    def __init__(self, path):
        self.path = path
        self.folder = tempfile.TemporaryDirectory()
        subprocess.run(["extract_chmLib", path, self.folder.name], check=True, stdout=subprocess.DEVNULL)
        self.files = set(os.listdir(self.folder.name))

    def read(self, name):
        with open(os.path.join(self.folder.name, name), "rb") as f:
            return f.read()

    def context_map(self):
        """{context number: topic name} from #IVB and #STRINGS."""
        ivb = self.read("#IVB")
        strings = self.read("#STRINGS")
        size = struct.unpack_from("<I", ivb, 0)[0]
        result = {}
        for pos in range(4, 4 + size, 8):
            number, offset = struct.unpack_from("<II", ivb, pos)
            end = strings.index(b"\0", offset)
            result[number] = strings[offset:end].decode("latin-1")
        return result


@unittest.skipUnless(HELP_FILES, "no help files were built")
class BuiltHelpFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.base, cls.topics = build_chm.read_table(TABLE)
        cls.helps = [ExtractedHelp(p) for p in HELP_FILES]

    def test_both_languages_are_built(self):
        self.assertEqual(sorted(LANGUAGE_OF), sorted(os.path.basename(h.path) for h in self.helps))

    def test_every_page_context_number_opens_its_topic(self):
        for help_file in self.helps:
            language = LANGUAGE_OF[os.path.basename(help_file.path)]
            encoding = build_chm.LANGUAGES[language]["codepage"]
            mapped = help_file.context_map()
            for number, topic, english, russian in PAGE_TOPICS:
                with self.subTest(help=os.path.basename(help_file.path), topic=topic):
                    self.assertIn(number, mapped, "context number not in #IVB")
                    stored = mapped[number]
                    self.assertEqual(topic, stored, "the number opens another topic")
                    self.assertIn(stored, help_file.files, "the topic name resolves to no file in the help")
                    self.assertIn(b"<h1>", help_file.read(stored).lower())
                    title = parse_page(os.path.join(help_file.folder.name, stored), encoding).title.strip()
                    self.assertEqual(russian if language == "ru" else english, html.unescape(title))
            self.assertEqual(len(PAGE_TOPICS), len(mapped), "numbers in #IVB that the program never asks for")

    def test_contents_reach_every_topic_and_links_land(self):
        for help_file in self.helps:
            language = LANGUAGE_OF[os.path.basename(help_file.path)]
            encoding = build_chm.LANGUAGES[language]["codepage"]
            pages = sorted(f for f in help_file.files if f.endswith(".htm"))
            contents = parse_page(os.path.join(help_file.folder.name, build_chm.CONTENTS), encoding)
            listed = {local_file(t) for t in contents.targets}
            for page in pages:
                with self.subTest(help=language, page=page):
                    self.assertIn(page, listed, "a topic the contents do not reach")
                    parsed = parse_page(os.path.join(help_file.folder.name, page), encoding)
                    self.assertTrue(parsed.title.strip(), "a topic without a title")
                    # The viewer takes the page in the code page the page itself declares.
                    self.assertIn(b"charset=" + build_chm.LANGUAGES[language]["charset"].encode(),
                                  help_file.read(page))
                    self.assertIn(CURRENT_MODE.encode(), help_file.read(page))
                    for target in parsed.targets:
                        name = local_file(target)
                        if name:
                            self.assertIn(name, help_file.files, "link to %s" % target)
            for target in contents.targets + parse_page(
                    os.path.join(help_file.folder.name, build_chm.INDEX), encoding).targets:
                name = local_file(target)
                if name:
                    self.assertIn(name, help_file.files, "contents or index entry %s" % target)

    def test_each_help_file_carries_the_shared_style_sheet(self):
        with open(STYLE_SHEET, "rb") as f:
            style = f.read()
        for help_file in self.helps:
            with self.subTest(help=os.path.basename(help_file.path)):
                self.assertIn("style.css", help_file.files)
                self.assertEqual(style, help_file.read("style.css"))

    def test_mended_directory_keeps_its_quick_references(self):
        # A viewer that searches a directory chunk through its quick references must land on an
        # entry start after the mended #STRINGS entry has grown or shrunk.
        for help_file in self.helps:
            with open(help_file.path, "rb") as f:
                directory = chmfix.ChmDirectory(f.read())
            strings_index, strings_entry = directory.find("/#STRINGS")
            self.assertEqual(0, strings_entry[3], "the mended #STRINGS lies in section 0")
            for index in directory.listing_chunks:
                chunk = directory._chunk(index)
                free = struct.unpack_from("<I", chunk, 4)[0]
                entries = chmfix.parse_chunk_entries(chunk, directory.chunk_size - free)
                count = struct.unpack_from("<H", chunk, directory.chunk_size - 2)[0]
                self.assertEqual(len(entries), count)
                starts = [entry[0] - 0x14 for entry in entries]
                landed = []
                for i in range(count // directory.quickref_step):
                    ref = struct.unpack_from("<H", chunk, directory.chunk_size - 4 - 2 * i)[0]
                    self.assertIn(ref, starts, "quick reference %d lands inside an entry" % i)
                    landed.append(starts.index(ref))
                # Evenly spaced, one every quickref_step entries, as the compiler wrote them.
                self.assertEqual(landed, [landed[0] + i * directory.quickref_step for i in range(len(landed))])


@unittest.skipUnless(shutil.which("chmcmd") and shutil.which("extract_chmLib"), "no chmcmd or extract_chmLib")
class BuildThroughALink(unittest.TestCase):
    def test_topic_names_resolve_when_the_build_folder_is_reached_through_a_link(self):
        # chmcmd writes the resolved path of the folder it runs in; the build may name it through a
        # symbolic link (a build folder on another disk), and the names must be mended all the same.
        with tempfile.TemporaryDirectory() as scratch:
            real = os.path.join(scratch, "real")
            os.makedirs(real)
            link = os.path.join(scratch, "link")
            os.symlink(real, link)
            output = os.path.join(scratch, "Parvel_ENU.chm")
            subprocess.run([sys.executable, os.path.join(HERE, "..", "..", "tools", "help", "build_chm.py"),
                            "--language", "en", "--source", os.path.join(SOURCES, "en"),
                            "--shared", STYLE_SHEET, "--table", TABLE,
                            "--stage", os.path.join(link, "stage"), "--output", output], check=True)
            base, topics = build_chm.read_table(TABLE)
            mapped = ExtractedHelp(output).context_map()
            self.assertEqual({base + number: topic for _, number, topic in topics}, mapped)


README = os.path.join(SOURCES, "..", "..", "README.md")
# The page head the help viewer needs to show a page with the style sheet (its default is an old
# rendering mode that ignores much of it).
CURRENT_MODE = '<meta http-equiv="X-UA-Compatible" content="IE=edge">'
# The widest code line that the topic pane shows without a sideways scroll.
CODE_LINE_WIDTH = 76
# The built-in language's names that the topics for 1C developers must use: the application
# module's event handler, the managed form's event, and attaching and installing an add-in, in
# their synchronous and asynchronous forms. Each pair is one name in English and in Russian.
PLATFORM_NAMES = [
    ("ExternEventProcessing", "ОбработкаВнешнегоСобытия"),
    ("ExternalEvent", "ВнешнееСобытие"),
    ("AttachAddIn", "ПодключитьВнешнююКомпоненту"),
    ("InstallAddIn", "УстановитьВнешнююКомпоненту"),
    ("BeginAttachingAddIn", "НачатьПодключениеВнешнейКомпоненты"),
    ("BeginInstallAddIn", "НачатьУстановкуВнешнейКомпоненты"),
    ("AttachAddInAsync", "ПодключитьВнешнююКомпонентуАсинх"),
]
# Names a 1C program must not be told to use: the platform has no such event or method, so code
# written with them compiles and never runs.
WRONG_NAMES = ["ExternalEventProcessing", "ОбработкаВнешнихСобытий"]
INSTALLS = ("InstallAddIn", "УстановитьВнешнююКомпоненту", "BeginInstallAddIn",
            "НачатьУстановкуВнешнейКомпоненты", "InstallAddInAsync", "УстановитьВнешнююКомпонентуАсинх")
ATTACHES = ("AttachAddIn", "ПодключитьВнешнююКомпоненту", "BeginAttachingAddIn",
            "НачатьПодключениеВнешнейКомпоненты", "AttachAddInAsync", "ПодключитьВнешнююКомпонентуАсинх")
DEVELOPER_TOPICS = ("addin.htm", "addin-events.htm", "addin-methods.htm", "addin-properties.htm",
                    "addin-errors.htm", "first-steps.htm")


def read_source(language, name):
    with open(os.path.join(SOURCES, language, name), encoding="utf-8") as f:
        return f.read()


def code_blocks(text):
    """The code of every <pre> block of a page (as the reader sees it), or of every fenced block of
    the README."""
    if "<pre>" in text:
        return [html.unescape(re.sub(r"<[^>]+>", "", block)) for block in re.findall(r"<pre>(.*?)</pre>", text, re.S)]
    return re.findall(r"^```[^\n]*\n(.*?)^```", text, re.S | re.M)


def template_problems(block):
    """What is wrong with a block's use of an add-in kept in a common template: an attach from a
    template with no install of that template in the same block."""
    problems = []
    calls = re.findall(r"\b(\w+)\((?:[^()]*?,\s*)?\s*\"((?:CommonTemplate|ОбщийМакет)\.\w+)\"", block)
    attached = {where for name, where in calls if name in ATTACHES}
    installed = {where for name, where in calls if name in INSTALLS}
    for where in sorted(attached - installed):
        problems.append("attaches %s without installing it" % where)
    return problems


# What only a client has: the asynchronous forms of attaching and installing, Await and notify
# descriptions. A managed form's procedure without a compile directive runs on the server, where
# none of them compiles.
CLIENT_ONLY = ("BeginAttachingAddIn", "НачатьПодключениеВнешнейКомпоненты", "BeginInstallAddIn",
               "НачатьУстановкуВнешнейКомпоненты", "AttachAddInAsync", "ПодключитьВнешнююКомпонентуАсинх",
               "InstallAddInAsync", "УстановитьВнешнююКомпонентуАсинх", "Await", "Ждать",
               "NotifyDescription", "ОписаниеОповещения")
CLIENT_DIRECTIVES = ("&AtClient", "&НаКлиенте")
# The synchronous platform calls that a configuration without synchronous calls refuses.
SYNCHRONOUS = ("AttachAddIn", "InstallAddIn", "ПодключитьВнешнююКомпоненту", "УстановитьВнешнююКомпоненту")
PROCEDURE = re.compile(r"^[ \t]*(?:(?:Async|Асинх)\s+)?(?:Procedure|Function|Процедура|Функция)\s+(\w+)\s*\(",
                       re.M)
PROCEDURE_END = re.compile(r"\b(?:EndProcedure|EndFunction|КонецПроцедуры|КонецФункции)\b")


def calls(text, names):
    """The names among `names` that the text calls (a name directly followed by its bracket)."""
    return [name for name in names if re.search(r"(?<![\w.])%s\s*\(" % re.escape(name), text)]


def procedures(blocks):
    """{name: body} of every procedure and function the blocks define."""
    found = {}
    for block in blocks:
        for match in PROCEDURE.finditer(block):
            end = PROCEDURE_END.search(block, match.end())
            found[match.group(1)] = block[match.end():end.start() if end else len(block)]
    return found


def client_sample_problems(block, page_procedures):
    """What is wrong with a sample that uses what only a client has: a procedure without a client
    directive, and a synchronous platform call that the sample makes or reaches through a procedure
    of the same page."""
    if not re.search(r"\b(?:%s)\b" % "|".join(CLIENT_ONLY), block):
        return []
    problems = []
    lines = block.split("\n")
    for number, line in enumerate(lines):
        match = PROCEDURE.match(line)
        if match:
            before = [l.strip() for l in lines[:number] if l.strip()]
            if not before or before[-1] not in CLIENT_DIRECTIVES:
                problems.append("%s has no client directive" % match.group(1))
    own = procedures([block])
    reached, pending = set(), list(own)
    while pending:
        name = pending.pop()
        if name in reached:
            continue
        reached.add(name)
        pending.extend(calls(own.get(name, page_procedures.get(name, "")), page_procedures))
    for name in sorted(reached):
        body = own.get(name, page_procedures.get(name, ""))
        for call in calls(body, SYNCHRONOUS):
            problems.append("%s reaches the synchronous %s" % (name, call) if name not in own
                            else "%s calls the synchronous %s" % (name, call))
    return problems


def unguarded_attach_problems(block):
    """A sample that attaches from a template, installs and attaches again must make its first
    attach inside Try: for some forms the platform raises an error there rather than returning
    False."""
    found = [(m.start(), m.group(1)) for m in re.finditer(r"(?<![\w.])(\w+)\s*\(", block)
             if m.group(1) in ATTACHES + INSTALLS]
    kinds = [name in INSTALLS for _, name in found]
    if True not in kinds or kinds.index(True) == 0 or "Begin" in found[0][1] or "Начать" in found[0][1]:
        return []
    first = found[0][0]
    opened = [m.start() for m in re.finditer(r"\b(?:Try|Попытка)\b", block[:first])]
    closed = [m.start() for m in re.finditer(r"\b(?:Except|Исключение)\b", block[:first])]
    if not opened or (closed and closed[-1] > opened[-1]):
        return ["the first %s is not inside Try" % found[0][1]]
    return []


def sitemap_entries(path):
    """[(name, [local targets])] of an index or contents file."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    entries = []
    for item in re.findall(r'<object type="text/sitemap">(.*?)</object>', text, re.S):
        name = re.search(r'<param name="Name" value="([^"]*)">', item)
        entries.append((html.unescape(name.group(1)) if name else "",
                        re.findall(r'<param name="Local" value="([^"]*)">', item)))
    return entries


class HelpSources(unittest.TestCase):
    def names(self, language):
        return sorted(n for n in os.listdir(os.path.join(SOURCES, language)) if not n.startswith("."))

    def pages(self, language):
        return [n for n in self.names(language) if n.endswith(".htm")]

    def test_every_page_asks_for_the_current_rendering_mode(self):
        for language in ("en", "ru"):
            for name in self.pages(language):
                with self.subTest(page=language + "/" + name):
                    text = read_source(language, name)
                    head = text[:text.lower().find("</head>")]
                    self.assertIn(CURRENT_MODE, head)
                    # The viewer takes it only before every element but the title and other metas.
                    self.assertLess(head.index(CURRENT_MODE), head.lower().index("<title>"))

    def test_code_lines_fit_the_topic_pane(self):
        for language in ("en", "ru"):
            for name in self.pages(language):
                for block in code_blocks(read_source(language, name)):
                    for line in block.split("\n"):
                        with self.subTest(page=language + "/" + name, line=line.strip()[:40]):
                            self.assertLessEqual(len(line), CODE_LINE_WIDTH)

    def test_1c_code_uses_the_platforms_names(self):
        with open(README, encoding="utf-8") as f:
            readme = f.read()
        texts = {"README.md": readme}
        for language in ("en", "ru"):
            for name in self.pages(language):
                texts[language + "/" + name] = read_source(language, name)
        for where, text in texts.items():
            with self.subTest(file=where):
                for wrong in WRONG_NAMES:
                    self.assertFalse(wrong in text, "names %s, which the platform does not have" % wrong)
                for block in code_blocks(text):
                    # The handler of the application module: only the platform's own name is called.
                    for handler in re.findall(r"(?:Procedure|Процедура)\s+(\w+)\s*\(\s*(?:Source|Источник)\s*,", block):
                        self.assertIn(handler, ("ExternEventProcessing", "ОбработкаВнешнегоСобытия"))
                    self.assertEqual([], template_problems(block), block[:200])
                    # A code printed as a plain number gets the platform's digit groups.
                    self.assertIsNone(re.search(r"\+\s*(?:Code|Код)\s*\+", block), block[:200])
        for language in ("en", "ru"):
            topics = "".join(read_source(language, name) for name in DEVELOPER_TOPICS)
            for english, russian in PLATFORM_NAMES:
                with self.subTest(language=language, name=english):
                    self.assertTrue(english in topics, "%s is not named" % english)
                    self.assertTrue(russian in topics, "%s is not named" % russian)

    def test_a_wrong_handler_or_a_template_without_install_is_seen(self):
        self.assertEqual(["attaches CommonTemplate.Parvel without installing it"],
                         template_problems('If Not AttachAddIn("CommonTemplate.Parvel", "Parvel", AddInType.Native) Then'))
        self.assertEqual([], template_problems('InstallAddIn("CommonTemplate.Parvel");\n'
                                               'AttachAddIn("CommonTemplate.Parvel", "Parvel", AddInType.Native)'))
        self.assertEqual([], template_problems('BeginAttachingAddIn(Notify, "ОбщийМакет.Parvel", "Parvel");\n'
                                               'НачатьУстановкуВнешнейКомпоненты(Оповещение, "ОбщийМакет.Parvel");'))
        self.assertEqual([], template_problems('AttachAddIn("C:\\Parvel\\Parvel.dll", "Parvel", AddInType.Native)'))

    def test_client_samples_compile_on_the_client_and_make_no_synchronous_call(self):
        for language in ("en", "ru"):
            for name in self.pages(language):
                blocks = code_blocks(read_source(language, name))
                page_procedures = procedures(blocks)
                for block in blocks:
                    with self.subTest(page=language + "/" + name, block=block.strip()[:60]):
                        self.assertEqual([], client_sample_problems(block, page_procedures))
                        self.assertEqual([], unguarded_attach_problems(block))

    def test_a_server_procedure_or_a_synchronous_call_in_a_client_sample_is_seen(self):
        synchronous = ("Procedure StartReader() Export\n"
                       "    If Not AttachAddIn(\"CommonTemplate.Parvel\", \"Parvel\") Then\n"
                       "    EndIf;\nEndProcedure")
        sample = ("&AtClient\nAsync Procedure AttachParvel()\n"
                  "    Attached = Await AttachAddInAsync(\"CommonTemplate.Parvel\", \"Parvel\");\n"
                  "    StartReader();\nEndProcedure\n\n"
                  "Procedure AfterAttaching(Attached, More) Export\n    Reader = New(\"AddIn.Parvel.ParvelExtension\");\n"
                  "EndProcedure")
        self.assertEqual(["AfterAttaching has no client directive", "StartReader reaches the synchronous AttachAddIn"],
                         client_sample_problems(sample, procedures([sample, synchronous])))
        self.assertEqual(["AttachParvel calls the synchronous InstallAddIn"],
                         client_sample_problems("&НаКлиенте\nАсинх Процедура AttachParvel()\n"
                                                "    Ждать X();\n    InstallAddIn(\"CommonTemplate.Parvel\");\n"
                                                "КонецПроцедуры", {}))
        # A synchronous sample is no client sample, and the asynchronous names are no synchronous calls.
        self.assertEqual([], client_sample_problems(synchronous, {}))
        self.assertEqual([], client_sample_problems(sample.replace("StartReader();", "").replace(
            "Procedure AfterAttaching", "&AtClient\nProcedure AfterAttaching"), procedures([synchronous])))
        attach = ("If Not AttachAddIn(\"CommonTemplate.Parvel\", \"Parvel\") Then\n"
                  "    InstallAddIn(\"CommonTemplate.Parvel\");\nEndIf;")
        self.assertEqual(["the first AttachAddIn is not inside Try"], unguarded_attach_problems(attach))
        self.assertEqual([], unguarded_attach_problems("Try\n    Attached = AttachAddIn(\"CommonTemplate.Parvel\");\n"
                                                       "Except\n    Attached = False;\nEndTry;\n"
                                                       "InstallAddIn(\"CommonTemplate.Parvel\");"))
        self.assertEqual(["the first AttachAddIn is not inside Try"],
                         unguarded_attach_problems("Try\nExcept\nEndTry;\n" + attach))

    def test_every_link_lands_on_an_anchor_its_page_has(self):
        # A link to a name the topics do not have (a property the add-in has not) lands nowhere.
        for language in ("en", "ru"):
            anchors = {name: set(re.findall(r'<a name="([^"]+)">', read_source(language, name)))
                       for name in self.pages(language)}
            for name in self.pages(language) + [build_chm.INDEX, build_chm.CONTENTS]:
                text = read_source(language, name)
                for page, fragment in re.findall(r'(?:href|value)="([\w.-]*\.htm)?#([^"]+)"', text):
                    with self.subTest(page=language + "/" + name, link=(page or name) + "#" + fragment):
                        self.assertIn(fragment, anchors.get(page or name, set()))

    def test_the_russian_topics_call_the_log_a_journal(self):
        # One Russian term for the log; "Лог" stays only as the name of the add-in's property and
        # inside the method names (in code and in the name cells).
        word = re.compile(r"(?<![\w])лог(?:а|у|ом|е|и|ов|ам|ами|ах)?(?![\w])", re.I)
        for name in self.pages("ru"):
            text = read_source("ru", name)
            prose = re.sub(r"<pre>.*?</pre>|<code>.*?</code>|<title>.*?</title>", "", text, flags=re.S)
            prose = re.sub(r'<(td|span) class="name-(?:en|ru)">.*?</\1>|<a href="addin-[^"]*">.*?</a>', "", prose,
                           flags=re.S)
            prose = re.sub(r"<[^>]+>", " ", prose)
            with self.subTest(page=name):
                self.assertEqual([], [m.group(0) for m in word.finditer(html.unescape(prose))])

    def test_a_wrong_anchor_or_the_word_log_is_seen(self):
        word = re.compile(r"(?<![\w])лог(?:а|у|ом|е|и|ов|ам|ами|ах)?(?![\w])", re.I)
        self.assertTrue(word.search("пишется в лог компоненты"))
        self.assertIsNone(word.search("ФлагиЛога, ОчиститьЛог, диалог, каталог"))
        self.assertEqual([("addin-properties.htm", "KeyTypes")],
                         re.findall(r'(?:href|value)="([\w.-]*\.htm)?#([^"]+)"',
                                    '<a href="addin-properties.htm#KeyTypes">KeyTypes</a>'))

    def test_the_index_names_every_method_property_event_code_and_handler(self):
        for language in ("en", "ru"):
            entries = sitemap_entries(os.path.join(SOURCES, language, build_chm.INDEX))
            index = {}
            for name, targets in entries:
                index.setdefault(name, []).extend(targets)
            wanted = []
            for topic in ("addin-methods.htm", "addin-properties.htm", "addin-events.htm"):
                text = read_source(language, topic)
                rows = re.findall(r'<td class="name-en">([^<]*)(?:<a name="[^"]*"></a>)?</td>'
                                  r'<td class="name-ru">([^<]*)</td>', text)
                self.assertTrue(rows, topic)
                for english, russian in rows:
                    self.assertIn('<a name="%s">' % english, text, "%s/%s has no anchor for %s" % (language, topic, english))
                    wanted.append((english, "%s#%s" % (topic, english)))
                    if language == "ru":
                        wanted.append((russian, "%s#%s" % (topic, english)))
            errors = read_source(language, "addin-errors.htm")
            codes = re.findall(r'<td class="code">0x(\w{8})', errors)
            self.assertEqual(34, len(codes))
            for code in codes + re.findall(r"<tr><td>0x(\w{8})", errors):
                self.assertIn('<a name="x%s">' % code, errors)
                wanted.append(("0x" + code, "addin-errors.htm#x" + code))
            for english, russian in PLATFORM_NAMES[:2]:
                wanted.append((english, "addin-events.htm#handler"))
                if language == "ru":
                    wanted.append((russian, "addin-events.htm#handler"))
            for name, target in wanted:
                with self.subTest(language=language, entry=name):
                    self.assertIn(name, index, "no index entry")
                    self.assertIn(target, index[name])

    def test_both_languages_have_the_same_files_and_one_style(self):
        self.assertEqual(self.names("en"), self.names("ru"))
        self.assertTrue(os.path.isfile(STYLE_SHEET))
        self.assertNotIn("style.css", self.names("en"), "a language with a style sheet of its own")

    def test_a_shared_file_cannot_also_be_a_language_own(self):
        with tempfile.TemporaryDirectory() as scratch:
            own = os.path.join(scratch, "en")
            os.makedirs(own)
            for name in ("index.htm", "style.css"):
                with open(os.path.join(own, name), "w") as f:
                    f.write(name)
            shared = os.path.join(scratch, "style.css")
            with open(shared, "w") as f:
                f.write("shared")
            with self.assertRaises(SystemExit):
                build_chm.sources(own, [shared])
            os.remove(os.path.join(own, "style.css"))
            self.assertEqual([("index.htm", os.path.join(own, "index.htm")), ("style.css", shared)],
                             build_chm.sources(own, [shared]))

    def test_the_table_names_topics_that_exist(self):
        base, topics = build_chm.read_table(TABLE)
        self.assertEqual([(number, topic) for number, topic, _, _ in PAGE_TOPICS],
                         [(base + number, topic) for _, number, topic in topics])
        for language in ("en", "ru"):
            for _, _, topic in topics:
                self.assertTrue(os.path.isfile(os.path.join(SOURCES, language, topic)), topic)

    def test_recoding_keeps_every_character(self):
        # Text outside the help file's code page survives as character references.
        data = build_chm.recode('<head><meta charset="utf-8"></head>Ключ → 1 ≤ 2', "ru")
        self.assertIn(b"charset=windows-1251", data)
        self.assertNotIn(b"utf-8", data)
        self.assertEqual("Ключ &#8594; 1 &#8804; 2", data.decode("cp1251").split("</head>")[1])


if __name__ == "__main__":
    unittest.main()
