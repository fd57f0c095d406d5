// The walk with the real file conversion: what the files of a tree hold after one request.
// GB2312 to Simplified UTF-8 needs no script mapping, and converting a file a second time would read its
// UTF-8 bytes as GB2312 and change them again, so a file converted twice shows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_files.h"
#include "walk_conversion.h"

namespace {

TEST(WalkConversion, TreeConvertedOnceAndReadOnlyFileSkipped) {
    TempDir dir;
    const std::vector<std::wstring> converted = {L"a.txt", L"c", L"sub\\d.txt", L"sub\\\u4E2D \u6587\\e f.txt"};
    for (const std::wstring& name : converted)
        WriteFileBytes(dir / name, kGb2312);
    // Between the others in the listing's order, so the walk must go on past it.
    const std::wstring readOnly = dir / L"b-read-only.txt";
    WriteFileBytes(readOnly, kGb2312);
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));

    Convert(dir.path(), true, SimplifiedGb2312, SimplifiedUtf8);

    for (const std::wstring& name : converted)
        EXPECT_EQ(Hex(ReadFileBytes(dir / name)), Hex(kUtf8));
    EXPECT_EQ(Hex(ReadFileBytes(readOnly)), Hex(kGb2312));
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
        {L"", true, SimplifiedGb2312, SimplifiedUtf8},       {L"", false, SimplifiedGb2312, SimplifiedUtf8},
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

    Convert(base + L"\\root", true, SimplifiedGb2312, SimplifiedUtf8);

    for (const wchar_t* file :
         {L"root\\a.txt", L"root\\sub\\b.txt", L"root\\sub\\deeper\\c.txt", L"elsewhere\\d.txt"}) {
        SCOPED_TRACE(std::string(file, file + lstrlenW(file)));
        EXPECT_EQ(Hex(ReadFileBytes(base + L"\\" + file)), Hex(kUtf8));
    }
}

}  // namespace
