#pragma once
// Converting one file in place between two text formats.

#include "text_format.h"

// Converts the file at `path` (absolute, or relative to the current folder) from `from` to `to`. The file
// ends with either its whole old content or its whole new content; no temporary file is left behind.
// Left untouched: a file that isn't text in `from` (see ConvertText), is read-only, hidden or system, has
// more than one hard link, is itself a symbolic link, is 2 GiB or larger, or can't be read or replaced.
// Reports nothing.
void ConvertFile(const wchar_t* path, TextFormat from, TextFormat to);
