#pragma once
// Mapping between Traditional and Simplified must never lose a character to a code page's default character:
// for a Big5 or GB2312 target, wherever mapping turned a character the code page holds into one it does not,
// the source character stays.

#include "heap_buffer.h"

// Mends `mapped`, the mapping of `source`, for a target in `codePage`. Characters are matched by place (a
// surrogate pair is one character), which holds for our tables, whose every key keeps its number of
// characters; where the mapping changed the number of characters (the platform's may), the text stays as
// mapped. A character is held when it comes back from a round trip through the code page unchanged,
// without a best-fit look-alike.
void KeepCharactersTheCodePageHolds(UINT codePage, const WideText& source, WideText* mapped);
