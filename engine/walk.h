#pragma once
// Turning one request from the dialog into conversions: a file, a wildcard pattern or a folder tree.

#include "text_format.h"

struct ConversionRequest {
    wchar_t text[MAX_PATH];  // the path box's content: a file, a wildcard pattern or a folder
    bool folderMode;         // walk the whole folder tree
    TextFormat from;
    TextFormat to;
};

// Converts what the request names: in File mode the file or every file matching the pattern (folders it
// matches are ignored), in Folder mode every file in the folder's whole tree. Equal formats or an empty
// path do nothing. Reports nothing; a file that can't be converted is skipped.
void ConvertPath(const ConversionRequest& request);

// Converts every file that `pattern` matches and, when `recurse` is set, walks each matching folder
// depth first with the pattern "*.*". The pattern's folder is made a full path; its last element is listed
// as typed, trailing dots and spaces included. Within one call each folder is walked at most once, however
// many links lead to it: a subfolder whose identity can't be told is walked when it is a plain folder and
// left out when it is reached through a link or junction. A file or folder whose path would not fit in
// MAX_PATH units is skipped whole.
void WalkPattern(const wchar_t* pattern, bool recurse, TextFormat from, TextFormat to);
