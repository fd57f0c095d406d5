#pragma once
// Files and paths shared by the dialog tests.

#include <windows.h>

#include <string>

#include "test_files.h"

// 中国汉字转换测试 in code page 936, and 中國漢字轉換測試 in Big5: the same text after the Simplified to
// Traditional mapping. Both from Python's codecs ("gb2312" and "big5").
inline const Bytes kGb2312Text = "\xD6\xD0\xB9\xFA\xBA\xBA\xD7\xD6\xD7\xAA\xBB\xBB\xB2\xE2\xCA\xD4";
inline const Bytes kBig5Text = "\xA4\xA4\xB0\xEA\xBA\x7E\xA6\x72\xC2\xE0\xB4\xAB\xB4\xFA\xB8\xD5";

// Sets a file's last-write time far into the past, so that any rewrite shows in it.
inline void MakeOld(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILETIME old = {0xC89DC000, 0x01C07385};  // 2001-01-01
    SetFileTime(file, nullptr, nullptr, &old);
    CloseHandle(file);
}

inline bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// A file path of exactly `length` characters inside `folder` (made with the folders it needs).
inline std::wstring PathOfLength(const std::wstring& folder, size_t length) {
    std::wstring sub = folder + L"\\" + std::wstring(200 - folder.size(), L'd');
    return sub + L"\\" + std::wstring(length - sub.size() - 5, L'f') + L".txt";
}
