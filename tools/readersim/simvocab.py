"""Reader vocabulary of the simulator: key types, reader models, identification
texts and the key lines that text-protocol readers print.

Every encoder here is the inverse of the engine's parser: a key line built from a
key type and the bytes of a key record must decode back to exactly that record, so
that a test can present "key type 1, bytes 39 30 0C 0A 00" and expect the engine to
report those very bytes. Keep the two in step when either side changes.
"""

import re

# Short names of the 19 key types, indexed by key type number.
KEY_TYPE_NAMES = ["?", "EM", "HID", "IC", "UL", "M1K", "M4K", "DF", "PX",
                  "COD433F", "COD433", "DS", "CAME", "M+", "M+1K", "M+2K",
                  "M+4K", "MINI", "Temic"]

# Model index -> (name, device code printed in the identification text).
MODELS = {
    1: ("Kora USB", 0x0301),
    2: ("Lintra Multi", 0x0501),
    3: ("Kora USB MF", 0x0811),
    4: ("Lintra Net", 0x0903),
    5: ("Kora Desk MF", 0x0F11),
    6: ("Kora Duo", 0x0302),
    7: ("Kora Base", 0x0303),
    8: ("Lintra Plus", 0x0802),
    9: ("Pelto", 0x0821),
}
KORA_BASE = 7
PELTO = 9

# Card names as the readers print them before "[" (the engine compares them
# lower-cased), by key type.
CARD_NAMES = {1: "Em-Marine", 2: "HID", 3: "iCode", 9: "COD433 Fix",
              10: "COD433", 11: "Dallas", 12: "CAME433"}
MIFARE_TYPES = (4, 5, 6, 7, 8, 13, 15, 16, 17)
MIFARE_WORDS = {4: "ul", 5: "1k", 6: "4k", 7: "df", 8: "px"}
# (ATQA, SAK) pairs that classify as the key type (type 14 has none: no SAK
# value maps to it, so it cannot travel in a text key line).
MIFARE_SAK = {4: (0x0044, 0x00), 5: (0x0004, 0x08), 6: (0x0002, 0x18),
              7: (0x0344, 0x20), 13: (0x0048, 0x20), 15: (0x0004, 0x10),
              16: (0x0002, 0x11), 17: (0x0004, 0x09)}
_CARD_NAME_TYPES = {"em-marine": 1, "hid": 2, "icode": 3, "cod433 fix": 9,
                    "cod433": 10, "came433": 12, "dallas": 11}

# Firmware versions of bus readers that answer a key request with a number.
NUMERIC_KEY_FIRMWARE = ("409", "410")


class SimError(ValueError):
    """A request that the simulator refuses; its text goes back to the client."""


def parse_key_type(value):
    """Key type from a number, a short name ("EM", "M1K") or a card name."""
    if isinstance(value, bool):
        raise SimError("key type must be a number or a name")
    if isinstance(value, int):
        if 0 <= value < len(KEY_TYPE_NAMES):
            return value
        raise SimError("key type %d is out of range 0-18" % value)
    if isinstance(value, str):
        text = value.strip()
        if text.isdigit():
            return parse_key_type(int(text))
        for n, name in enumerate(KEY_TYPE_NAMES):
            if n and name.lower() == text.lower():
                return n
        if text.lower() in _CARD_NAME_TYPES:
            return _CARD_NAME_TYPES[text.lower()]
        raise SimError("unknown key type %r" % value)
    raise SimError("key type must be a number or a name")


def model_name(model):
    return MODELS[model][0] if model in MODELS else "?"


def default_device_code(model):
    return MODELS[model][1] if model in MODELS else 0


def parse_hex(text, what="hex"):
    """Bytes from hex digits; blanks, colons and dashes between pairs are allowed."""
    if not isinstance(text, str):
        raise SimError("%s must be a string of hex digits" % what)
    digits = re.sub(r"[\s:\-]", "", text)
    if len(digits) % 2 or not re.fullmatch(r"[0-9A-Fa-f]*", digits):
        raise SimError("%s is not an even count of hex digits: %r" % (what, text))
    return bytes.fromhex(digits)


def _hex(data):
    return "".join("%02X" % b for b in data)


def dallas_crc8(data):
    crc = 0
    for byte in data:
        for _ in range(8):
            mix = (crc ^ byte) & 1
            crc >>= 1
            if mix:
                crc ^= 0x8C
            byte >>= 1
    return crc


def key_line(key_type, key, mifare_form=None, atqa=None, sak=None):
    """The text key line (without line end) that decodes to this key record.

    `key` holds the key record's bytes in record order (byte 0 first)."""
    n = len(key)
    if n > 15:
        raise SimError("a key record holds at most 15 bytes")
    if key_type == 1:
        _need(key_type, n, 5, 5)
        return "Em-Marine[%02X%02X] %03d,%05d" % (key[4], key[3], key[2],
                                                  key[0] | key[1] << 8)
    if key_type == 2:
        _need(key_type, n, 6, 6)
        return "HID[%s] %d" % (_hex(reversed(key[2:])), key[0] | key[1] << 8)
    if key_type == 3:
        _need(key_type, n, 3, 15)
        # The first three pairs read from the right are not part of the key;
        # they repeat bytes 0-2 so that the bracket shows the whole UID.
        buf = list(key[:3]) + list(key[3:])
        return "iCode[%s] %03d,%05d" % (_hex(reversed(buf)), key[2],
                                        key[0] | key[1] << 8)
    if key_type in (9, 10):
        _need(key_type, n, 4, 4)
        return "%s[%s]" % (CARD_NAMES[key_type], _hex(key))
    if key_type == 11:
        _need(key_type, n, 1, 13)
        family = 0x01
        rom = bytes([family]) + bytes(key)
        crc = dallas_crc8(rom)
        return "Dallas[%02X%s%02X]" % (crc, _hex(reversed(key)), family)
    if key_type == 12:
        _need(key_type, n, 3, 3)
        return "CAME433[%s] %03d,%05d" % (_hex(reversed(key)), key[2],
                                          key[0] | key[1] << 8)
    if key_type in MIFARE_TYPES:
        return _mifare_line(key_type, bytes(key), mifare_form, atqa, sak)
    raise SimError("key type %d (%s) has no text key line; give the line itself"
                     % (key_type, KEY_TYPE_NAMES[key_type]))


def _need(key_type, n, lo, hi):
    if not lo <= n <= hi:
        want = "%d" % lo if lo == hi else "%d to %d" % (lo, hi)
        raise SimError("a %s key record has %s bytes, not %d"
                         % (KEY_TYPE_NAMES[key_type], want, n))


def _mifare_line(key_type, key, form, atqa, sak):
    n = len(key)
    if n < 4:
        raise SimError("a Mifare key record needs at least 4 bytes")
    # The reader prints the UID in card order; the engine rotates it so that
    # the last (n - 4) bytes of the text come first.
    text_order = key[n - 4:] + key[:n - 4] if n > 4 else key
    if form is None:
        form = "word" if key_type in MIFARE_WORDS else "sak"
    if form not in ("word", "sak", "both"):
        raise SimError("mifare_form must be word, sak or both")
    items = []
    if form in ("sak", "both") or sak is not None:
        if sak is None:
            if key_type not in MIFARE_SAK:
                raise SimError("key type %d has no SAK form" % key_type)
            atqa_d, sak = MIFARE_SAK[key_type]
            atqa = atqa_d if atqa is None else atqa
        atqa = 0 if atqa is None else atqa
        items.append("(%04X,%02X)" % (atqa & 0xFFFF, sak & 0xFF))
    if form in ("word", "both"):
        if key_type not in MIFARE_WORDS:
            raise SimError("key type %d has no subtype word" % key_type)
        items.append(MIFARE_WORDS[key_type])
    return "Mifare[%s] %s" % (_hex(text_order), " ".join(items))


def numeric_key_number(key):
    """The number a 409/410 bus reader prints: key bytes 0-3, little-endian."""
    padded = bytes(key[:4]) + bytes(4 - min(4, len(key)))
    return int.from_bytes(padded, "little")


def identification_lines(model, serial, device_code, version, build, speed,
                         protocol="text"):
    """Identification reply lines (without line ends).

    The first line carries "S/N:", the last one "Software version:" (or "Build"
    when there is no version), which is where the engine stops reading; a "Build"
    line after a version line arrives after the engine has stopped reading. Every
    line with "[" also has ":" so that it can never pass for a key line."""
    lines = ["%s S/N: %u" % (model_name(model), serial),
             "Device code: [%04X]" % device_code,
             "Port speed: %d" % speed,
             "Mode: %s" % protocol]
    if version is not None:
        lines.append("Software version: %s" % version)
        if build is not None:
            lines.append("Build %s" % build)
    else:
        lines.append("Build %s" % (build or "Jan 01 2015 00:00:00"))
    return lines


def ultralight_memory(text_uid, pages=16):
    """Default Ultralight memory: UID pages with check bytes, then page p byte j
    holding (4p + j) & 0xFF so that every page is recognisable."""
    uid = list(text_uid[:7]) + [0] * max(0, 7 - len(text_uid))
    mem = bytearray(pages * 4)
    mem[0:4] = bytes([uid[0], uid[1], uid[2], 0x88 ^ uid[0] ^ uid[1] ^ uid[2]])
    mem[4:8] = bytes(uid[3:7])
    mem[8:12] = bytes([uid[3] ^ uid[4] ^ uid[5] ^ uid[6], 0x48, 0, 0])
    for i in range(16, pages * 4):
        mem[i] = i & 0xFF
    return mem


def mifare_text_uid(key):
    """Card-order UID of a Mifare key record (undoes the engine's rotation)."""
    n = len(key)
    return bytes(key[n - 4:] + key[:n - 4]) if n > 4 else bytes(key)


# --- Kora Base output format -------------------------------------------------

_CONV = re.compile(r"%(%|[-+ 0#]*\d*(?:\.\d+)?([diuxX]))")
_ARG = re.compile(r"^(?:b([0-7])|w([0-7])([0-7]))$")


def expand_escapes(text):
    """Backslash sequences that the Kora Base expands in what it is sent."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            out.append({"r": "\r", "n": "\n", "t": "\t", "\\": "\\"}.get(nxt, "\\" + nxt))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def check_output_format(template):
    """Conversions of a Kora Base template, or None when it is not acceptable."""
    pos, convs = 0, 0
    while True:
        i = template.find("%", pos)
        if i < 0:
            return convs
        m = _CONV.match(template, i)
        if not m:
            return None
        if m.group(1) != "%":
            convs += 1
        pos = m.end()


def check_output_args(args):
    tokens = args.split()
    return bool(tokens) and all(_ARG.match(t) for t in tokens)


def format_output(template, args, card):
    """Apply a Kora Base template to the card's raw bytes b0..b7."""
    raw = bytes(card[:8]) + bytes(8 - min(8, len(card)))
    values = []
    for tok in args.split():
        m = _ARG.match(tok)
        if m.group(1) is not None:
            values.append(raw[int(m.group(1))])
        else:
            values.append(raw[int(m.group(2))] | raw[int(m.group(3))] << 8)
    py = _CONV.sub(lambda m: "%%" if m.group(1) == "%" else "%" + m.group(1).replace("u", "d"),
                   expand_escapes(template))
    return py % tuple(values)
