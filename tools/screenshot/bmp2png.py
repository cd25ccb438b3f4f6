#!/usr/bin/env python3
"""Turns the BMP files that parvelshot writes into PNG files, with Python's standard library only.

    bmp2png.py IN.bmp OUT.png

Reads uncompressed 24- and 32-bit BMPs (bottom-up or top-down) and writes an 8-bit RGB PNG.
"""
import struct
import sys
import zlib


def read_bmp(data):
    """Returns (width, height, rows) with rows top to bottom as bytes of R, G, B triples."""
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    header_size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if header_size < 40 or bits not in (24, 32) or compression not in (0, 3):
        raise ValueError("unsupported BMP: %d bits, compression %d" % (bits, compression))
    top_down = height < 0
    height = abs(height)
    if width <= 0 or height == 0:
        raise ValueError("empty BMP")
    step = bits // 8
    stride = (width * step + 3) & ~3
    if offset + stride * height > len(data):
        raise ValueError("BMP pixel data is cut short")
    rows = []
    for y in range(height):
        start = offset + stride * (y if top_down else height - 1 - y)
        row = data[start:start + width * step]
        rgb = bytearray(width * 3)
        rgb[0::3] = row[2::step]
        rgb[1::3] = row[1::step]
        rgb[2::3] = row[0::step]
        rows.append(bytes(rgb))
    return width, height, rows


def png_bytes(width, height, rows):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    raw = b"".join(b"\x00" + row for row in rows)  # filter 0 on every row
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def png_size(path):
    """(width, height) from a PNG file's header."""
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise ValueError("%s is not a PNG file" % path)
    return struct.unpack(">II", head[16:24])


def convert(source, target):
    with open(source, "rb") as f:
        width, height, rows = read_bmp(f.read())
    with open(target, "wb") as f:
        f.write(png_bytes(width, height, rows))
    return width, height


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: bmp2png.py IN.bmp OUT.png")
    try:
        convert(sys.argv[1], sys.argv[2])
    except (OSError, ValueError) as e:
        sys.exit("bmp2png: %s" % e)
