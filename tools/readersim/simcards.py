"""Card memories for the framed protocols: Mifare Classic sectors and blocks
with their keys A and B, and the Ultralight write rules with lock bits.

Keys are 48-bit numbers ("3C7A91E5B20D"); a sector trailer holds key A in
bytes 0-5 and key B in bytes 10-15, least significant byte first, which is the
order in which the engine sends a key. Writing a trailer changes that
sector's keys.
"""

from simvocab import SimError, parse_hex

DEFAULT_KEY = 0x3C7A91E5B20D       # the engine's default sector key
ACCESS_BITS = bytes([0xFF, 0x07, 0x80, 0x69])
# SAK and ATQA a binary reader reports for a key type (the inverse of the
# engine's classification; ProX and Mifare Plus 1K have none).
SELECT_VALUES = {4: (0x0044, 0x00), 5: (0x0004, 0x08), 6: (0x0002, 0x18),
                 7: (0x0344, 0x20), 13: (0x0048, 0x20), 15: (0x0004, 0x10),
                 16: (0x0002, 0x11), 17: (0x0004, 0x09)}


def parse_key(value, what):
    """A 48-bit key from a number or 12 hex digits (most significant first)."""
    if isinstance(value, bool):
        raise SimError("%s must be 12 hex digits" % what)
    if isinstance(value, int):
        key = value
    else:
        data = parse_hex(value, what)
        if len(data) != 6:
            raise SimError("%s must be 6 bytes (12 hex digits)" % what)
        key = int.from_bytes(data, "big")
    if not 0 <= key < 1 << 48:
        raise SimError("%s is not a 48-bit key" % what)
    return key


def key_bytes(key):
    return key.to_bytes(6, "little")


def sector_of(block):
    return block // 4 if block < 128 else 32 + (block - 128) // 16


def trailer_of(sector):
    return 4 * sector + 3 if sector < 32 else 128 + 16 * (sector - 32) + 15


class ClassicMemory:
    """The blocks of a Mifare Classic 1K (64 blocks), 4K (256) or Mini (20).

    Block 0 holds the UID, its check byte, SAK and ATQA; data block b holds
    (16 b + j) & 0xFF in byte j; every trailer holds the keys and open access
    bits (either key may read and write every block but block 0)."""

    def __init__(self, key_type, uid, sak, atqa, key_a=DEFAULT_KEY, key_b=DEFAULT_KEY,
                 data=b""):
        self.count = {5: 64, 6: 256, 17: 20}[key_type]
        self.blocks = [bytearray(((16 * b + j) & 0xFF) for j in range(16))
                       for b in range(self.count)]
        bcc = 0
        for x in uid[:4]:
            bcc ^= x
        head = bytes(uid) + bytes([bcc, sak, atqa & 0xFF, atqa >> 8])
        self.blocks[0][:] = (head + bytes(16))[:16]
        for s in range(sector_of(self.count - 1) + 1):
            self.blocks[trailer_of(s)][:] = key_bytes(key_a) + ACCESS_BITS + key_bytes(key_b)
        if len(data) > 16 * self.count:
            raise SimError("memory holds %d bytes at most" % (16 * self.count))
        for i in range(0, len(data), 16):
            chunk = data[i:i + 16]
            self.blocks[i // 16][:len(chunk)] = chunk

    def key(self, sector, key_b):
        t = self.blocks[trailer_of(sector)]
        return int.from_bytes(bytes(t[10:16] if key_b else t[0:6]), "little")

    def read(self, block):
        """What a read returns: a trailer shows zeros in place of key A."""
        data = bytes(self.blocks[block])
        if block == trailer_of(sector_of(block)):
            data = bytes(6) + data[6:]
        return data

    def write(self, block, data):
        """None, or the reason the block cannot be written."""
        if block == 0:
            return "block 0 is read-only"
        self.blocks[block][:] = data
        return None

    def info(self):
        sectors = sector_of(self.count - 1) + 1
        return {"blocks": "".join(b.hex().upper() for b in self.blocks),
                "keys_a": ["%012X" % self.key(s, False) for s in range(sectors)],
                "keys_b": ["%012X" % self.key(s, True) for s in range(sectors)]}


def ultralight_locked(card, page):
    """Whether a page of an Ultralight card refuses writes: the pages listed as
    locked, and pages 3-15 whose lock bit is set in page 2 (byte 2 bits 3-7
    lock pages 3-7, byte 3 bits 0-7 lock pages 8-15)."""
    if page in card.locked:
        return True
    lock0, lock1 = card.memory[10], card.memory[11]
    if 3 <= page <= 7:
        return bool(lock0 >> page & 1)
    if 8 <= page <= 15:
        return bool(lock1 >> (page - 8) & 1)
    return False


def ultralight_write(card, page, data):
    """Writes one page; None, or "bad page" / "page lock". Page 2 takes only its
    lock bytes and page 3 (one-time bits) only sets bits, as on the card."""
    if page >= card.pages:
        return "bad page"
    if ultralight_locked(card, page):
        return "page lock"
    at = page * 4
    if page == 2:
        card.memory[at + 2] |= data[2]
        card.memory[at + 3] |= data[3]
    elif page == 3:
        for i in range(4):
            card.memory[at + i] |= data[i]
    else:
        card.memory[at:at + 4] = data
    return None


def ultralight_read(card, page):
    """Four pages from page on (wrapping at the card's end), or None."""
    if page >= card.pages:
        return None
    out = bytearray()
    for i in range(4):
        p = (page + i) % card.pages
        out += card.memory[p * 4:p * 4 + 4]
    return bytes(out)
