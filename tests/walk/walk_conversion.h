#pragma once
// What the tests of the walk with the real file conversion share: one line of text in the two formats they
// convert between, and the request the dialog would make.
#include <windows.h>

#include <string>

#include "test_files.h"
#include "walk.h"

// "中文 abc" CR LF, from Python: '中文 abc\r\n'.encode('gb2312') and ....encode('big5').
inline const Bytes kGb2312 = "\xD6\xD0\xCE\xC4 abc\r\n";
inline const Bytes kBig5 = "\xA4\xA4\xA4\xE5 abc\r\n";

inline void Convert(const std::wstring& text, bool folderMode, TextFormat from, TextFormat to) {
    ConversionRequest request = {};
    lstrcpynW(request.text, text.c_str(), MAX_PATH);
    request.folderMode = folderMode;
    request.from = from;
    request.to = to;
    ConvertPath(request);
}
