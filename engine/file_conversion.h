#pragma once
// Converting one file in place between two text formats.

#include "text_format.h"

// Converts the file at `path` from `from` to `to`. The file ends with either its whole old content or
// its whole new content; a file that can't be converted is left untouched. Reports nothing.
void ConvertFile(const wchar_t* path, TextFormat from, TextFormat to);
