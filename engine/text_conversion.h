#pragma once
// Converting a file's bytes from one text format to another in memory: decode, map the script where the
// families differ, encode. No file is touched; ConvertFile and the fuzz program both call this.

#include "text_format.h"

// The platform's text calls count in int: a longer source is refused rather than cut.
constexpr UINT64 kMaxSourceBytes = 0x7FFFFFFF;

// Bytes owned by whoever received them; release with FreeByteBuffer.
struct ByteBuffer {
    unsigned char* bytes;
    UINT64 size;
};

// Converts the `size` bytes at `source` (a whole file in format `from`) into the whole content of a file
// in format `to`: its signature followed by the encoded text. Returns false, with `result` empty, when
// the source isn't convertible text in `from` (a zero byte or zero unit in it, an odd-length UTF-16 source,
// another encoding's signature at its head, a UTF-8 source that is not valid UTF-8, more than
// kMaxSourceBytes) or when a platform call or an allocation fails.
// A source signature is skipped only when present; a UTF-16 source starting with FE FF is big-endian.
bool ConvertText(const unsigned char* source, UINT64 size, TextFormat from, TextFormat to, ByteBuffer* result);

void FreeByteBuffer(ByteBuffer* buffer);
