"""Reference model of the key-number expression language of key formats.

Written from the language's description alone, as an independent second opinion on the add-in's
parser and evaluator: cross_check.py runs both over the same random texts and keys and compares
values, error codes and error positions. Python integers are unbounded, so every arithmetic result
is folded back into a signed 64-bit value explicitly.

evaluate(text, key) -> ("ok", [values]) or ("err", code, position, token_text)
"""

MASK64 = (1 << 64) - 1
INT64_MAX = (1 << 63) - 1
INT64_MIN = -(1 << 63)

E_UNKNOWN_KEYWORD = 0x80040238
E_UNEXPECTED_END = 0x80040239
E_UNKNOWN_SYMBOL = 0x8004023A
E_EXPECTED_OPEN = 0x8004023B
E_EXPECTED_CLOSE = 0x8004023C
E_BAD_SUFFIX = 0x8004023D
E_UNEXPECTED_OPERATOR = 0x8004023E
E_TOO_DEEP = 0x800703E9  # the add-in's guard against stack exhaustion (not a language code)

MAX_NESTING = 100
MAX_HEIGHT = 1000

MESSAGES = {
    0x80040236: "Not enough parameters.",
    0x80040237: "Template specifier is not supported.",
    E_UNKNOWN_KEYWORD: "Unknown keyword.",
    E_UNEXPECTED_END: "Unexpected end of expression.",
    E_UNKNOWN_SYMBOL: "Unknown symbol.",
    E_EXPECTED_OPEN: "Expected '(' or '['.",
    E_EXPECTED_CLOSE: "Expected ')' or ']'.",
    E_BAD_SUFFIX: "Bad suffix on number.",
    E_UNEXPECTED_OPERATOR: "Unexpected operator.",
}

SYMBOLS = ["&&", "||", "<<", ">>", "+", "-", "*", "/", "%", "^", "!", "~", "&", "|", "[", "]",
           "(", ")", ","]
FUNCTIONS = ["rbit", "cbit", "set", "get", "ds", "w", "w2", "x"]
T_NUMBER = 36
T_END = 37
# Word tokens: first letter -> (token, digits of room); +5 and double room for the "h" form.
WORDS = {"b": (27, 1), "w": (28, 2), "i": (29, 4), "l": (29, 4), "m": (30, 8), "h": (31, 1)}


def s64(v):
    v &= MASK64
    return v - (1 << 64) if v > INT64_MAX else v


def message(code, token):
    """The English message of a parse error as the add-in builds it: the code's text, one line,
    and the token in quotation marks."""
    text = MESSAGES.get(code)
    if text is None:
        return None
    if token:
        text += ' "' + token + '"'
    return text


class ParseError(Exception):
    def __init__(self, code, position, token):
        super().__init__(code, position, token)
        self.code, self.position, self.token = code, position, token


# ----------------------------------------------------------------------------------------------
# Coding routines

def crc8_dallas(data):
    crc = 0
    for byte in data:
        crc ^= byte & 0xFF
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8C if crc & 1 else crc >> 1
    return crc


def _ones(v, lo, hi):
    """Number of one bits among bits lo..hi (inclusive) of v; 0 for an empty range."""
    if hi < lo:
        return 0
    return bin((v >> lo) & ((1 << (hi - lo + 1)) - 1)).count("1")


def wiegand_frame(n, data, count, plain):
    d = n - 2
    need = 0 if d <= 0 else (d + 7) // 8
    used = list(data[:min(need, count)])
    value = 0
    for i, b in enumerate(used):
        value |= (b & 0xFF) << (8 * i)
    value = value & ((1 << d) - 1) if d > 0 else 0
    value <<= 1
    half = int(d / 2) + (n % 2)  # truncated toward zero
    if _ones(value, 1, half) % 2 == 0:
        value |= 1
    start = half if n % 2 else half + 1
    if _ones(value, start, d) % 2 == 1:
        value |= 1 << (n - 1)
    if n != 37 and not plain:
        value |= (1 << n) | (1 << 37)
    return value


# ----------------------------------------------------------------------------------------------
# Trees: tuples evaluated by eval_node.
#   ("num", v)  ("op", name, left, right)  ("un", name, operand)
#   ("fn", name, [args])  ("word", letters, [digit values])

class Lexer:
    def __init__(self, text):
        self.src = text
        self.pos = 0
        self.tok = T_END
        self.text = ""
        self.base = 10

    def error(self, code):
        raise ParseError(code, self.pos - len(self.text), self.text)

    def next(self):
        s = self.src
        self.text = ""
        while self.pos < len(s) and s[self.pos].isspace():
            self.pos += 1
        if self.pos >= len(s):
            self.tok = T_END
            return
        c = s[self.pos]
        if "0" <= c <= "9":
            self._number()
        elif c.isalpha():
            self._name()
        else:
            for code, sym in enumerate(SYMBOLS):
                if s.startswith(sym, self.pos):
                    self.pos += len(sym)
                    self.tok = code
                    return
            self.text = c
            self.pos += 1
            self.error(E_UNKNOWN_SYMBOL)

    def _number(self):
        s = self.src
        self.tok = T_NUMBER
        self.base = 10
        if s[self.pos] == "0":
            self.text = "0"
            self.pos += 1
            self.base = 8
            if self.pos < len(s) and s[self.pos] in "bBxX":
                self.base = 2 if s[self.pos] in "bB" else 16
                self.text = ""
                self.pos += 1
                if self.pos >= len(s):
                    self.error(E_UNEXPECTED_END)
                if s[self.pos] not in "0123456789abcdefABCDEF":
                    self.text = s[self.pos]
                    self.pos += 1
                    self.error(E_BAD_SUFFIX)
        digits = {2: "01", 8: "01234567", 10: "0123456789", 16: "0123456789abcdefABCDEF"}[self.base]
        while self.pos < len(s) and s[self.pos] in digits:
            self.text += s[self.pos]
            self.pos += 1

    def _name(self):
        s = self.src
        start = self.pos
        while self.pos < len(s) and (s[self.pos].isalpha() or "0" <= s[self.pos] <= "9"):
            self.pos += 1
        self.text = s[start:self.pos].lower()
        if self.pos < len(s) and s[self.pos] in "([" and self.text in FUNCTIONS:
            self.tok = 19 + FUNCTIONS.index(self.text)
            return
        if len(self.text) < 2 or self.text[0] not in WORDS:
            self.error(E_UNKNOWN_KEYWORD)
        tok, room = WORDS[self.text[0]]
        name = 1
        if self.text[0] != "h" and self.text[1] == "h":
            tok, room, name = tok + 5, room * 2, 2
        for ch in self.text[name:name + room]:
            if ch not in "0123456789abcdefxyz":
                self.error(E_UNKNOWN_KEYWORD)
        self.tok = tok

    def number_value(self):
        if not self.text:
            return 0
        return min(int(self.text, self.base), INT64_MAX)


BINARY = [  # lowest precedence first
    {1: "||"}, {0: "&&"}, {13: "|"}, {9: "^"}, {12: "&"}, {2: "<<", 3: ">>"},
    {4: "+", 5: "-"}, {6: "*", 7: "/", 8: "%"},
]
UNARY = {4: "+", 5: "neg", 10: "!", 11: "~"}


def height(node):
    kind = node[0]
    if kind == "op":
        return 1 + max(height(node[2]), height(node[3]))
    if kind == "un":
        return 1 + height(node[2])
    if kind == "fn":
        return 1 + max([height(a) for a in node[2]] or [0])
    return 1


class Parser:
    def __init__(self, text):
        self.lex = Lexer(text)
        self.nesting = 0

    def parse(self):
        lex = self.lex
        lex.next()
        out = []
        while lex.tok != T_END:
            out.append(self.binary(0))
            if lex.tok == 18:
                lex.next()
        return out

    def checked(self, node):
        # Heights are kept beside the nodes to stay linear.
        if node[-1] > MAX_HEIGHT:
            self.lex.error(E_TOO_DEEP)
        return node

    def binary(self, level):
        if level == len(BINARY):
            return self.unary()
        left = self.binary(level + 1)
        while self.lex.tok in BINARY[level]:
            op = BINARY[level][self.lex.tok]
            self.lex.next()
            right = self.binary(level + 1)
            left = self.checked(("op", op, left, right, 1 + max(left[-1], right[-1])))
        return left

    def unary(self):
        self.nesting += 1
        if self.nesting > MAX_NESTING:
            self.lex.error(E_TOO_DEEP)
        tok = self.lex.tok
        if tok in UNARY:
            self.lex.next()
            operand = self.unary()
            node = operand if UNARY[tok] == "+" else self.checked(("un", UNARY[tok], operand, operand[-1] + 1))
        else:
            node = self.primary()
        self.nesting -= 1
        return node

    def primary(self):
        lex = self.lex
        tok = lex.tok
        if tok == 16:
            lex.next()
            node = self.binary(0)
            if lex.tok != 17:
                lex.error(E_EXPECTED_CLOSE)
            lex.next()
            return node
        if tok == 26:  # x [ expression ]
            lex.next()
            if lex.tok != 14:
                lex.error(E_EXPECTED_OPEN)
            lex.next()
            arg = self.binary(0)
            if lex.tok != 15:
                lex.error(E_EXPECTED_CLOSE)
            lex.next()
            return self.checked(("fn", "x", [arg], arg[-1] + 1))
        if 19 <= tok <= 25:
            name = FUNCTIONS[tok - 19]
            lex.next()
            if lex.tok != 16:
                lex.error(E_EXPECTED_OPEN)
            lex.next()
            args = []
            if lex.tok == 17:
                lex.next()
                return ("fn", name, args, 1)
            while True:
                args.append(self.binary(0))
                if lex.tok == 18:
                    lex.next()
                    continue
                if lex.tok != 17:
                    lex.error(E_EXPECTED_CLOSE)
                lex.next()
                return self.checked(("fn", name, args, 1 + max(a[-1] for a in args)))
        if tok == T_NUMBER:
            node = ("num", lex.number_value(), 1)
            lex.next()
            return node
        if 27 <= tok <= 35:
            name_len = 2 if tok >= 32 else 1
            room = [1, 2, 4, 8, 1, 2, 4, 8, 16][tok - 27]
            digits = []
            for ch in lex.text[name_len:name_len + room]:
                digits.append({"x": -1, "y": -2, "z": -3}.get(ch, None))
                if digits[-1] is None:
                    digits[-1] = int(ch, 16)
            node = ("word", tok - 27, digits, 1)
            lex.next()
            return node
        if tok == T_END:
            lex.error(E_UNEXPECTED_END)
        lex.text = SYMBOLS[tok]
        lex.error(E_UNEXPECTED_OPERATOR)


# ----------------------------------------------------------------------------------------------
# Evaluation

class Evaluator:
    def __init__(self, key):
        self.key = bytes(key)
        self.vars = {}

    def crc_digit(self, digit):
        k = self.key
        if not k:
            return 0
        if digit == -1:
            body = [k[i] if i < len(k) else 0 for i in range(6)]
        else:
            body = [k[i] if i < len(k) else 0 for i in range(3)] + [0, 0, 0]
        return crc8_dallas([0x01] + body)

    def word(self, index, digits):
        k = self.key
        room = [1, 2, 4, 8, 1, 2, 4, 8, 16][index]
        nibbles = index >= 4
        value = 0
        for pos in range(room - 1, -1, -1):
            unit = 0
            if pos < len(digits):
                v = digits[pos]
                if v >= 0:
                    if not nibbles:
                        unit = k[v] if v < len(k) else 0
                    elif v // 2 < len(k):
                        unit = (k[v // 2] >> 4) if v % 2 else (k[v // 2] & 0xF)
                elif v in (-1, -2):
                    unit = self.crc_digit(v)
                    if nibbles:
                        unit &= 0xF
            value = ((value << (4 if nibbles else 8)) + unit) & MASK64
        return s64(value)

    def ev(self, node):
        kind = node[0]
        if kind == "num":
            return node[1]
        if kind == "word":
            return self.word(node[1], node[2])
        if kind == "un":
            a = self.ev(node[2])
            return {"neg": s64(-a), "!": int(a == 0), "~": s64(~a)}[node[1]]
        if kind == "op":
            return self.binary(node[1], node[2], node[3])
        return self.function(node[1], node[2])

    def binary(self, op, left, right):
        a = self.ev(left)
        if op == "&&":
            return 0 if a == 0 else int(self.ev(right) != 0)
        if op == "||":
            return 1 if a != 0 else int(self.ev(right) != 0)
        b = self.ev(right)
        if op == "+":
            return s64(a + b)
        if op == "-":
            return s64(a - b)
        if op == "*":
            return s64(a * b)
        if op in ("/", "%"):
            if b == 0 or (a == INT64_MIN and b == -1):
                return 0  # the add-in's defined outcome for undefined divisions
            q = abs(a) // abs(b)
            if (a < 0) != (b < 0):
                q = -q
            return q if op == "/" else a - b * q
        if op == "<<":
            return s64(a << (b & 63))
        if op == ">>":
            return a >> (b & 63)  # Python's >> on negatives is arithmetic
        if op == "&":
            return s64(a & b)
        if op == "^":
            return s64(a ^ b)
        if op == "|":
            return s64(a | b)
        raise AssertionError(op)

    def function(self, name, args):
        ev = self.ev
        if name in ("rbit", "cbit"):
            if len(args) < 2:
                return 0
            n = ev(args[0])
            if not 1 <= n <= 8:
                return 0
            v = ev(args[1]) & MASK64
            bits = 8 * n
            low = v & ((1 << bits) - 1)
            if name == "cbit":
                return bin(low).count("1")
            rev = int(format(low, "0%db" % bits)[::-1], 2)
            return s64((v & ~((1 << bits) - 1) & MASK64) | rev)
        if name == "set":
            if len(args) < 2:
                return 0
            i = ev(args[0])
            v = ev(args[1])
            index = i & 0xFFFFFFFF
            if index >= 1 << 31:
                index -= 1 << 32
            self.vars[index] = v
            return v
        if name == "get":
            if not args:
                return 0
            i = ev(args[0]) & 0xFFFFFFFF
            if i >= 1 << 31:
                i -= 1 << 32
            return self.vars.get(i, 0)
        if name == "ds":
            if len(args) < 2:
                return 0
            n = ev(args[0])
            if not 1 <= n <= 7:
                return 0
            data = []
            for a in args[1:]:
                v = ev(a) & MASK64
                data += [(v >> (8 * j)) & 0xFF for j in range(n)]
            return crc8_dallas(data)
        if name in ("w", "w2"):
            if len(args) < 3:
                return 0
            bits = ev(args[0]) & 0xFFFFFFFF
            if not 1 <= bits <= 37:
                return 0
            n = ev(args[1])
            if not 1 <= n <= 7:
                return 0
            data = []
            for a in args[2:]:
                v = ev(a) & MASK64
                data += [(v >> (8 * j)) & 0xFF for j in range(n)]
            return s64(wiegand_frame(bits, data, len(data), 1 if name == "w2" else 0))
        if name == "x":
            i = ev(args[0])
            return self.key[i] if 0 <= i < len(self.key) else 0
        raise AssertionError(name)


def evaluate(text, key):
    try:
        trees = Parser(text).parse()
    except ParseError as e:
        return ("err", e.code, e.position, e.token)
    ev = Evaluator(key)
    return ("ok", [ev.ev(t) for t in trees])


# ----------------------------------------------------------------------------------------------
# The language's own examples: the model must reproduce them before it judges anything.

def self_test():
    def value(text, key=b""):
        r = evaluate(text, key)
        assert r[0] == "ok", (text, r)
        return r[1]

    def error(text, code, position):
        r = evaluate(text, b"")
        assert r[0] == "err" and r[1] == code and r[2] == position, (text, r)

    assert crc8_dallas(b"123456789") == 0xA1
    assert crc8_dallas(b"") == 0
    assert wiegand_frame(26, [1, 0, 0], 3, 1) == 0x2
    k = bytes([0x12, 0x34, 0x56, 0x78])
    assert value("", k) == [] and value("  \t ", k) == []
    assert value("b0,", k) == [0x12]
    error(",b0", E_UNEXPECTED_OPERATOR, 0)
    assert value("RBIT(2, W01)", k) == value("rbit(2,w01)", k)
    error("rbit (2, w01)", E_UNKNOWN_KEYWORD, 0)
    for t in ("b", "x", "q1", "bw", "y"):
        error(t, E_UNKNOWN_KEYWORD, 0)
    assert value("bh", k) == [0]
    error("0x", E_UNEXPECTED_END, 2)
    error("0xg", E_BAD_SUFFIX, 2)
    error("1 < 2", E_UNKNOWN_SYMBOL, 2)
    error("(b0", E_EXPECTED_CLOSE, 3)
    error("x(1)", E_EXPECTED_OPEN, 2)
    error("b0 +", E_UNEXPECTED_END, 4)
    error("b2 q1", E_UNKNOWN_KEYWORD, 3)
    assert value("h5 bh01 w01 l0123 b7 x[3] x[-1]", k) == [5, 0x12, 0x3412, 0x78563412, 0, 0x78, 0]
    assert value("-1 >> 60  1 << 64  0 && set(0,5)  get(0)  get(7)") == [-1, 1, 0, 0, 0]
    assert value("ds(1,1,0x12,0x34,0x56,0,0,0) by", k[:3]) == [value("by", k[:3])[0]] * 2
    assert value("rbit(1, 0x101) rbit(2, 1) cbit(1, 0x1FF) cbit(9, 1) rbit(1)") == [0x180, 0x8000, 8, 0, 0]
    assert value("w2(26,1,0,0,0) w(26,1,0,0,0) w2(26,1,0,0,0x80)") == [0x1, 0x2004000001, 0x3000001]
    assert value("09 0b2 b0 -b1 b0 !b1 b0(b1)", k) == [0, 9, 0, 2, 0x12 - 0x34, 0x12, 0, 0x12, 0x34]
    assert value("b12 w012", k) == [0x34, 0x3412]
    assert value("lh012346ZZ", k) == [0x00863412]
    assert value("99999999999999999999 0xFFFFFFFFFFFFFFFF") == [INT64_MAX, INT64_MAX]
    assert value("b2 w01", bytes([0x39, 0x30, 0x7B])) == [123, 12345]


if __name__ == "__main__":
    self_test()
    print("oracle self-test passed")
