#include "text_format.h"

namespace {

constexpr unsigned char kUtf16Signature[] = {0xFF, 0xFE};
constexpr unsigned char kUtf8Signature[] = {0xEF, 0xBB, 0xBF};

}  // namespace

bool IsTextFormat(unsigned index) {
    return index < kTextFormatCount;
}

ScriptFamily FamilyOf(TextFormat format) {
    return format <= TraditionalBig5 ? ScriptFamily::Traditional : ScriptFamily::Simplified;
}

TextEncoding EncodingOf(TextFormat format) {
    switch (format) {
        case TraditionalUnicode:
        case SimplifiedUnicode:
            return TextEncoding::Utf16;
        case TraditionalUtf8:
        case SimplifiedUtf8:
            return TextEncoding::Utf8;
        default:
            return TextEncoding::CodePage;
    }
}

UINT CodePageOf(TextFormat format) {
    switch (format) {
        case TraditionalUtf8:
        case SimplifiedUtf8:
            return CP_UTF8;
        case TraditionalBig5:
            return 950;
        case SimplifiedGb2312:
            return 936;
        default:
            return 0;
    }
}

Signature SignatureOf(TextFormat format) {
    switch (EncodingOf(format)) {
        case TextEncoding::Utf16:
            return {kUtf16Signature, sizeof kUtf16Signature};
        case TextEncoding::Utf8:
            return {kUtf8Signature, sizeof kUtf8Signature};
        default:
            return {nullptr, 0};
    }
}

DWORD ScriptMappingFor(TextFormat from, TextFormat to) {
    if (FamilyOf(from) == FamilyOf(to))
        return 0;
    return FamilyOf(from) == ScriptFamily::Traditional ? LCMAP_SIMPLIFIED_CHINESE : LCMAP_TRADITIONAL_CHINESE;
}
