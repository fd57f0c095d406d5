#include "phrase_map.h"

namespace {

// One longest-match dictionary, laid out as tools/gen_script_tables.py describes.
struct ScriptTable {
    const unsigned short* blocks;
    const unsigned* cells;
    const unsigned* filter;
    const unsigned* pairs;
    const unsigned* groups;
    const unsigned* entries;
    const unsigned short* pool;
    unsigned wordShift;
    unsigned pairCount;
    unsigned groupCount;
};

#include "script_tables.inc"

constexpr unsigned kBlockBits = 6;
constexpr unsigned kMayStartLonger = 1u << 16;
constexpr unsigned kAlwaysSearch = 1u << 17;

unsigned CellOf(const ScriptTable& table, unsigned unit) {
    return table.cells[table.blocks[unit >> kBlockBits] << kBlockBits | (unit & ((1u << kBlockBits) - 1))];
}

// A unit's value on its own: the low half of its cell is added to it.
wchar_t OwnValue(unsigned cell, unsigned unit) {
    return static_cast<wchar_t>((unit + cell) & 0xFFFFu);
}

UINT64 Hash2(unsigned first, unsigned second) {
    return (static_cast<UINT64>(first) << 16 | second) * 0x9E3779B97F4A7C15ull;
}

UINT64 Hash3(UINT64 hash2, unsigned third) {
    return (hash2 ^ third) * 0xC2B2AE3D27D4EB4Full;
}

// The filter's two questions (may a two-unit key of the pairs table start here? may a key of three units or
// more?) are each answered by two bits of one word, chosen by ten bits of the hash from this place on.
constexpr unsigned kTwoUnitKey = 17;
constexpr unsigned kThreeUnitPrefix = 17;

// The two bits of a word that ten bits of a hash choose, by those bits: a read instead of two shifts.
struct BitPairs {
    unsigned masks[1024];
};
constexpr BitPairs MakeBitPairs() {
    BitPairs pairs = {};
    for (unsigned i = 0; i < 1024; ++i)
        pairs.masks[i] = 1u << (i & 31u) | 1u << (i >> 5);
    return pairs;
}
constexpr BitPairs kBitPairs = MakeBitPairs();

unsigned MaskOf(UINT64 hash, unsigned question) {
    return kBitPairs.masks[hash >> question & 1023u];
}

bool FilterSays(const unsigned* filter, unsigned wordShift, UINT64 hash, unsigned question) {
    const unsigned mask = MaskOf(hash, question);
    return (filter[hash >> wordShift] & mask) == mask;
}

// The slot of an open-addressing table that holds `key` as its first number, or null.
const unsigned* Find(const unsigned* slots, unsigned count, UINT64 hash, unsigned key, unsigned keyMask,
                     unsigned second) {
    unsigned slot = static_cast<unsigned>((hash >> 32) * count >> 32);
    for (;;) {
        const unsigned* found = slots + 2 * slot;
        if (found[0] == key && (found[1] & keyMask) == second)
            return found;
        if (found[0] == 0)
            return nullptr;
        slot = slot + 1 == count ? 0 : slot + 1;
    }
}

// The value's two units of the two-unit key `first second` (the first in the low half), or 0.
unsigned PairValue(const ScriptTable& table, unsigned first, unsigned second) {
    const unsigned* slot = Find(table.pairs, table.pairCount, Hash2(first, second), first << 16 | second, 0, 0);
    return slot != nullptr ? slot[1] : 0;
}

unsigned KeyLength(unsigned entry) {
    return entry >> 20 & 31u;
}

unsigned ValueLength(unsigned entry) {
    return entry >> 25 & 63u;
}

bool LastOfGroup(unsigned entry) {
    return (entry >> 31) != 0;
}

// The key's units after its group's, followed in the pool by the value's units when it has them.
const unsigned short* KeyRest(const ScriptTable& table, unsigned entry) {
    return table.pool + (entry & 0xFFFFFu);
}

unsigned GroupUnits(unsigned keyLength) {
    return keyLength < 3 ? keyLength : 3;
}

// The key found at a place in the text: its length in units, and where its value is.
enum class Found { OwnValue, Entry, Pair };
struct Match {
    UINT64 units;
    Found found;
    unsigned value;  // the entry, or the pair's two value units
};

// Takes a longer key of the group of `first second third` that `text` starts with, within `room` units.
void MatchGroup(const ScriptTable& table, unsigned first, unsigned second, unsigned third, const wchar_t* text,
                UINT64 room, Match* match) {
    const unsigned* slot = Find(table.groups, table.groupCount, Hash3(Hash2(first, second), third),
                                first << 16 | second, 0xFFFFu, third);
    if (slot == nullptr)
        return;
    for (unsigned e = slot[1] >> 16;; ++e) {
        const unsigned entry = table.entries[e];
        const unsigned length = KeyLength(entry);
        // A one-unit key's entry takes the place of the unit's own value.
        if (length <= room && (length > match->units || match->found == Found::OwnValue)) {
            const unsigned short* rest = KeyRest(table, entry);
            unsigned same = GroupUnits(length);
            while (same < length && rest[same - GroupUnits(length)] == text[same])
                ++same;
            if (same == length)
                *match = {length, Found::Entry, e};
        }
        if (LastOfGroup(entry))
            return;
    }
}

// The longest key that `text` starts with, within `room` units; `cell` is that of its first unit.
Match LongestKey(const ScriptTable& table, unsigned cell, const wchar_t* text, UINT64 room) {
    Match match = {1, Found::OwnValue, 0};
    if (cell & kAlwaysSearch) {
        MatchGroup(table, text[0], 0, 0, text, room, &match);
        if (room >= 2)
            MatchGroup(table, text[0], text[1], 0, text, room, &match);
    }
    if (room < 2)
        return match;
    const unsigned pair = PairValue(table, text[0], text[1]);
    if (pair != 0)
        match = {2, Found::Pair, pair};
    if (room >= 3 &&
        FilterSays(table.filter, table.wordShift, Hash3(Hash2(text[0], text[1]), text[2]), kThreeUnitPrefix))
        MatchGroup(table, text[0], text[1], text[2], text, room, &match);
    return match;
}

// OpenCC's tw2s first cuts the text into segments, each a phrase of its segmentation dictionary or a run of
// text where none starts, and no key of a later step may cross a segment's end. Segments are found as the
// mapping moves on, from the source text.
struct Segments {
    const ScriptTable* table;
    const WideText* text;
    UINT64 end;  // of the segment found last
};

UINT64 SegmentKeyAt(const Segments& segments, UINT64 place) {
    const wchar_t* text = segments.text->units;
    const unsigned cell = CellOf(*segments.table, text[place]);
    if (cell < kMayStartLonger)
        return 0;
    const Match match = LongestKey(*segments.table, cell, text + place, segments.text->length - place);
    return match.found == Found::OwnValue ? 0 : match.units;
}

// The end of the segment that holds `place`; places asked for never go back.
UINT64 SegmentEnd(Segments* segments, UINT64 place) {
    while (segments->end <= place) {
        const UINT64 start = segments->end;
        const UINT64 phrase = SegmentKeyAt(*segments, start);
        if (phrase != 0) {
            segments->end = start + phrase;
            continue;
        }
        UINT64 next = start + 1;
        while (next < segments->text->length && SegmentKeyAt(*segments, next) == 0)
            ++next;
        segments->end = next;
    }
    return segments->end;
}

// One step over one text: the source, and the mapped text as it grows (`out.length` is its room, `used` what
// is written).
struct Step {
    const ScriptTable* table;
    const wchar_t* source;
    UINT64 length;
    Segments* segments;
    WideText out;
    UINT64 used;
};

// The longest key at source place `i`, within its segment.
Match KeyAt(Step* step, UINT64 i) {
    const ScriptTable& table = *step->table;
    const UINT64 end = step->segments != nullptr ? SegmentEnd(step->segments, i) : step->length;
    return LongestKey(table, CellOf(table, step->source[i]), step->source + i, end - i);
}

// The value's units of `match`, found at `source`, and their count.
const unsigned short* EntryValue(const ScriptTable& table, const Match& match, unsigned* valueLength) {
    const unsigned entry = table.entries[match.value];
    *valueLength = ValueLength(entry);
    return KeyRest(table, entry) + (match.units - GroupUnits(static_cast<unsigned>(match.units)));
}

// Writes the value of `match`, found at `source`, at `out`; `out` has room for it.
void WriteValue(const ScriptTable& table, const Match& match, const wchar_t* source, wchar_t* out) {
    if (match.found == Found::OwnValue) {
        out[0] = OwnValue(CellOf(table, source[0]), source[0]);
        return;
    }
    if (match.found == Found::Pair) {
        out[0] = static_cast<wchar_t>(match.value & 0xFFFFu);
        out[1] = static_cast<wchar_t>(match.value >> 16);
        return;
    }
    unsigned valueLength;
    const unsigned short* value = EntryValue(table, match, &valueLength);
    if (valueLength == 0) {
        for (UINT64 k = 0; k < match.units; ++k)
            out[k] = OwnValue(CellOf(table, source[k]), source[k]);
        return;
    }
    for (unsigned k = 0; k < valueLength; ++k)
        out[k] = static_cast<wchar_t>(value[k]);
}

// The value's length in units.
UINT64 ValueUnits(const ScriptTable& table, const Match& match) {
    if (match.found != Found::Entry)
        return match.units;
    unsigned valueLength;
    EntryValue(table, match, &valueLength);
    return valueLength != 0 ? valueLength : match.units;
}

// Maps the rest of the text from source place `i` on, one key after another, the mapped text growing as
// values need: the way for values of another length in units than their keys.
bool MapOneByOne(Step* step, UINT64 i) {
    const ScriptTable& table = *step->table;
    while (i < step->length) {
        const Match match = KeyAt(step, i);
        const UINT64 valueUnits = ValueUnits(table, match);
        i += match.units;
        // Every source unit still to come keeps room for one mapped unit.
        const UINT64 needed = step->used + valueUnits + (step->length - i);
        if (needed > step->out.length && !ResizeWideText(needed + needed / 8 + 64, &step->out))
            return false;
        WriteValue(table, match, step->source + i - match.units, step->out.units + step->used);
        step->used += valueUnits;
    }
    return true;
}

// What may start at a place whose first unit's cell is of `kind` (its bits 16 and 17, not 0), by the
// place's first three units: nothing but the first unit's own value (0), a two-unit key of the pairs table
// and nothing longer (kMayBePair), or something to look up in full (any other). Computed without a branch.
constexpr unsigned kMayBePair = 1;

unsigned WhatMayStart(const ScriptTable& table, unsigned kind, unsigned unit, unsigned next, unsigned third) {
    const UINT64 hash = Hash2(unit, next);
    const UINT64 hash3 = Hash3(hash, third);
    const unsigned pairMask = MaskOf(hash, kTwoUnitKey);
    const unsigned longerMask = MaskOf(hash3, kThreeUnitPrefix);
    const unsigned pair = (table.filter[hash >> table.wordShift] & pairMask) == pairMask;
    const unsigned longer = (table.filter[hash3 >> table.wordShift] & longerMask) == longerMask;
    // Kind 1: longer keys start with this unit; kinds 2 and 3: it is always looked up.
    return (kind & pair) | (kind & longer) << 1 | (kind & 2);
}

constexpr unsigned kBlockUnits = 4096;

// One step: at each place the longest key of `table` that starts there (within its segment when `segments`
// is given) is replaced by its value; where none starts, the unit stays. A block of text at a time, every
// unit is first given its own value and marked where a longer key may start, without a branch that is hard
// to foresee; then only the marked places are looked at, in order, each match overwriting the values of the
// units it takes. While values keep their keys' length, each unit keeps its place.
bool MapStep(const ScriptTable& table, const WideText& text, Segments* segments, WideText* mapped) {
    Step step = {&table, text.units, text.length, segments, {}, 0};
    if (!AllocateWideText(text.length, &step.out))
        return false;
    const wchar_t* const source = text.units;
    wchar_t* const out = step.out.units;
    unsigned marked[kBlockUnits];
    UINT64 done = 0;
    while (done < text.length) {
        const UINT64 blockEnd = text.length - done < kBlockUnits ? text.length : done + kBlockUnits;
        // Every unit's own value, and the places where some key longer than one unit starts with the unit,
        // with the kind of its cell.
        unsigned count = 0;
        for (UINT64 i = done; i < blockEnd; ++i) {
            const unsigned unit = source[i];
            const unsigned cell = CellOf(table, unit);
            out[i] = OwnValue(cell, unit);
            marked[count] = static_cast<unsigned>(i - done) << 2 | cell >> 16;
            count += cell >= kMayStartLonger;
        }
        // Of those, the places where the units that follow may make a key.
        unsigned kept = 0;
        for (unsigned m = 0; m < count; ++m) {
            const UINT64 i = done + (marked[m] >> 2);
            // The unit after the last is the terminator, which no key holds; the one after that is only
            // read while there is one.
            const unsigned third = i + 1 < text.length ? source[i + 2] : 0;
            const unsigned what = WhatMayStart(table, marked[m] & 3u, source[i], source[i + 1], third);
            marked[kept] = (marked[m] & ~3u) | what;
            kept += what != 0;
        }
        count = kept;
        UINT64 next = done;
        for (unsigned m = 0; m < count; ++m) {
            const UINT64 i = done + (marked[m] >> 2);
            if (i < next)
                continue;
            if ((marked[m] & 3u) == kMayBePair && segments == nullptr) {
                const unsigned value = PairValue(table, source[i], source[i + 1]);
                if (value != 0) {
                    out[i] = static_cast<wchar_t>(value & 0xFFFFu);
                    out[i + 1] = static_cast<wchar_t>(value >> 16);
                    next = i + 2;
                }
                continue;
            }
            const Match match = KeyAt(&step, i);
            if (ValueUnits(table, match) != match.units) {
                step.used = i;
                if (!MapOneByOne(&step, i)) {
                    FreeWideText(&step.out);
                    return false;
                }
                step.out.units[step.used] = 0;
                *mapped = {step.out.units, step.used};
                return true;
            }
            WriteValue(table, match, source + i, out + i);
            next = i + match.units;
        }
        done = next > blockEnd ? next : blockEnd;
    }
    *mapped = step.out;
    return true;
}

}  // namespace

bool MapPhrases(bool toSimplified, const WideText& text, WideText* mapped) {
    *mapped = {};
    if (!toSimplified)
        return MapStep(kSimplifiedToTraditional, text, nullptr, mapped);
    // The variants step keeps every unit in its place, so the segments of the source serve both steps.
    Segments segments = {&kTraditionalSegments, &text, 0};
    WideText variants;
    if (!MapStep(kTraditionalVariants, text, &segments, &variants))
        return false;
    segments.end = 0;
    const bool mappedOk = MapStep(kTraditionalToSimplified, variants, &segments, mapped);
    FreeWideText(&variants);
    return mappedOk;
}
