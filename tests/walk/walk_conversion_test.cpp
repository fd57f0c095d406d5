// The walk with the real file conversion: what the files of a tree hold after one request.
// 中 and 文 are written alike in both scripts, and converting a file from GB2312 to Big5 a second time
// would read its Big5 bytes as GB2312 (A4 A4 is a kana there) and change them again, so a file converted
// twice shows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "test_files.h"
#include "walk_conversion.h"

namespace {

TEST(WalkConversion, TreeConvertedOnceAndOtherFilesSkipped) {
    TempDir dir;
    const std::vector<std::wstring> converted = {L"a.txt", L"c", L"sub\\d.txt", L"sub\\\u4E2D \u6587\\e f.txt"};
    for (const std::wstring& name : converted)
        WriteFileBytes(dir / name, kGb2312);
    // Between the others in the listing's order, so the walk must go on past them: a read-only file, and
    // files already saved as UTF-8 and UTF-16 ("中文", from Python), which GB2312 would destroy.
    const std::wstring readOnly = dir / L"b-read-only.txt";
    WriteFileBytes(readOnly, kGb2312);
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::vector<std::pair<std::wstring, Bytes>> kept = {
        {L"b-utf8.txt", "\xEF\xBB\xBF\xE4\xB8\xAD\xE6\x96\x87"}, {L"sub\\b-utf16.txt", "\xFF\xFE\x2D\x4E\x87\x65"}};
    for (const auto& [name, content] : kept)
        WriteFileBytes(dir / name, content);

    Convert(dir.path(), true, SimplifiedGb2312, TraditionalBig5);

    for (const std::wstring& name : converted)
        EXPECT_EQ(Hex(ReadFileBytes(dir / name)), Hex(kBig5));
    EXPECT_EQ(Hex(ReadFileBytes(readOnly)), Hex(kGb2312));
    for (const auto& [name, content] : kept)
        EXPECT_EQ(Hex(ReadFileBytes(dir / name)), Hex(content));
}

TEST(WalkConversion, EqualFormatsOrEmptyPathTouchNothing) {
    TempDir dir;
    const std::vector<std::wstring> names = {L"a.txt", L"sub\\b.txt"};
    // An old time, so that any rewrite would show in the last-write time.
    const FILETIME old = {0x2A3B4000, 0x01C0F0A8};
    for (const std::wstring& name : names) {
        WriteFileBytes(dir / name, kGb2312);
        HANDLE file = CreateFileW((dir / name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &old));
        CloseHandle(file);
    }
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
    struct {
        const wchar_t* text;
        bool folderMode;
        TextFormat from;
        TextFormat to;
    } const cases[] = {
        {L"", true, SimplifiedGb2312, TraditionalBig5},       {L"", false, SimplifiedGb2312, TraditionalBig5},
        {L".", true, SimplifiedGb2312, SimplifiedGb2312},    {L"*.txt", false, SimplifiedGb2312, SimplifiedGb2312},
        {L"a.txt", false, TraditionalBig5, TraditionalBig5},
    };
    for (const auto& c : cases)
        Convert(c.text, c.folderMode, c.from, c.to);
    SetCurrentDirectoryW(previous);

    for (const std::wstring& name : names) {
        EXPECT_EQ(Hex(ReadFileBytes(dir / name)), Hex(kGb2312));
        const FILETIME now = LastWriteTime(dir / name);
        EXPECT_TRUE(now.dwLowDateTime == old.dwLowDateTime && now.dwHighDateTime == old.dwHighDateTime);
    }
}

// The tree (made by link_tree.sh) links back to its own top, to an ancestor, to a folder itself, to a
// folder of the tree a second time, and twice to a folder outside it.
TEST(WalkConversion, LinkLoopConvertsEachFileOnce) {
    const char* tree = std::getenv("QTX_WALK_LINK_TREE");
    if (tree == nullptr)
        GTEST_SKIP() << "QTX_WALK_LINK_TREE is set by the CTest fixture that makes the linked tree";
    const std::wstring base = FromUnixPath(tree);

    Convert(base + L"\\root", true, SimplifiedGb2312, TraditionalBig5);

    for (const wchar_t* file :
         {L"root\\a.txt", L"root\\sub\\b.txt", L"root\\sub\\deeper\\c.txt", L"elsewhere\\d.txt"}) {
        SCOPED_TRACE(std::string(file, file + lstrlenW(file)));
        EXPECT_EQ(Hex(ReadFileBytes(base + L"\\" + file)), Hex(kBig5));
    }
}

}  // namespace
