#!/usr/bin/env python3
"""Writes the Traditional/Simplified tables used where the platform does not map, from OpenCC's dictionaries.

usage: gen_script_tables.py DUMP_FOLDER OUTPUT.inc

DUMP_FOLDER holds OpenCC's dictionaries as `opencc_dict -f ocd2 -t text` writes them: one `key<TAB>values`
line per entry, values separated by spaces, the first value being the one OpenCC uses. The mappings are those
of OpenCC's s2tw and tw2s configurations:

- Simplified to Traditional (s2tw): one longest match over STPhrases and STCharacters, then TWVariants. Since
  TWVariants holds single characters, its step is folded into the first one's values here, and so is the
  segmentation by STPhrases, which picks the same phrases as the first step.
- Traditional to Simplified (tw2s): text is first cut into segments by a longest match over TSPhrases; within
  each segment, a longest match over TWVariantsRevPhrases and TWVariantsRev, then one over TSPhrases and
  TSCharacters. No match crosses a segment's end.

Keys and values are UTF-16 units. Each table is written as flat arrays of numbers, keys and values as offsets
into one pool of units, the same bytes for the same dictionaries. Most units of a text are settled by their
cell, most others by the filter; most of the rest by the table of two-unit keys, the others by their group.
hash2 and hash3 are 64-bit multiplicative hashes of a key's first two or three units (see below).
  blocks      the block of 64 cells for each value of a unit's high ten bits (block 0: all zero)
  cells       per unit: bits 0-15 are added to the unit to give its value on its own (0: it stays); bit 16:
              a two-unit key of the pairs table or a key of three units or more starts with it; bit 17: a
              group starts with it whatever follows (its one-unit key has a value that is not one unit, or
              one of its two-unit keys a value that is not two units)
  filter      for each key of the pairs table, two bits in one word, all chosen by hash2 of its units (the
              word by the top bits, the bits by bits 17-26); for each key of three units or more, the same
              by hash3 of its first three units
  pairs       the two-unit keys with two-unit values, two numbers per slot: the key's units (the first in
              the high half; 0: empty slot) and the value's units (the first in the low half)
  groups      the other keys, grouped by their first three units (fewer for shorter keys, the missing ones
              0), two numbers per slot: the first two of those units as above, and the third with the
              group's first entry in the high half
  entries     sorted by group, then by key: the pool offset of the key's units after its group's (bits
              0-19), the key's length (bits 20-24), the value's length (bits 25-30; 0: the value is each
              key unit's own value and is not stored) and whether it is its group's last (bit 31); the value
              follows the key's units in the pool
Both open-addressing tables (pairs 70% full, groups, looked up less often, 85%) probe linearly from slot
(hash >> 32) * slots >> 32.
"""

import sys
from pathlib import Path

S2TW_STEPS = [["STPhrases", "STCharacters"], ["TWVariants"]]
TW2S_SEGMENTS = ["TSPhrases"]
TW2S_STEPS = [["TWVariantsRevPhrases", "TWVariantsRev"], ["TSPhrases", "TSCharacters"]]

MAY_START_LONGER = 1 << 16
ALWAYS_SEARCH = 1 << 17
BLOCK_BITS = 6
HASH2 = 0x9E3779B97F4A7C15
HASH3 = 0xC2B2AE3D27D4EB4F
MASK64 = (1 << 64) - 1


def units(text):
    data = text.encode("utf-16-le")
    return [data[i] | data[i + 1] << 8 for i in range(0, len(data), 2)]


def read_dictionary(folder, name):
    entries = {}
    with open(Path(folder) / (name + ".txt"), encoding="utf-8") as lines:
        for line in lines:
            key, values = line.rstrip("\n").split("\t")
            first = values.split(" ")[0]
            if not key or not first or key in entries:
                raise ValueError(f"{name}: bad or repeated entry {line!r}")
            # Positions in a text line up before and after mapping only because of this.
            if len(key) != len(first):
                raise ValueError(f"{name}: {key} and {first} differ in length")
            entries[key] = first
    if not entries:
        raise ValueError(f"{name}: empty")
    return entries


def group(folder, names):
    """One step's dictionaries as one: OpenCC takes the first dictionary that matches, and the longest key
    in it. That equals the longest key over all of them as long as every dictionary after the first holds
    single characters only and none repeats a key of an earlier one."""
    merged = read_dictionary(folder, names[0])
    for name in names[1:]:
        extra = read_dictionary(folder, name)
        if any(len(key) != 1 for key in extra) or any(key in merged for key in extra):
            raise ValueError(f"{name}: keys longer than one character or repeated from {names[0]}")
        merged.update(extra)
    return merged


def fold_character_step(first, characters):
    """The first step followed by a step of single characters, as one step."""
    def map_characters(text):
        return "".join(characters.get(c, c) for c in text)
    folded = {key: map_characters(value) for key, value in first.items()}
    for key, value in characters.items():
        folded.setdefault(key, value)
    return folded


def hash2(first, second):
    return ((first << 16 | second) * HASH2) & MASK64


def hash3(first, second, third):
    return ((hash2(first, second) ^ third) * HASH3) & MASK64


def filter_mask(h):
    """The two bits of its filter word that a hash sets: bits 17-21 and 22-26 of the hash choose them."""
    return 1 << (h >> 17 & 31) | 1 << (h >> 22 & 31)


def open_addressing(items, hash_of, fill):
    """`items`, (key numbers, numbers) with two numbers each, laid out two numbers per slot, `fill` full."""
    count = max(16, int(len(items) / fill))
    slots = [0] * (2 * count)
    for key in sorted(items):
        slot = (hash_of(key) >> 32) * count >> 32
        while slots[2 * slot] != 0:
            slot = (slot + 1) % count
        slots[2 * slot], slots[2 * slot + 1] = items[key]
    return count, slots


def build_table(mapping):
    cells = {}
    two = {}  # two-unit key to two-unit value
    groups = {}  # (first, second or 0, third or 0) to [(key units, value units)]
    for key, value in mapping.items():
        k, v = units(key), units(value)
        if len(k) == 1 and len(v) == 1:
            if v[0] != k[0]:
                cells[k[0]] = (v[0] - k[0]) & 0xFFFF
        elif len(k) == 2 and len(v) == 2:
            two[(k[0], k[1])] = v
        else:
            groups.setdefault(tuple((k + [0, 0])[:3]), []).append((k, v))

    flags = {}
    for first, *_ in two:
        flags[first] = flags.get(first, 0) | MAY_START_LONGER
    for first, _, third in groups:
        flags[first] = flags.get(first, 0) | (MAY_START_LONGER if third else ALWAYS_SEARCH)
    for unit, flag in flags.items():
        cells[unit] = cells.get(unit, 0) | flag

    entries, pool, firsts = [], [], {}
    for name in sorted(groups):
        firsts[name] = len(entries)
        keys = sorted(groups[name])
        for index, (key, value) in enumerate(keys):
            if len(key) > 31 or len(value) > 63:
                raise ValueError("key or value too long for an entry")
            own = [(u + cells.get(u, 0)) & 0xFFFF for u in key]
            stored = [] if len(key) > 1 and value == own else value
            last = index == len(keys) - 1
            entries.append(len(pool) | len(key) << 20 | len(stored) << 25 | last << 31)
            pool += key[min(len(key), 3):] + stored
    if len(pool) >= 1 << 20 or len(entries) > 0xFFFF:
        raise ValueError("table too large for its fields")

    blocks = [0] * (1 << (16 - BLOCK_BITS))
    block_cells = [[0] * (1 << BLOCK_BITS)]
    for high in sorted({u >> BLOCK_BITS for u in cells}):
        blocks[high] = len(block_cells)
        block_cells.append([cells.get(high << BLOCK_BITS | low, 0) for low in range(1 << BLOCK_BITS)])

    longer = [name for name in groups if name[2] != 0]
    words = 32
    while words * 32 < 40 * (len(two) + len(longer)):
        words <<= 1
    word_shift = 64 - (words.bit_length() - 1)
    filter_words = [0] * words
    for h in sorted([hash2(*pair) for pair in two] + [hash3(*name) for name in longer]):
        filter_words[h >> word_shift] |= filter_mask(h)

    pair_count, pairs = open_addressing(
        {pair: (pair[0] << 16 | pair[1], value[0] | value[1] << 16) for pair, value in two.items()},
        lambda pair: hash2(*pair), 0.7)
    group_count, group_slots = open_addressing(
        {name: (name[0] << 16 | name[1], name[2] | firsts[name] << 16) for name in groups},
        lambda name: hash3(*name), 0.85)
    return {
        "blocks": blocks,
        "cells": [c for block in block_cells for c in block],
        "filter": filter_words,
        "pairs": pairs,
        "groups": group_slots,
        "entries": entries,
        "pool": pool,
        "numbers": [word_shift, pair_count, group_count],
    }


def render_array(type_name, name, numbers):
    lines = [f"static const {type_name} {name}[{len(numbers)}] = {{"]
    for i in range(0, len(numbers), 12):
        lines.append("    " + " ".join(f"{n:#x}," for n in numbers[i:i + 12]))
    lines.append("};")
    return lines


def render_table(name, table):
    arrays = [("unsigned short", "Blocks", "blocks"), ("unsigned", "Cells", "cells"), ("unsigned", "Filter", "filter"),
              ("unsigned", "Pairs", "pairs"), ("unsigned", "Groups", "groups"), ("unsigned", "Entries", "entries"),
              ("unsigned short", "Pool", "pool")]
    lines = []
    for type_name, suffix, field in arrays:
        lines += render_array(type_name, name + suffix, table[field] or [0])
    fields = ", ".join([name + suffix for _, suffix, _ in arrays] + [str(n) for n in table["numbers"]])
    lines.append(f"const ScriptTable {name} = {{{fields}}};")
    return lines + [""]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    folder, output = sys.argv[1], Path(sys.argv[2])
    s2tw = fold_character_step(group(folder, S2TW_STEPS[0]), group(folder, S2TW_STEPS[1]))
    tables = {
        "kSimplifiedToTraditional": s2tw,
        "kTraditionalSegments": group(folder, TW2S_SEGMENTS),
        "kTraditionalVariants": group(folder, TW2S_STEPS[0]),
        "kTraditionalToSimplified": group(folder, TW2S_STEPS[1]),
    }
    # The segments are found in the source text and used again on the variants step's output: the same
    # places only if that step keeps every unit count.
    for key, value in tables["kTraditionalVariants"].items():
        if len(units(key)) != len(units(value)):
            raise ValueError(f"TWVariantsRev: {key} and {value} differ in UTF-16 length")
    lines = ["// Generated by tools/gen_script_tables.py from OpenCC's dictionaries. Do not edit.", ""]
    for name, mapping in tables.items():
        lines += render_table(name, build_table(mapping))
    output.parent.mkdir(parents=True, exist_ok=True)
    output.write_text("\n".join(lines), encoding="utf-8")


if __name__ == "__main__":
    main()
