#include "text_conversion.h"

#include "code_page_mend.h"
#include "heap_buffer.h"
#include "script_map.h"

namespace {

constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr unsigned char kLittleEndianMark[] = {0xFF, 0xFE};
constexpr unsigned char kBigEndianMark[] = {0xFE, 0xFF};

bool StartsWith(const unsigned char* bytes, UINT64 size, const unsigned char* head, unsigned headLength) {
    if (size < headLength)
        return false;
    for (unsigned i = 0; i < headLength; ++i) {
        if (bytes[i] != head[i])
            return false;
    }
    return true;
}

bool HoldsZeroByte(const unsigned char* bytes, UINT64 size) {
    UINT64 i = 0;
    // Eight bytes at a time: a word holds a zero byte exactly when this sets one of its high bits.
    for (; i + 8 <= size; i += 8) {
        UINT64 word;
        __builtin_memcpy(&word, bytes + i, 8);
        if (((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0)
            return true;
    }
    for (; i < size; ++i) {
        if (bytes[i] == 0)
            return true;
    }
    return false;
}

// UTF-16 as it lies in the file: FF FE marks little-endian, FE FF big-endian, and a file without either is
// taken as little-endian, the form Windows writes.
bool DecodeUtf16(const unsigned char* bytes, UINT64 size, WideText* text) {
    if (size % 2 != 0)
        return false;
    const bool bigEndian = StartsWith(bytes, size, kBigEndianMark, 2);
    if (bigEndian || StartsWith(bytes, size, kLittleEndianMark, 2)) {
        bytes += 2;
        size -= 2;
    }
    if (!AllocateWideText(size / 2, text))
        return false;
    const unsigned lowByte = bigEndian ? 1 : 0;
    for (UINT64 i = 0; i < text->length; ++i) {
        const unsigned unit = bytes[2 * i + lowByte] | bytes[2 * i + (1 - lowByte)] << 8;
        if (unit == 0) {
            FreeWideText(text);
            return false;
        }
        text->units[i] = static_cast<wchar_t>(unit);
    }
    return true;
}

// UTF-8 is decoded strictly: a file that is not valid UTF-8 is certainly in some other encoding, and
// replacing what does not decode would destroy it. A code page has no such test (Big5 files with
// user-defined characters must convert), so there the platform's replacement stands.
bool DecodeMultiByte(UINT codePage, const unsigned char* bytes, UINT64 size, WideText* text) {
    if (codePage == CP_UTF8 && StartsWith(bytes, size, kUtf8Mark, 3)) {
        bytes += 3;
        size -= 3;
    }
    if (HoldsZeroByte(bytes, size) || size > kMaxIntCount)
        return false;
    if (size == 0)
        return AllocateWideText(0, text);
    const char* input = reinterpret_cast<const char*>(bytes);
    const int inputCount = static_cast<int>(size);
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    // No unit comes from less than a byte, so one call fills a text of as many units as there are bytes,
    // with no call first to size it.
    if (!AllocateWideText(size, text))
        return false;
    const int length = MultiByteToWideChar(codePage, flags, input, inputCount, text->units, inputCount);
    if (length <= 0) {
        FreeWideText(text);
        return false;
    }
    text->length = static_cast<UINT64>(length);
    text->units[length] = 0;
    return true;
}

// Whether the bytes begin with the signature of an encoding other than `encoding`'s own. No Big5 or GB2312
// text starts so (0xFF is neither a lead nor a trail byte in either), nor any UTF-8 text; a UTF-16 text
// starting with U+BBEF U+xxBF is not met in practice. Such a file is left alone rather than destroyed.
bool StartsWithForeignSignature(const unsigned char* bytes, UINT64 size, TextEncoding encoding) {
    const bool utf8 = StartsWith(bytes, size, kUtf8Mark, 3);
    const bool utf16 = StartsWith(bytes, size, kLittleEndianMark, 2) || StartsWith(bytes, size, kBigEndianMark, 2);
    switch (encoding) {
        case TextEncoding::Utf16:
            return utf8;
        case TextEncoding::Utf8:
            return utf16;
        default:
            return utf8 || utf16;
    }
}

bool DecodeText(const unsigned char* bytes, UINT64 size, TextFormat from, WideText* text) {
    if (StartsWithForeignSignature(bytes, size, EncodingOf(from)))
        return false;
    if (EncodingOf(from) == TextEncoding::Utf16)
        return DecodeUtf16(bytes, size, text);
    return DecodeMultiByte(CodePageOf(from), bytes, size, text);
}

// Replaces `text` by its mapping into the other script; `flag` 0 leaves it as it is. For a code-page
// target, characters the code page holds are not mapped away from it.
bool MapText(DWORD flag, TextFormat to, WideText* text) {
    if (flag == 0 || text->length == 0)
        return true;
    WideText mapped;
    if (!MapScript(flag, *text, &mapped))
        return false;
    if (EncodingOf(to) == TextEncoding::CodePage)
        KeepCharactersTheCodePageHolds(CodePageOf(to), *text, &mapped);
    FreeWideText(text);
    *text = mapped;
    return true;
}

bool AllocateFileContent(Signature signature, UINT64 bodySize, ByteBuffer* content) {
    content->size = signature.length + bodySize;
    content->bytes = static_cast<unsigned char*>(AllocateBytes(content->size));
    if (content->bytes == nullptr) {
        *content = {};
        return false;
    }
    for (unsigned i = 0; i < signature.length; ++i)
        content->bytes[i] = signature.bytes[i];
    return true;
}

bool EncodeUtf16(const WideText& text, Signature signature, ByteBuffer* content) {
    if (!AllocateFileContent(signature, text.length * 2, content))
        return false;
    unsigned char* body = content->bytes + signature.length;
    for (UINT64 i = 0; i < text.length; ++i) {
        body[2 * i] = static_cast<unsigned char>(text.units[i] & 0xFF);
        body[2 * i + 1] = static_cast<unsigned char>(text.units[i] >> 8);
    }
    return true;
}

bool EncodeMultiByte(UINT codePage, const WideText& text, Signature signature, ByteBuffer* content) {
    if (text.length == 0)
        return AllocateFileContent(signature, 0, content);
    if (text.length > kMaxIntCount)
        return false;
    const int length = static_cast<int>(text.length);
    // A unit takes at most three bytes in UTF-8 and two in a code page, so one call fills a body of that
    // size, with no call first to size it.
    const UINT64 most = text.length * (codePage == CP_UTF8 ? 3 : 2);
    const int room = static_cast<int>(most < kMaxIntCount ? most : kMaxIntCount);
    if (!AllocateFileContent(signature, static_cast<UINT64>(room), content))
        return false;
    // Characters the code page lacks become its default character, as the platform chooses.
    char* body = reinterpret_cast<char*>(content->bytes + signature.length);
    const int bodySize = WideCharToMultiByte(codePage, 0, text.units, length, body, room, nullptr, nullptr);
    if (bodySize <= 0) {
        FreeByteBuffer(content);
        return false;
    }
    content->size = signature.length + static_cast<UINT64>(bodySize);
    return true;
}

bool EncodeText(const WideText& text, TextFormat to, ByteBuffer* content) {
    if (EncodingOf(to) == TextEncoding::Utf16)
        return EncodeUtf16(text, SignatureOf(to), content);
    return EncodeMultiByte(CodePageOf(to), text, SignatureOf(to), content);
}

}  // namespace

bool ConvertText(const unsigned char* source, UINT64 size, TextFormat from, TextFormat to, ByteBuffer* result) {
    *result = {};
    if (!IsTextFormat(from) || !IsTextFormat(to) || size > kMaxSourceBytes || (source == nullptr && size != 0))
        return false;
    WideText text;
    if (!DecodeText(source, size, from, &text))
        return false;
    const bool converted = MapText(ScriptMappingFor(from, to), to, &text) && EncodeText(text, to, result);
    FreeWideText(&text);
    return converted;
}

void FreeByteBuffer(ByteBuffer* buffer) {
    FreeBytes(buffer->bytes);
    *buffer = {};
}
