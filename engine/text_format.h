#pragma once
// The six file formats QTX converts between, their script families and the platform text operations.

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

ScriptFamily FamilyOf(TextFormat format);
