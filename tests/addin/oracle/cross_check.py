"""Cross-check of the add-in's expression evaluator against the reference model.

Generates random parameter texts (mostly well-formed, many damaged, some at the nesting limits)
over random keys of 0 to 15 bytes, seeded so that every run checks the same cases, runs the
add-in's batch evaluator once under Wine for all of them, and compares values, error codes, error
positions and messages with keyexpr_oracle.

usage: cross_check.py <wine-run> <keyexpr_eval.exe> [case count]   (seed: KEYEXPR_SEED)
"""
import collections
import os
import random
import subprocess
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import keyexpr_oracle as oracle  # noqa: E402

sys.setrecursionlimit(20000)

FUNCS = ["rbit", "cbit", "set", "get", "ds", "w", "w2"]
BINOPS = ["+", "-", "*", "/", "%", "<<", ">>", "&", "^", "|", "&&", "||"]
UNOPS = ["-", "+", "!", "~"]
SEPARATORS = [" ", ",", ", ", "\t", "  ", ",\n", " , "]
# Characters for damaging texts: the language's own, blanks, and some it does not know.
NOISE = list("()[],+-*/%^!~&|<>=.$#@?;:'\"_ \t0123456789abcdefghlmqwxyzXYZBHLW") + ["ж", "Б", "§", "€"]


def pick_case(rng, s):
    return "".join(c.upper() if rng.random() < 0.2 else c for c in s)


def gen_number(rng):
    r = rng.random()
    if r < 0.45:
        return str(rng.choice([0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 26, 37, 38, 63, 64, 255]))
    if r < 0.6:
        return str(rng.randrange(0, 10 ** rng.randrange(1, 22)))  # up to far beyond 64 bits
    if r < 0.75:
        return rng.choice(["0x", "0X"]) + format(rng.randrange(0, 1 << rng.choice([8, 16, 32, 63, 64, 72])), "x" if rng.random() < 0.5 else "X")
    if r < 0.85:
        return rng.choice(["0b", "0B"]) + format(rng.randrange(0, 1 << rng.randrange(1, 70)), "b")
    if r < 0.95:
        return "0" + format(rng.randrange(0, 1 << rng.randrange(1, 66)), "o")
    return rng.choice(["9223372036854775807", "9223372036854775808", "18446744073709551615", "0", "00", "0b1", "0x7fffffffffffffff"])


def gen_word(rng):
    first = rng.choice("bwilmh")
    name = first
    room = {"b": 1, "w": 2, "i": 4, "l": 4, "m": 8, "h": 1}[first]
    if first != "h" and rng.random() < 0.4:
        name += "h"
        room *= 2
    n = rng.randrange(0 if len(name) == 2 else 1, room + 2)
    digits = "".join(rng.choice("0123456789abcdef" + "0123456789" + "xyz") for _ in range(n))
    return pick_case(rng, name + digits)


def gen_expr(rng, depth):
    r = rng.random()
    if depth <= 0 or r < 0.3:
        return gen_number(rng) if rng.random() < 0.4 else gen_word(rng)
    if r < 0.55:
        return gen_expr(rng, depth - 1) + rng.choice(["", " "]) + rng.choice(BINOPS) + rng.choice(["", " "]) + gen_expr(rng, depth - 1)
    if r < 0.65:
        return rng.choice(UNOPS) + rng.choice(["", " "]) + gen_expr(rng, depth - 1)
    if r < 0.72:
        return "(" + gen_expr(rng, depth - 1) + ")"
    if r < 0.78:
        return pick_case(rng, "x") + "[" + gen_expr(rng, depth - 1) + "]"
    if r < 0.8:  # a function with the other bracket
        name = pick_case(rng, rng.choice(FUNCS + ["x"]))
        return name + ("(" if name in ("x", "X") else "[") + gen_expr(rng, depth - 1) + rng.choice([")", "]"])
    name = pick_case(rng, rng.choice(FUNCS))
    count = rng.choice([0, 1, 2, 2, 3, 3, 4, 5, 6, 8])
    args = []
    for i in range(count):
        if i < 2 and rng.random() < 0.6:
            args.append(str(rng.choice([-1, 0, 1, 2, 3, 4, 7, 8, 9, 26, 34, 37, 38])))
        else:
            args.append(gen_expr(rng, depth - 1))
    return name + "(" + rng.choice([",", ", "]).join(args) + ")"


def gen_text(rng):
    r = rng.random()
    exprs = [gen_expr(rng, rng.randrange(0, 5)) for _ in range(rng.randrange(1, 5))]
    text = exprs[0]
    for e in exprs[1:]:
        text += rng.choice(SEPARATORS) + e
    if rng.random() < 0.1:
        text = rng.choice(["", " ", "\t"]) + text + rng.choice(["", ",", " ", ", "])
    if r < 0.55:
        return text
    if r < 0.85:  # damaged: characters inserted, deleted or replaced, or the text cut short
        chars = list(text)
        for _ in range(rng.randrange(1, 4)):
            op = rng.random()
            at = rng.randrange(0, len(chars) + 1)
            if op < 0.4:
                chars.insert(at, rng.choice(NOISE))
            elif op < 0.7 and chars:
                del chars[min(at, len(chars) - 1)]
            elif op < 0.9 and chars:
                chars[min(at, len(chars) - 1)] = rng.choice(NOISE)
            else:
                chars = chars[:at]
        return "".join(chars)
    if r < 0.93:  # token soup
        return "".join(rng.choice(NOISE + ["rbit(", "w2(", "x[", "ds(", "set(", "get(", " ", "b0", "0x"]) for _ in range(rng.randrange(0, 25)))
    if r < 0.97:  # around the nesting limit
        n = rng.randrange(oracle.MAX_NESTING - 5, oracle.MAX_NESTING + 5)
        kind = rng.random()
        if kind < 0.4:
            return "(" * n + "b0" + ")" * n
        if kind < 0.7:
            return "".join(rng.choice(UNOPS) for _ in range(n)) + "b1"
        return "get(" * n + "1" + ")" * n
    # around the height limit: long chains of binary operators
    n = rng.randrange(oracle.MAX_HEIGHT - 5, oracle.MAX_HEIGHT + 5)
    return "+".join(["b0"] * n) if rng.random() < 0.5 else "b0" + "".join(rng.choice(BINOPS) + gen_number(rng) for _ in range(n))


def gen_key(rng):
    n = rng.randrange(0, 16)
    return bytes(rng.randrange(0, 256) for _ in range(n))


def encode(key, text):
    units = text.encode("utf-16-le")
    hex_units = "".join("%02X%02X" % (units[i + 1], units[i]) for i in range(0, len(units), 2))
    return key.hex().upper() + "\t" + hex_units


def decode_units(h):
    return "".join(chr(int(h[i:i + 4], 16)) for i in range(0, len(h), 4))


def compare(expected, line):
    parts = line.split(" ")
    if expected[0] == "ok":
        if parts[0] != "OK":
            return "expected values %r" % (expected[1],)
        got = [int(v) for v in parts[2:]]
        if int(parts[1]) != len(got) or got != expected[1]:
            return "values differ: expected %r" % (expected[1],)
        return None
    _, code, position, token = expected
    if parts[0] != "ERR":
        return "expected error %08X at %d" % (code, position)
    if int(parts[1], 16) != code or int(parts[2]) != position:
        return "expected error %08X at %d" % (code, position)
    want = oracle.message(code, token)
    got = decode_units(parts[3]) if len(parts) > 3 else ""
    if want is not None and got != want:
        return "message differs: expected %r, got %r" % (want, got)
    return None


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    wine_run, exe = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 12000
    seed = int(os.environ.get("KEYEXPR_SEED", "20240611"))
    oracle.self_test()

    rng = random.Random(seed)
    cases = [(gen_key(rng), gen_text(rng)) for _ in range(count)]
    expected = [oracle.evaluate(text, key) for key, text in cases]
    data = "".join(encode(key, text) + "\n" for key, text in cases)
    proc = subprocess.run([wine_run, exe], input=data.encode("ascii"), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=540)
    lines = proc.stdout.decode("ascii", "replace").replace("\r\n", "\n").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if proc.returncode != 0 or len(lines) != len(cases):
        print("evaluator failed: exit code %d, %d result lines for %d cases" % (proc.returncode, len(lines), len(cases)))
        print(proc.stderr.decode("utf-8", "replace")[-2000:])
        return 1

    mismatches = []
    outcomes = collections.Counter()
    for (key, text), want, line in zip(cases, expected, lines):
        outcomes["values" if want[0] == "ok" else "%08X" % want[1]] += 1
        problem = compare(want, line)
        if problem:
            mismatches.append((key, text, problem, line))
    print("seed %d: %d cases compared, %d mismatches" % (seed, len(cases), len(mismatches)))
    print("outcomes: " + ", ".join("%s %d" % kv for kv in sorted(outcomes.items())))
    for key, text, problem, line in mismatches[:20]:
        print("MISMATCH key=%s text=%r: %s; add-in: %s" % (key.hex(), text[:200], problem, line[:300]))
    # Every outcome of the language must have been exercised, or the comparison proves little.
    wanted = ["values"] + ["%08X" % c for c in (0x80040238, 0x80040239, 0x8004023A, 0x8004023B,
                                                0x8004023C, 0x8004023D, 0x8004023E, oracle.E_TOO_DEEP)]
    missing = [w for w in wanted if outcomes[w] == 0]
    if missing:
        print("outcomes never produced: " + ", ".join(missing))
    return 1 if mismatches or missing else 0


if __name__ == "__main__":
    sys.exit(main())
