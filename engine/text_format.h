#pragma once
// The six file formats QTX converts between, their script families and the rule for mapping the script.

#include <windows.h>

// The order is fixed: it is the offset of each format's radio button in the dialog's two format groups.
enum TextFormat : unsigned {
    TraditionalUnicode = 0,  // UTF-16LE with FF FE
    TraditionalUtf8 = 1,     // UTF-8 with EF BB BF
    TraditionalBig5 = 2,     // code page 950, no signature
    SimplifiedUnicode = 3,   // UTF-16LE with FF FE
    SimplifiedUtf8 = 4,      // UTF-8 with EF BB BF
    SimplifiedGb2312 = 5,    // code page 936, no signature
};
constexpr unsigned kTextFormatCount = 6;

enum class ScriptFamily { Traditional, Simplified };

// How a format lays out its text in the file.
enum class TextEncoding { Utf16, Utf8, CodePage };

// The bytes at the head of a file in a format: FF FE, EF BB BF, or none.
struct Signature {
    const unsigned char* bytes;
    unsigned length;
};

bool IsTextFormat(unsigned index);
ScriptFamily FamilyOf(TextFormat format);
TextEncoding EncodingOf(TextFormat format);
// The code page for MultiByteToWideChar/WideCharToMultiByte: CP_UTF8, 950 or 936; 0 for the UTF-16 formats.
UINT CodePageOf(TextFormat format);
Signature SignatureOf(TextFormat format);
// The LCMapStringW flag that maps text written for `from` into the script of `to`: LCMAP_SIMPLIFIED_CHINESE,
// LCMAP_TRADITIONAL_CHINESE, or 0 when both belong to one family and only the encoding changes.
DWORD ScriptMappingFor(TextFormat from, TextFormat to);
