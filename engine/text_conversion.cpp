#include "text_conversion.h"

#include "heap_buffer.h"
#include "script_map.h"

namespace {

// Zero-terminated UTF-16 text, as MapScript needs it; `length` leaves the terminator out.
struct WideText {
    wchar_t* units;
    UINT64 length;
};

constexpr UINT64 kMaxIntCount = 0x7FFFFFFF;

constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr unsigned char kLittleEndianMark[] = {0xFF, 0xFE};
constexpr unsigned char kBigEndianMark[] = {0xFE, 0xFF};

bool AllocateWideText(UINT64 length, WideText* text) {
    *text = {};
    if (length >= kMaxIntCount)
        return false;
    text->units = static_cast<wchar_t*>(AllocateBytes((length + 1) * sizeof(wchar_t)));
    if (text->units == nullptr)
        return false;
    text->units[length] = 0;
    text->length = length;
    return true;
}

void FreeWideText(WideText* text) {
    FreeBytes(text->units);
    *text = {};
}

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
    for (UINT64 i = 0; i < size; ++i) {
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
    const int length = MultiByteToWideChar(codePage, flags, input, inputCount, nullptr, 0);
    if (length <= 0 || !AllocateWideText(static_cast<UINT64>(length), text))
        return false;
    if (MultiByteToWideChar(codePage, flags, input, inputCount, text->units, length) != length) {
        FreeWideText(text);
        return false;
    }
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

bool MapInto(DWORD flag, const WideText& text, UINT64 capacity, WideText* mapped) {
    if (!AllocateWideText(capacity - 1, mapped))
        return false;
    const int written = MapScript(flag, text.units, mapped->units, static_cast<int>(capacity));
    if (written <= 0) {
        FreeWideText(mapped);
        return false;
    }
    mapped->length = static_cast<UINT64>(written - 1);
    mapped->units[mapped->length] = 0;
    return true;
}

// Replaces `text` by its mapping into the other script; `flag` 0 leaves it as it is.
bool MapText(DWORD flag, WideText* text) {
    if (flag == 0 || text->length == 0)
        return true;
    WideText mapped;
    const UINT64 capacity = text->length + 1;
    bool mappedOk = MapInto(flag, *text, capacity, &mapped);
    // Our table keeps the length; the platform's mapping does not promise to, so it gets one try with more room.
    if (!mappedOk && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        mappedOk = MapInto(flag, *text, 2 * capacity, &mapped);
    if (!mappedOk)
        return false;
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
    // Characters the code page lacks become its default character, as the platform chooses.
    const int bodySize = WideCharToMultiByte(codePage, 0, text.units, length, nullptr, 0, nullptr, nullptr);
    if (bodySize <= 0 || !AllocateFileContent(signature, static_cast<UINT64>(bodySize), content))
        return false;
    char* body = reinterpret_cast<char*>(content->bytes + signature.length);
    if (WideCharToMultiByte(codePage, 0, text.units, length, body, bodySize, nullptr, nullptr) != bodySize) {
        FreeByteBuffer(content);
        return false;
    }
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
    const bool converted = MapText(ScriptMappingFor(from, to), &text) && EncodeText(text, to, result);
    FreeWideText(&text);
    return converted;
}

void FreeByteBuffer(ByteBuffer* buffer) {
    FreeBytes(buffer->bytes);
    *buffer = {};
}
