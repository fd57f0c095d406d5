#!/usr/bin/env python3
"""Builds a 16-colour Windows icon (.ico) from the pixel maps of a text file.

The source file holds a palette section and one section per image:

    palette
    K 000000 black          <- letter, RGB in hex, name; at most 16 colours, in palette order
    ...
    image 32                <- a square image of 32 x 32 pixels follows, one row per line
    ..KKKK..
    ...

"." is a transparent pixel; lines starting with "#" are comments. Each image becomes a 4-bit
(16-colour) entry of the icon, in the order given. With --png, a scaled preview of every image
(side by side, on a checkered background) is written as well.

usage: make_icon.py SOURCE OUTPUT.ico [--png PREVIEW.png]
"""

import struct
import sys
import zlib

TRANSPARENT = "."


def parse(path):
    palette = []  # (letter, (r, g, b))
    images = []  # (size, rows)
    section = None
    with open(path, encoding="utf-8") as source:
        for number, line in enumerate(source, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            words = line.split()
            if words[0] == "palette":
                section = "palette"
            elif words[0] == "image":
                size = int(words[1])
                images.append((size, []))
                section = "image"
            elif section == "palette":
                rgb = int(words[1], 16)
                palette.append((words[0], (rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF)))
            elif section == "image":
                size, rows = images[-1]
                if len(line) != size:
                    sys.exit(f"{path}:{number}: a row of image {size} must be {size} pixels, not {len(line)}")
                rows.append(line)
            else:
                sys.exit(f"{path}:{number}: pixels before any 'image' line")
    if not 1 <= len(palette) <= 16:
        sys.exit(f"{path}: the palette needs 1 to 16 colours, not {len(palette)}")
    letters = {letter: index for index, (letter, _) in enumerate(palette)}
    for size, rows in images:
        if len(rows) != size:
            sys.exit(f"{path}: image {size} has {len(rows)} rows")
        for row in rows:
            for pixel in row:
                if pixel != TRANSPARENT and pixel not in letters:
                    sys.exit(f"{path}: image {size} uses '{pixel}', which is not in the palette")
    return palette, letters, images


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def icon_image(palette, letters, size, rows):
    """One icon entry: BITMAPINFOHEADER, 16-entry colour table, 4-bit colour bitmap, 1-bit mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 0, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for _, (r, g, b) in palette)
    colours += b"\0\0\0\0" * (16 - len(palette))
    colour_bits = b""
    mask_bits = b""
    for row in reversed(rows):  # bottom-up, as Windows bitmaps are stored
        indexes = [0 if p == TRANSPARENT else letters[p] for p in row]
        colour_bits += padded(bytes(indexes[i] << 4 | indexes[i + 1] for i in range(0, size, 2)))
        mask = 0
        for p in row:
            mask = mask << 1 | (p == TRANSPARENT)
        mask_bits += padded(mask.to_bytes(size // 8, "big"))
    return header + colours + colour_bits + mask_bits


def write_icon(path, palette, letters, images):
    entries = [icon_image(palette, letters, size, rows) for size, rows in images]
    directory = struct.pack("<HHH", 0, 1, len(entries))
    offset = len(directory) + 16 * len(entries)
    for (size, _), data in zip(images, entries):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, "wb") as out:
        out.write(directory + b"".join(entries))


def write_preview(path, palette, letters, images, scale=8, gap=16):
    width = sum(size * scale for size, _ in images) + gap * (len(images) + 1)
    height = max(size for size, _ in images) * scale + gap * 2
    pixels = [[(0xE0, 0xE0, 0xE0) if (x // 8 + y // 8) % 2 else (0xFF, 0xFF, 0xFF) for x in range(width)]
              for y in range(height)]
    left = gap
    for size, rows in images:
        for y, row in enumerate(rows):
            for x, p in enumerate(row):
                if p == TRANSPARENT:
                    continue
                colour = palette[letters[p]][1]
                for dy in range(scale):
                    pixels[gap + y * scale + dy][left + x * scale:left + (x + 1) * scale] = [colour] * scale
        left += size * scale + gap
    raw = b"".join(b"\0" + bytes(c for pixel in line for c in pixel) for line in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


def main(argv):
    if len(argv) not in (3, 5) or (len(argv) == 5 and argv[3] != "--png"):
        sys.exit(__doc__.strip().splitlines()[-1])
    palette, letters, images = parse(argv[1])
    write_icon(argv[2], palette, letters, images)
    if len(argv) == 5:
        write_preview(argv[4], palette, letters, images)


if __name__ == "__main__":
    main(sys.argv)
