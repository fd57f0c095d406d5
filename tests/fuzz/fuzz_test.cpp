// Fuzzing the conversion: real Chinese text in every format, then broken in every way a file can be broken,
// through all 30 conversions. Most cases run in memory (ConvertText); every 100th also goes through
// ConvertFile on a real file.
//
// What must hold, for any input: the input is refused exactly when it isn't text in the source format (a
// zero byte or unit, an odd-length UTF-16 file, another encoding's signature at the head, UTF-8 that is
// not valid), and a file refused keeps its bytes; otherwise the result is a complete file of
// the target: its signature, no zero byte or unit, a body that decodes cleanly (UTF-8 with
// MB_ERR_INVALID_CHARS, a code page by round trip), holding exactly the input's text, mapped to the
// target's script as OpenCC maps it (computed here from OpenCC's dictionaries, see OpenccMap), for a code
// page with each mapped character it does not hold put back to the source character where it holds that
// one, and each character the target can't hold replaced as the platform
// replaces it alone. For unbroken text the bytes are known in advance from Python's codecs
// (make_fuzz_tables.py) and must match exactly. No temporary file may be left beside a converted file.
//
// QTX_FUZZ_CASES (default 40000) and QTX_FUZZ_SEED choose the run; QTX_FUZZ_CASE replays one case.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "file_conversion.h"
#include "fuzz_tables.h"
#include "test_files.h"
#include "text_conversion.h"

namespace {

using fuzz_tables::Character;
using Units = std::u16string;

struct Format {
    const char* name;
    char family;    // 'T' or 'S'
    UINT codePage;  // 0 for UTF-16
    Bytes signature;
};
const Format kFormats[6] = {
    {"TraditionalUnicode", 'T', 0, "\xFF\xFE"},
    {"TraditionalUtf8", 'T', CP_UTF8, "\xEF\xBB\xBF"},
    {"TraditionalBig5", 'T', 950, ""},
    {"SimplifiedUnicode", 'S', 0, "\xFF\xFE"},
    {"SimplifiedUtf8", 'S', CP_UTF8, "\xEF\xBB\xBF"},
    {"SimplifiedGb2312", 'S', 936, ""},
};

// splitmix64: small, fast, and the same on every machine.
struct Random {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
    bool Percent(unsigned p) { return Below(100) < p; }
};

// --- Reference tables -------------------------------------------------------------------------------------

const Character* Find(char32_t code) {
    const auto* end = std::end(fuzz_tables::kCharacters);
    const auto* it = std::lower_bound(std::begin(fuzz_tables::kCharacters), end, code,
                                      [](const Character& c, char32_t v) { return c.code < v; });
    return it != end && it->code == code ? it : nullptr;
}

// OpenCC's s2tw and tw2s done the way OpenCC's own code does them, from its dictionaries dumped as text
// (where the build dumped them): the text is cut into segments, each a longest phrase of a
// segmentation dictionary or a run where none starts; each segment then goes through each step, where at
// each place the first dictionary of the step that has a key there gives its longest key's first value.
// Nothing here shares code or tables with the program.
struct Dictionary {
    Units text;  // the dump; keys and values point into it
    std::unordered_map<std::u16string_view, std::u16string_view> entries;
    std::unordered_map<char16_t, unsigned> lengths;  // bit n set: a key of n units starts with this unit
};

const Dictionary& OpenccDictionary(const std::string& name) {
    static std::map<std::string, Dictionary> loaded;
    auto [it, added] = loaded.try_emplace(name);
    Dictionary& d = it->second;
    if (!added)
        return d;
    const Bytes dump =
        ReadFileBytes(FromUnixPath(QTX_OPENCC_DUMPS) + L"\\" + std::wstring(name.begin(), name.end()) + L".txt");
    if (dump.empty()) {
        ADD_FAILURE() << "no dump of OpenCC's " << name << " in " << QTX_OPENCC_DUMPS;
        return d;
    }
    d.text.resize(dump.size());
    d.text.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, dump.data(), static_cast<int>(dump.size()),
                                                          reinterpret_cast<wchar_t*>(d.text.data()),
                                                          static_cast<int>(d.text.size()))));
    const std::u16string_view text = d.text;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find(u'\n', start), text.size());
        const size_t tab = text.find(u'\t', start);
        const size_t valueEnd = std::min(text.find(u' ', tab), end);
        const std::u16string_view key = text.substr(start, tab - start);
        d.entries.emplace(key, text.substr(tab + 1, valueEnd - tab - 1));
        d.lengths[key[0]] |= 1u << key.size();
        start = end + 1;
    }
    return d;
}

// The length of the longest key of `d` that `text` starts with, in units; 0 when none.
size_t LongestKey(const Dictionary& d, std::u16string_view text) {
    const auto found = d.lengths.find(text.empty() ? u'\0' : text[0]);
    if (found == d.lengths.end())
        return 0;
    for (size_t n = std::min<size_t>(text.size(), 31); n > 0; --n) {
        if ((found->second >> n & 1) != 0 && d.entries.count(text.substr(0, n)) != 0)
            return n;
    }
    return 0;
}

size_t CharacterUnits(std::u16string_view text, size_t i) {
    return i + 1 < text.size() && text[i] >= 0xD800 && text[i] < 0xDC00 && text[i + 1] >= 0xDC00 &&
                   text[i + 1] < 0xE000
               ? 2
               : 1;
}

Units ConvertStep(const std::vector<const Dictionary*>& step, std::u16string_view text) {
    Units out;
    for (size_t i = 0; i < text.size();) {
        size_t n = 0;
        for (const Dictionary* d : step) {
            if ((n = LongestKey(*d, text.substr(i))) != 0) {
                out += d->entries.at(text.substr(i, n));
                break;
            }
        }
        if (n == 0) {
            n = CharacterUnits(text, i);
            out += text.substr(i, n);
        }
        i += n;
    }
    return out;
}

// Into the script `family`: 'T' as opencc -c s2tw.json, 'S' as opencc -c tw2s.json.
Units OpenccMap(char family, const Units& source) {
    auto dictionaries = [](std::initializer_list<const char*> names) {
        std::vector<const Dictionary*> step;
        for (const char* name : names)
            step.push_back(&OpenccDictionary(name));
        return step;
    };
    static const std::vector<const Dictionary*> toTraditional[] = {dictionaries({"STPhrases", "STCharacters"}),
                                                                   dictionaries({"TWVariants"})};
    static const std::vector<const Dictionary*> toSimplified[] = {
        dictionaries({"TWVariantsRevPhrases", "TWVariantsRev"}), dictionaries({"TSPhrases", "TSCharacters"})};
    const Dictionary& segmentation = OpenccDictionary(family == 'T' ? "STPhrases" : "TSPhrases");
    const std::u16string_view text = source;
    Units out;
    auto convert = [&](size_t start, size_t end) {
        Units segment(text.substr(start, end - start));
        for (const auto& step : family == 'T' ? toTraditional : toSimplified)
            segment = ConvertStep(step, segment);
        out += segment;
    };
    size_t run = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t phrase = LongestKey(segmentation, text.substr(i));
        if (phrase == 0) {
            i += CharacterUnits(text, i);
            continue;
        }
        if (run < i)
            convert(run, i);
        convert(i, i + phrase);
        i += phrase;
        run = i;
    }
    if (run < text.size())
        convert(run, text.size());
    return out;
}

std::string_view BytesIn(const Character& c, unsigned format) {
    switch (format % 3) {
        case 0:
            return c.utf16;
        case 1:
            return c.utf8;
        default:
            return format == 2 ? c.big5 : c.gb2312;
    }
}

bool Holds(unsigned format, const Character& c) {
    return format == 2 ? c.inBig5 : format == 5 ? c.inGb2312 : true;
}

using Text = std::vector<const Character*>;

Bytes Encode(const Text& text, unsigned format, bool signature = true) {
    Bytes bytes = signature ? kFormats[format].signature : Bytes();
    for (const Character* c : text)
        bytes += BytesIn(*c, format);
    return bytes;
}

Units UnitsOf(const Text& text) {
    Units units;
    for (const Character* c : text) {
        for (size_t i = 0; i < c->utf16.size(); i += 2)
            units += static_cast<char16_t>(static_cast<unsigned char>(c->utf16[i]) |
                                           static_cast<unsigned char>(c->utf16[i + 1]) << 8);
    }
    return units;
}

// The bytes a conversion of `text` must give, from Python's codecs and OpenCC's dictionaries alone; false
// when the mapping gives a character the tables hold no bytes for.
bool Expected(const Text& text, unsigned from, unsigned to, Bytes* expected) {
    Text mapped = text;
    if (kFormats[from].family != kFormats[to].family) {
        const Units units = OpenccMap(kFormats[to].family, UnitsOf(text));
        mapped.clear();
        for (size_t i = 0; i < units.size(); i += CharacterUnits(units, i)) {
            const char32_t code = CharacterUnits(units, i) == 1
                                      ? units[i]
                                      : 0x10000 + ((units[i] - 0xD800u) << 10) + (units[i + 1] - 0xDC00u);
            const Character* c = Find(code);
            if (c == nullptr)
                return false;
            mapped.push_back(c);
        }
        // Every OpenCC key keeps its number of characters; a character the target holds is never mapped
        // to one it does not.
        for (size_t i = 0; i < mapped.size(); ++i) {
            if (mapped[i] != text[i] && !Holds(to, *mapped[i]) && Holds(to, *text[i]))
                mapped[i] = text[i];
        }
    }
    *expected = Encode(mapped, to);
    return true;
}

// --- Inputs -------------------------------------------------------------------------------------------------

const Units& Passage(char family) {
    static const Units traditional = fuzz_tables::kTraditionalPassage;
    static const Units simplified = fuzz_tables::kSimplifiedPassage;
    return family == 'T' ? traditional : simplified;
}

const char* const kWords[] = {"QTX", "Big5", "GB2312", "UTF-8", "2024", "3.14", "ok", "file.txt", "#", "--", "@"};

// Real prose of the source's script (sometimes of the other), with ASCII, line breaks and, now and then,
// any character of the tables; only what the source format can hold, and characters outside the Basic
// Multilingual Plane only between the Unicode formats.
Text MakeText(Random& random, unsigned from, unsigned to) {
    const bool wide = kFormats[from].codePage != 950 && kFormats[from].codePage != 936 &&
                      kFormats[to].codePage != 950 && kFormats[to].codePage != 936;
    const size_t length = random.Percent(3) ? 1000 + random.Below(12000) : random.Below(300);
    Text text;
    auto add = [&](char32_t code) {
        const Character* c = Find(code);
        if (c != nullptr && Holds(from, *c) && (wide || code <= 0xFFFF))
            text.push_back(c);
    };
    while (text.size() < length) {
        const size_t kind = random.Below(100);
        if (kind < 60) {
            const Units& passage = Passage(kind < 50 ? kFormats[from].family : kFormats[from].family ^ 'T' ^ 'S');
            const size_t start = random.Below(passage.size());
            const size_t count = 1 + random.Below(60);
            for (size_t i = start; i < passage.size() && i < start + count; ++i)
                add(passage[i]);
        } else if (kind < 75) {
            add(fuzz_tables::kCharacters[random.Below(std::size(fuzz_tables::kCharacters))].code);
        } else if (kind < 90) {
            for (const char* p = kWords[random.Below(std::size(kWords))]; *p; ++p)
                add(static_cast<unsigned char>(*p));
            add(' ');
        } else {
            const char* const breaks[] = {"\r\n", "\n", "\t", " ", "\r"};
            for (const char* p = breaks[random.Below(5)]; *p; ++p)
                add(static_cast<unsigned char>(*p));
        }
    }
    text.resize(std::min(text.size(), length));
    return text;
}

// The text as a file in `format` the way people also write it: UTF-8 and UTF-16 without a signature,
// UTF-16 big-endian with FE FF.
Bytes EncodeVariant(Random& random, const Text& text, unsigned format, std::string* what) {
    if (kFormats[format].codePage == 0 && random.Percent(15)) {
        Bytes little = Encode(text, format, false);
        for (size_t i = 0; i + 1 < little.size(); i += 2)
            std::swap(little[i], little[i + 1]);
        *what += ", big-endian";
        return "\xFE\xFF" + little;
    }
    const bool signature = kFormats[format].signature.empty() || random.Percent(75);
    if (!signature)
        *what += ", no signature";
    return Encode(text, format, signature);
}

Bytes Mutate(Random& random, Bytes bytes, std::string* what) {
    const unsigned count = 1 + static_cast<unsigned>(random.Below(4));
    for (unsigned m = 0; m < count; ++m) {
        const size_t at = random.Below(bytes.size() + 1);
        const size_t span = 1 + random.Below(random.Percent(10) ? 2000 : 16);
        char note[96];
        switch (random.Below(12)) {
            case 0:
                if (at < bytes.size())
                    bytes[at] = static_cast<char>(bytes[at] ^ (1 << random.Below(8)));
                snprintf(note, sizeof note, "bit flipped at %zu", at);
                break;
            case 1:
                if (at < bytes.size())
                    bytes[at] = static_cast<char>(random.Below(256));
                snprintf(note, sizeof note, "byte set at %zu", at);
                break;
            case 2:
                bytes.resize(at);
                snprintf(note, sizeof note, "cut to %zu bytes", at);
                break;
            case 3:
                bytes.erase(0, at);
                snprintf(note, sizeof note, "first %zu bytes cut", at);
                break;
            case 4:
                bytes.erase(at, span);
                snprintf(note, sizeof note, "%zu bytes cut at %zu", span, at);
                break;
            case 5:
                bytes.insert(at, bytes.substr(at, span));
                snprintf(note, sizeof note, "%zu bytes duplicated at %zu", span, at);
                break;
            case 6:
                bytes.insert(at, 1 + random.Below(3), '\0');
                snprintf(note, sizeof note, "zeros at %zu", at);
                break;
            case 7:
            case 8: {
                const char run = random.Percent(50) ? '\x80' : '\xFF';
                bytes.insert(at, span, run);
                snprintf(note, sizeof note, "%zu x %02X at %zu", span, run & 0xFF, at);
                break;
            }
            case 9: {
                const char* const signatures[] = {"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"};
                const size_t which = random.Below(3);
                const size_t where = random.Percent(70) ? 0 : at;
                bytes.insert(where, signatures[which]);
                snprintf(note, sizeof note, "signature %zu added at %zu", which, where);
                break;
            }
            case 10: {
                const size_t cut = std::min<size_t>(bytes.size(), 2 + random.Below(2));
                bytes.erase(0, cut);
                snprintf(note, sizeof note, "first %zu bytes (a signature?) removed", cut);
                break;
            }
            default:
                for (size_t i = 0; i < span; ++i)
                    bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(at), static_cast<char>(random.Below(256)));
                snprintf(note, sizeof note, "%zu random bytes at %zu", span, at);
                break;
        }
        *what += std::string(m == 0 ? ": " : "; ") + note;
    }
    return bytes;
}

struct Case {
    unsigned index;
    unsigned from;
    unsigned to;
    std::string what;
    Bytes input;
    bool exact;  // unbroken text: `expected` holds the bytes
    Bytes expected;
};

Case MakeCase(uint64_t seed, unsigned index) {
    Random random{seed ^ (0xD1B54A32D192ED03ull * (index + 1ull))};
    Case c{index, index % 6, 0, "", "", false, ""};
    c.to = (c.from + 1 + (index / 6) % 5) % 6;  // every six cases a new target: all 30 pairs evenly
    const size_t kind = random.Below(100);
    if (kind < 30) {
        const Text text = MakeText(random, c.from, c.to);
        c.what = "unbroken text";
        c.input = EncodeVariant(random, text, c.from, &c.what);
        c.exact = Expected(text, c.from, c.to, &c.expected);
    } else if (kind < 40) {
        const unsigned written = static_cast<unsigned>(random.Below(6));
        c.input = Encode(MakeText(random, written, c.to), written);
        c.what = std::string("text written as ") + kFormats[written].name;
    } else {
        const Text text = MakeText(random, c.from, c.to);
        c.what = "broken text";
        c.input = Mutate(random, EncodeVariant(random, text, c.from, &c.what), &c.what);
    }
    return c;
}

// --- Oracle -------------------------------------------------------------------------------------------------

// Whether `bytes` is UTF-8 as RFC 3629 has it: no stray continuation byte, no cut sequence, no overlong
// form, no surrogate, nothing past U+10FFFF. Written out here rather than asked of the platform, which is
// what the program itself asks.
bool IsStrictUtf8(const Bytes& bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const unsigned lead = static_cast<unsigned char>(bytes[i]);
        size_t length = 1;
        unsigned low = 0x80, high = 0xBF;  // the second byte's range
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else if (lead >= 0x80) {
            return false;
        }
        if (i + length > bytes.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned b = static_cast<unsigned char>(bytes[i + k]);
            if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF))
                return false;
        }
        i += length;
    }
    return true;
}

// The input's text as the platform decodes it; false when the input isn't text in the source format.
bool DecodeSource(const Bytes& input, unsigned from, Units* text) {
    Bytes body = input;
    const UINT codePage = kFormats[from].codePage;
    const bool utf8Signed = body.compare(0, 3, "\xEF\xBB\xBF") == 0;
    const bool utf16Signed = body.compare(0, 2, "\xFF\xFE") == 0 || body.compare(0, 2, "\xFE\xFF") == 0;
    if (codePage == 0 ? utf8Signed : codePage == CP_UTF8 ? utf16Signed : utf8Signed || utf16Signed)
        return false;
    if (codePage == 0) {
        if (body.size() % 2 != 0)
            return false;
        const bool big = body.compare(0, 2, "\xFE\xFF") == 0;
        if (big || body.compare(0, 2, "\xFF\xFE") == 0)
            body.erase(0, 2);
        text->clear();
        for (size_t i = 0; i < body.size(); i += 2) {
            const auto a = static_cast<unsigned char>(body[i]), b = static_cast<unsigned char>(body[i + 1]);
            text->push_back(static_cast<char16_t>(big ? a << 8 | b : b << 8 | a));
        }
        return text->find(u'\0') == Units::npos;
    }
    if (codePage == CP_UTF8 && body.compare(0, 3, "\xEF\xBB\xBF") == 0)
        body.erase(0, 3);
    if (body.find('\0') != Bytes::npos || (codePage == CP_UTF8 && !IsStrictUtf8(body)))
        return false;
    text->assign(body.size(), u'\0');
    const int n = body.empty()
                      ? 0
                      : MultiByteToWideChar(codePage, 0, body.data(), static_cast<int>(body.size()),
                                            reinterpret_cast<wchar_t*>(text->data()), static_cast<int>(text->size()));
    text->resize(static_cast<size_t>(n));
    return true;
}

Bytes PlatformEncode(UINT codePage, const Units& text) {
    Bytes out(text.size() * 4 + 4, '\0');
    const int n = text.empty() ? 0
                               : WideCharToMultiByte(codePage, 0, reinterpret_cast<const wchar_t*>(text.data()),
                                                     static_cast<int>(text.size()), out.data(),
                                                     static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(static_cast<size_t>(n));
    return out;
}

Units PlatformDecode(UINT codePage, const Bytes& bytes, DWORD flags = 0, bool* clean = nullptr) {
    Units out(bytes.size() + 1, u'\0');
    const int n = bytes.empty()
                      ? 0
                      : MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()),
                                            reinterpret_cast<wchar_t*>(out.data()), static_cast<int>(out.size()));
    if (clean != nullptr)
        *clean = bytes.empty() || n > 0;
    out.resize(static_cast<size_t>(n));
    return out;
}

// What one character (a unit or a surrogate pair) becomes in the target: itself where the encoding holds it,
// else what the platform gives for it on its own (the code page's default character '?' and, through
// Microsoft's best-fit tables, a few look-alikes; a lone surrogate in UTF-8 is U+FFFD).
const Units& Replacement(UINT codePage, const Units& character) {
    static std::vector<std::vector<Units>> cache(3, std::vector<Units>(0x10000));
    if (character.size() == 1) {
        Units& slot = cache[codePage == 950 ? 0 : codePage == 936 ? 1 : 2][character[0]];
        if (slot.empty())
            slot = PlatformDecode(codePage, PlatformEncode(codePage, character));
        return slot;
    }
    static Units pair;
    pair = PlatformDecode(codePage, PlatformEncode(codePage, character));
    return pair;
}

bool IsHigh(char16_t u) {
    return u >= 0xD800 && u < 0xDC00;
}
bool IsLow(char16_t u) {
    return u >= 0xDC00 && u < 0xE000;
}

Units ExpectedText(const Units& source, unsigned from, unsigned to) {
    const bool map = kFormats[from].family != kFormats[to].family;
    const UINT codePage = kFormats[to].codePage;
    const Units mapped = map ? OpenccMap(kFormats[to].family, source) : source;
    Units out;
    for (size_t i = 0, at = 0; i < mapped.size(); i += CharacterUnits(mapped, i)) {
        Units character(std::u16string_view(mapped).substr(i, CharacterUnits(mapped, i)));
        // Characters keep their places; where the code page holds the source character and not the mapped
        // one (it does not come back from the platform's round trip as itself), the source one stays.
        const Units was(std::u16string_view(source).substr(at, CharacterUnits(source, at)));
        at += was.size();
        const bool pageTarget = codePage == 950 || codePage == 936;
        if (pageTarget && character != was && Replacement(codePage, character) != character &&
            Replacement(codePage, was) == was)
            character = was;
        const bool lone = character.size() == 1 && (IsHigh(character[0]) || IsLow(character[0]));
        if (codePage == 0 || (codePage == CP_UTF8 && !lone))
            out += character;
        else
            out += Replacement(codePage, character);
    }
    return out;
}

// Whether the platform maps the script itself (Windows): then OpenCC's dictionaries don't predict the mapping.
bool PlatformMaps() {
    static const bool maps = [] {
        wchar_t out[2] = {};
        return LCMapStringW(0x0800, LCMAP_SIMPLIFIED_CHINESE, L"\u570B", 1, out, 2) == 1 && out[0] == L'\u56FD';
    }();
    return maps;
}

std::string Show(const Bytes& bytes) {
    return Hex(bytes.substr(0, 160)) + (bytes.size() > 160 ? " ... (" + std::to_string(bytes.size()) + " bytes)" : "");
}

std::string ShowUnits(const Units& text, size_t from) {
    std::string out;
    char unit[8];
    for (size_t i = from; i < text.size() && i < from + 24; ++i) {
        snprintf(unit, sizeof unit, "%04X ", static_cast<unsigned>(text[i]));
        out += unit;
    }
    return out;
}

// Returns what is wrong with converting `c` giving `converted`/`output`, or "" when all holds.
std::string Judge(const Case& c, bool converted, const Bytes& output) {
    Units source;
    const bool text = DecodeSource(c.input, c.from, &source);
    if (!text)
        return converted ? "input that isn't text was converted: " + Show(output) : "";
    if (!converted)
        return "text was refused";
    const bool mapsItsOwnWay = PlatformMaps() && kFormats[c.from].family != kFormats[c.to].family;
    if (c.exact && !mapsItsOwnWay && output != c.expected)
        return "bytes differ from Python's codecs\n  expected " + Show(c.expected) + "\n  got      " + Show(output);
    const Format& target = kFormats[c.to];
    if (output.compare(0, target.signature.size(), target.signature) != 0)
        return "no " + std::string(target.name) + " signature: " + Show(output);
    const Bytes body = output.substr(target.signature.size());
    Units result;
    if (target.codePage == 0) {
        if (body.size() % 2 != 0)
            return "odd UTF-16 body";
        for (size_t i = 0; i < body.size(); i += 2)
            result.push_back(static_cast<char16_t>(static_cast<unsigned char>(body[i + 1]) << 8 |
                                                   static_cast<unsigned char>(body[i])));
        if (result.find(u'\0') != Units::npos)
            return "zero unit in the output: " + Show(output);
    } else {
        if (body.find('\0') != Bytes::npos)
            return "zero byte in the output: " + Show(output);
        bool clean = true;
        result = PlatformDecode(target.codePage, body, target.codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, &clean);
        if (!clean)
            return "output is not clean UTF-8: " + Show(output);
        if (target.codePage != CP_UTF8 && PlatformEncode(target.codePage, result) != body)
            return "output does not survive a round trip through its code page: " + Show(output);
    }
    const Units expected = ExpectedText(source, c.from, c.to);
    if (result.size() != expected.size())
        return "text length " + std::to_string(result.size()) + " units, expected " + std::to_string(expected.size());
    if (mapsItsOwnWay)
        return "";
    const size_t diff =
        static_cast<size_t>(std::mismatch(result.begin(), result.end(), expected.begin()).first - result.begin());
    if (diff < result.size())
        return "text differs at unit " + std::to_string(diff) + "\n  expected " + ShowUnits(expected, diff) +
               "\n  got      " + ShowUnits(result, diff);
    return "";
}

// --- Running ------------------------------------------------------------------------------------------------

unsigned EnvironmentNumber(const char* name, unsigned long long fallback, uint64_t* value64 = nullptr) {
    const char* text = std::getenv(name);
    const unsigned long long value = text != nullptr && *text != 0 ? std::strtoull(text, nullptr, 0) : fallback;
    if (value64 != nullptr)
        *value64 = value;
    return static_cast<unsigned>(value);
}

// What runs now, for the hang watchdog and the crash report.
std::atomic<const Case*> g_current{nullptr};
std::atomic<unsigned> g_progress{0};
uint64_t g_seed = 0;

std::string Describe(const Case& c) {
    char head[200];
    snprintf(head, sizeof head, "case %u (QTX_FUZZ_SEED=0x%llx QTX_FUZZ_CASE=%u): %s to %s, ", c.index,
             static_cast<unsigned long long>(g_seed), c.index, kFormats[c.from].name, kFormats[c.to].name);
    return head + c.what + "\n  input " + Show(c.input);
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    const Case* c = g_current.load();
    fprintf(stderr, "fuzz: exception %08lX in %s\n", exception->ExceptionRecord->ExceptionCode,
            c != nullptr ? Describe(*c).c_str() : "no case");
    fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;
}

constexpr unsigned kFileEvery = 100;

TEST(Fuzz, EveryInputIsRefusedOrConvertedCompletely) {
    uint64_t seed = 0;
    const unsigned count = EnvironmentNumber("QTX_FUZZ_CASES", 40000);
    EnvironmentNumber("QTX_FUZZ_SEED", 0x51A7C0DE, &seed);
    const char* only = std::getenv("QTX_FUZZ_CASE");
    g_seed = seed;
    const unsigned first = only != nullptr ? EnvironmentNumber("QTX_FUZZ_CASE", 0) : 0;
    const unsigned end = only != nullptr ? first + 1 : count;
    printf("fuzz: seed 0x%llx, cases %u to %u%s\n", static_cast<unsigned long long>(seed), first, end - 1,
           PlatformMaps() ? " (the platform maps the script: cross-script text is checked by length only)" : "");

    SetUnhandledExceptionFilter(ReportCrash);
    std::atomic<bool> done{false};
    std::thread watchdog([&done] {
        unsigned seen = g_progress.load();
        auto since = std::chrono::steady_clock::now();
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (g_progress.load() != seen) {
                seen = g_progress.load();
                since = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - since > std::chrono::seconds(60)) {
                const Case* c = g_current.load();
                fprintf(stderr, "fuzz: no progress for 60 s in %s\n", c != nullptr ? Describe(*c).c_str() : "?");
                fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 3);
            }
        }
    });

    const std::wstring names[] = {L"case.txt", L"\u4E2D\u6587 \u6A94\u540D.txt", L".dot file", L"no extension"};
    unsigned failures = 0, throughFiles = 0, exact = 0, refused = 0;
    const auto started = std::chrono::steady_clock::now();
    for (unsigned index = first; index < end; ++index) {
        const Case c = MakeCase(seed, index);
        g_current = &c;
        ByteBuffer result;
        const bool converted = ConvertText(reinterpret_cast<const unsigned char*>(c.input.data()), c.input.size(),
                                           static_cast<TextFormat>(c.from), static_cast<TextFormat>(c.to), &result);
        const Bytes output = result.bytes != nullptr ? Bytes(reinterpret_cast<char*>(result.bytes), result.size) : "";
        FreeByteBuffer(&result);
        exact += c.exact;
        refused += !converted;
        std::string wrong = Judge(c, converted, output);
        if (wrong.empty() && !converted && !output.empty())
            wrong = "refused, but a result was handed back";

        if (wrong.empty() && (index % kFileEvery == 0 || only != nullptr)) {
            ++throughFiles;
            TempDir dir;
            const std::wstring& name = names[index / kFileEvery % std::size(names)];
            WriteFileBytes(dir / name, c.input);
            ConvertFile((dir / name).c_str(), static_cast<TextFormat>(c.from), static_cast<TextFormat>(c.to));
            const Bytes file = ReadFileBytes(dir / name);
            if (file != (converted ? output : c.input))
                wrong = std::string("the file holds ") + Show(file) + "\n  not the " +
                        (converted ? "conversion " + Show(output) : "old content");
            else if (ListNames(dir.path()) != name)
                wrong = "another file was left beside the converted one";
        }
        if (!wrong.empty()) {
            if (++failures <= 10)
                ADD_FAILURE() << Describe(c) << "\n  " << wrong;
        }
        ++g_progress;
        if ((index + 1) % 100000 == 0) {
            printf("fuzz: %u cases, %u failures\n", index + 1, failures);
            fflush(stdout);
        }
    }
    g_current = nullptr;
    done = true;
    watchdog.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    printf(
        "fuzz: %u cases, %u through files, %u failures (%u unbroken texts to exact bytes, %u inputs refused as not "
        "text; %.1f s)\n",
        end - first, throughFiles, failures, exact, refused, seconds);
    EXPECT_EQ(failures, 0u);
}

}  // namespace
