// The walk on real folder trees, with a file conversion that records every path it is handed, so each test
// sees exactly which files one request would convert, how often, and under which path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "file_conversion.h"
#include "import_patch.h"
#include "test_files.h"
#include "walk.h"

namespace {

struct Call {
    std::wstring path;
    TextFormat from;
    TextFormat to;
};
std::vector<Call> g_calls;

}  // namespace

// The walk hands each file over with its folder's FolderConversion: the stand-ins keep the folder's path
// in it, and each file must be an entry of the folder begun for it and not yet ended.
void BeginFolderConversion(const wchar_t* folderPath, FolderConversion* folder) {
    const size_t length = wcslen(folderPath);
    *folder = {new wchar_t[length + 1], nullptr, nullptr};
    wcscpy(folder->finalPath, folderPath);
}

void ConvertFileInFolder(FolderConversion* folder, const wchar_t* path, TextFormat from, TextFormat to) {
    const std::wstring file = path;
    const std::wstring prefix = folder->finalPath != nullptr ? folder->finalPath : L"?";
    EXPECT_TRUE(file.compare(0, prefix.size(), prefix) == 0 && file.find(L'\\', prefix.size()) == std::wstring::npos)
        << "a file handed over with another folder's conversion";
    g_calls.push_back({path, from, to});
    if (g_calls.size() > 10000)  // round a link loop without end: stop before memory runs out
        std::abort();
}

void ReleaseBackup(FolderConversion*) {}

void EndFolderConversion(FolderConversion* folder) {
    delete[] folder->finalPath;
    folder->finalPath = nullptr;
}

namespace {

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t unit : text)
        out += unit < 0x80 ? static_cast<char>(unit) : '?';
    return out;
}

// Runs one request and returns the paths handed over for conversion, sorted (the platform decides the order).
std::vector<std::wstring> Convert(const std::wstring& text,
                                  bool folderMode,
                                  TextFormat from = SimplifiedGb2312,
                                  TextFormat to = TraditionalBig5) {
    EXPECT_LT(text.size(), static_cast<size_t>(MAX_PATH)) << "request text does not fit: " << Narrow(text);
    ConversionRequest request = {};
    lstrcpynW(request.text, text.c_str(), MAX_PATH);
    request.folderMode = folderMode;
    request.from = from;
    request.to = to;
    g_calls.clear();
    ConvertPath(request);
    std::vector<std::wstring> paths;
    for (const Call& call : g_calls) {
        EXPECT_EQ(call.from, from);
        EXPECT_EQ(call.to, to);
        paths.push_back(call.path);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<std::wstring> Under(const std::wstring& folder, const std::vector<std::wstring>& names) {
    std::vector<std::wstring> paths;
    for (const std::wstring& name : names)
        paths.push_back(folder + L"\\" + name);
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::string Show(const std::vector<std::wstring>& paths) {
    std::string out;
    for (const std::wstring& path : paths)
        out += "\n  " + Narrow(path);
    return out;
}

#define EXPECT_PATHS(actual, expected) EXPECT_EQ(actual, expected) << "got:" << Show(actual)

// Names with spaces, without a dot, in Chinese (中文 名, 中 文), a folder that matches "*.txt".
const std::vector<std::wstring> kTree = {
    L"a.txt",
    L"B.TXT",
    L"c.log",
    L"noext",
    L"with space.txt",
    L"\u4E2D\u6587 \u540D.txt",
    L"folder.txt\\inner.txt",
    L"sub\\d.txt",
    L"sub\\deep\\deeper\\e",
    L"sub\\deep\\deeper\\\u4E2D \u6587\\f.txt",
};

void MakeTree(const TempDir& dir) {
    for (const std::wstring& name : kTree)
        WriteFileBytes(dir / name, "abc");
    MakeFolders(dir / L"empty");
}

struct ModeCase {
    const char* what;
    std::wstring suffix;  // appended to the tree's folder to form the request's text
    bool folderMode;
    std::vector<std::wstring> converted;  // relative to the tree's folder
};

TEST(Walk, WhatEachRequestConverts) {
    TempDir dir;
    MakeTree(dir);
    const std::vector<std::wstring> deep = {L"sub\\deep\\deeper\\e", L"sub\\deep\\deeper\\\u4E2D \u6587\\f.txt"};
    std::vector<std::wstring> sub = deep;
    sub.push_back(L"sub\\d.txt");
    const std::vector<std::wstring> txt = {L"a.txt", L"B.TXT", L"with space.txt", L"\u4E2D\u6587 \u540D.txt"};
    const ModeCase cases[] = {
        {"one file", L"\\a.txt", false, {L"a.txt"}},
        {"one file typed with a trailing dot and space", L"\\a.txt. ", false, {L"a.txt"}},
        {"one file named in Chinese", L"\\\u4E2D\u6587 \u540D.txt", false, {L"\u4E2D\u6587 \u540D.txt"}},
        {"pattern: matching folder ignored, subfolders not entered", L"\\*.txt", false, txt},
        {"pattern without a dot", L"\\sub\\*", false, {L"sub\\d.txt"}},
        {"pattern with forward slashes", L"/sub/*.txt", false, {L"sub\\d.txt"}},
        {"whole tree, no filter", L"", true, kTree},
        {"whole tree, trailing backslash", L"\\", true, kTree},
        {"subfolder by forward slashes", L"/sub/deep", true, deep},
        {"subfolder through ..", L"\\sub\\deep\\..\\..\\sub", true, sub},
        {"folder that names a file", L"\\a.txt", true, {}},
        {"file mode on a folder", L"\\sub", false, {}},
        {"file mode on a folder, trailing backslash", L"\\sub\\", false, {}},
        {"empty folder", L"\\empty", true, {}},
        {"pattern matching nothing", L"\\*.doc", false, {}},
        {"missing file", L"\\missing.txt", false, {}},
        {"missing folder", L"\\missing", true, {}},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_PATHS(Convert(dir.path() + c.suffix, c.folderMode), Under(dir.path(), c.converted));
    }
}

TEST(Walk, EqualFormatsOrEmptyPathConvertNothing) {
    TempDir dir;
    MakeTree(dir);
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    // An empty path must not turn into "*.*" in the current folder.
    ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
    for (bool folderMode : {true, false}) {
        SCOPED_TRACE(folderMode ? "folder mode" : "file mode");
        EXPECT_TRUE(Convert(L"", folderMode).empty());
        for (unsigned format = 0; format < kTextFormatCount; ++format) {
            const auto same = static_cast<TextFormat>(format);
            EXPECT_TRUE(Convert(dir.path(), folderMode, same, same).empty());
            EXPECT_TRUE(Convert(dir / L"*.txt", folderMode, same, same).empty());
        }
    }
    SetCurrentDirectoryW(previous);
}

// A name of `first` then 'x's, so that the tree's folder, a backslash and the name are `total` units long.
std::wstring NameForLength(const TempDir& dir, wchar_t first, size_t total) {
    return first + std::wstring(total - dir.path().size() - 2, L'x');
}

TEST(Walk, PathsThatDoNotFitAreSkippedWhole) {
    TempDir dir;
    const std::wstring file259 = NameForLength(dir, L'a', 259);  // the longest path that fits
    const std::wstring file260 = NameForLength(dir, L'b', 260);
    const std::wstring folder255 = NameForLength(dir, L'c', 255);  // with "\*.*": 259
    const std::wstring folder256 = NameForLength(dir, L'd', 256);
    for (const std::wstring& name : {file259, file260, folder255 + L"\\x", folder256 + L"\\x"})
        WriteFileBytes(dir / name, "abc");
    ASSERT_TRUE(FileExists(dir / file260));

    const ModeCase cases[] = {
        {"whole tree", L"", true, {file259, folder255 + L"\\x"}},
        {"pattern", L"\\*", false, {file259}},
        {"one file at the limit", L"\\" + file259, false, {file259}},
        {"folder at the limit", L"\\" + folder255, true, {folder255 + L"\\x"}},
        {"folder at the limit, trailing backslash", L"\\" + folder255 + L"\\", true, {folder255 + L"\\x"}},
        {"folder past the limit", L"\\" + folder256, true, {}},
        {"folder past the limit, trailing backslash", L"\\" + folder256 + L"\\", true, {}},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_PATHS(Convert(dir.path() + c.suffix, c.folderMode), Under(dir.path(), c.converted));
    }
}

// FindFirstFileW as the walk sees it: each pattern is recorded, and the first listing whose pattern ends in
// g_failFirst fails, as a folder that can't be listed at that moment.
std::vector<std::wstring> g_listed;
std::wstring g_failFirst;

HANDLE WINAPI RecordingFindFirst(LPCWSTR pattern, LPWIN32_FIND_DATAW found) {
    g_listed.push_back(pattern);
    if (!g_failFirst.empty() && g_listed.back().ends_with(g_failFirst)) {
        g_failFirst.clear();
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return FindFirstFileExW(pattern, FindExInfoStandard, found, FindExSearchNameMatch, nullptr, 0);
}

// Only the folder is made a full path: on Windows "*." lists the names without an extension, and
// GetFullPathNameW would strip the dot (Wine's listing ignores it, so only the pattern can show it).
TEST(Walk, ThePatternsLastElementIsListedAsTyped) {
    TempDir dir;
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
    ImportPatch patch("kernel32.dll", "FindFirstFileW", &RecordingFindFirst);
    // Full, with a forward slash and "..", relative, drive-relative.
    for (const std::wstring& text :
         {dir / L"*.", dir.path() + L"/sub/..\\*. ", std::wstring(L"*."), dir.path().substr(0, 2) + L"*."}) {
        g_listed.clear();
        Convert(text, false);
        EXPECT_EQ(g_listed, std::vector<std::wstring>{dir / text.substr(text.find(L'*'))}) << Narrow(text);
    }
    SetCurrentDirectoryW(previous);
}

using Identity = std::tuple<DWORD, DWORD, DWORD>;

Identity IdentityOf(const std::wstring& path) {
    HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << Narrow(path);
    BY_HANDLE_FILE_INFORMATION information = {};
    GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    return {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
}

// Drives that can't tell a folder's identity refuse the open or give every file the ID 0; Windows 7 has no
// 128-bit file IDs.
HANDLE WINAPI RefuseOpen(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI RefuseFileId(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL WINAPI ZeroFileId(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID information, DWORD size) {
    ZeroMemory(information, size);
    return TRUE;
}

// The tree (made by link_tree.sh) links back to its own top, to an ancestor two levels up, to a folder
// itself, to a folder of the tree a second time, and twice to a folder outside it. Where folders can't be
// told apart, the plain ones are all walked and the links left out, so the folder outside is not reached.
TEST(Walk, LinkedFoldersAreWalkedOnce) {
    const char* tree = std::getenv("QTX_WALK_LINK_TREE");
    if (tree == nullptr)
        GTEST_SKIP() << "QTX_WALK_LINK_TREE is set by the CTest fixture that makes the linked tree";
    const std::wstring base = FromUnixPath(tree);
    std::map<Identity, int> inTree, throughLinks;
    for (const wchar_t* file : {L"root\\a.txt", L"root\\sub\\b.txt", L"root\\sub\\deeper\\c.txt"})
        inTree[IdentityOf(base + L"\\" + file)] = 1;
    throughLinks = inTree;
    throughLinks[IdentityOf(base + L"\\elsewhere\\d.txt")] = 1;
    ASSERT_EQ(throughLinks.size(), 4u);

    const struct {
        const char* what;
        decltype(&CreateFileW) open;  // the platform's own, or a stand-in
        decltype(&GetFileInformationByHandleEx) fileId;
        const wchar_t* failFirst;  // the first listing of this pattern fails
        const std::map<Identity, int>& expected;
    } cases[] = {
        {"identities known", &CreateFileW, &GetFileInformationByHandleEx, L"", throughLinks},
        {"no file ID (Windows 7): the file index tells", &CreateFileW, &RefuseFileId, L"", throughLinks},
        {"the first route to a folder can't list it", &CreateFileW, &GetFileInformationByHandleEx, L"\\again\\*.*",
         throughLinks},
        {"folders can't be opened", &RefuseOpen, &GetFileInformationByHandleEx, L"", inTree},
        {"file ID 0", &CreateFileW, &ZeroFileId, L"", inTree},
    };
    for (const auto& c : cases) {
        for (const wchar_t* suffix : {L"\\root", L"\\root\\sub\\up\\sub\\deeper\\top"}) {
            SCOPED_TRACE(c.what + (" from " + Narrow(suffix)));
            std::vector<std::wstring> paths;
            {
                ImportPatch open("kernel32.dll", "CreateFileW", c.open);
                ImportPatch fileId("kernel32.dll", "GetFileInformationByHandleEx", c.fileId);
                ImportPatch find("kernel32.dll", "FindFirstFileW", &RecordingFindFirst);
                ASSERT_TRUE(open.active() && fileId.active() && find.active());
                g_failFirst = c.failFirst;
                paths = Convert(base + suffix, true);
                EXPECT_TRUE(g_failFirst.empty()) << "no listing failed";
            }
            std::map<Identity, int> seen;
            for (const std::wstring& path : paths)
                ++seen[IdentityOf(path)];
            EXPECT_EQ(seen, c.expected) << "got:" << Show(paths);
        }
    }
}

}  // namespace
