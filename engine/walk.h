#pragma once
// Turning one request from the dialog into conversions: a file, a wildcard pattern or a folder tree.

#include "text_format.h"

struct ConversionRequest {
    wchar_t text[MAX_PATH];  // the path box's content: a file, a wildcard pattern or a folder
    bool folderMode;         // walk the whole folder tree
    TextFormat from;
    TextFormat to;
};

void ConvertPath(const ConversionRequest& request);
void WalkPattern(const wchar_t* pattern, bool recurse, TextFormat from, TextFormat to);
