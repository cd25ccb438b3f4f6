#!/usr/bin/env python3
"""Draws the program's icon (ConfigParvel.ico, 16 and 32 pixels) and the header sort arrows
(SortArrows.bmp: two 16x16 images on magenta, ascending then descending). Run it from this folder
after changing the drawing; the results are committed."""
import struct


def icon_image(size):
    # A blue card with a white reader wave: 32-bit BGRA rows bottom-up, then the AND mask.
    px = []
    for y in range(size):
        row = []
        for x in range(size):
            fy = size - 1 - y
            m = size // 8
            inside = m <= x < size - m and m + size // 8 <= fy < size - m - size // 8
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            cx, cy = x - size * 0.3, fy - size * 0.5
            r2 = cx * cx + cy * cy
            ring = any(abs(r2 ** 0.5 - k * size / 8) < size / 32 + 0.5 for k in (1, 2, 3)) and cx > 0
            row.append((255, 255, 255, 255) if ring else (0xB0, 0x5A, 0x1E, 255))
        px.append(row)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    data = b''.join(bytes(c) for row in px for c in row)
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)
    return header + data + mask


def write_icon(path):
    images = [icon_image(16), icon_image(32)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in zip((16, 32), images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    out += b''.join(images)
    open(path, 'wb').write(out)


def write_arrows(path):
    w, h = 32, 16
    magenta, grey = (255, 0, 255), (96, 96, 96)
    rows = []
    for y in range(h):  # bottom-up
        fy = h - 1 - y
        row = b''
        for x in range(w):
            lx = x % 16
            up = x < 16
            t = fy - 5 if up else 10 - fy  # 0 at the tip
            on = 0 <= t <= 5 and abs(lx - 7.5) <= t + 0.5
            b, g, r = (grey[2], grey[1], grey[0]) if on else (magenta[2], magenta[1], magenta[0])
            row += bytes((b, g, r))
        rows.append(row)
    data = b''.join(rows)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    file_header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(data), 0, 0, 14 + 40)
    open(path, 'wb').write(file_header + info + data)


write_icon('ConfigParvel.ico')
write_arrows('SortArrows.bmp')
