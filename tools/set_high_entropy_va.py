#!/usr/bin/env python3
"""Marks a 64-bit PE image as high-entropy-VA compatible and refreshes its checksum.

GNU ld drops --high-entropy-va when the dynamic base is disabled, yet QTX.exe is a fixed-base image that
still declares the flag (IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA, 0x0020). This sets the flag in the
optional header in place and recomputes the header checksum, which ld fills in, so the two stay consistent.

usage: set_high_entropy_va.py IMAGE.exe
"""

import struct
import sys

HIGH_ENTROPY_VA = 0x0020
PE32_PLUS = 0x20B
CHECKSUM_OFFSET = 64  # within the optional header
DLL_CHARACTERISTICS_OFFSET = 70


def pe_checksum(image, checksum_at):
    """The PE checksum: 16-bit one's-complement-style sum of the file, checksum field taken as 0, plus its length."""
    data = image[:checksum_at] + b"\0\0\0\0" + image[checksum_at + 4:]
    if len(data) % 2:
        data += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total & 0xFFFF) + len(image)


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    path = argv[1]
    with open(path, "rb") as f:
        image = bytearray(f.read())
    (pe_at,) = struct.unpack_from("<I", image, 0x3C)
    if image[:2] != b"MZ" or image[pe_at:pe_at + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE image")
    optional_at = pe_at + 24
    (magic,) = struct.unpack_from("<H", image, optional_at)
    if magic != PE32_PLUS:
        sys.exit(f"{path}: not a 64-bit (PE32+) image")

    flags_at = optional_at + DLL_CHARACTERISTICS_OFFSET
    (flags,) = struct.unpack_from("<H", image, flags_at)
    struct.pack_into("<H", image, flags_at, flags | HIGH_ENTROPY_VA)
    checksum_at = optional_at + CHECKSUM_OFFSET
    struct.pack_into("<I", image, checksum_at, pe_checksum(image, checksum_at))

    with open(path, "wb") as f:
        f.write(image)


if __name__ == "__main__":
    main(sys.argv)
