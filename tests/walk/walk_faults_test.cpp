// A folder walk with the real conversion meeting what a live machine throws at it: files held open by
// someone else, files deleted and created while the walk runs, protected files, dot names and paths at the
// length limit. Every file must end with its whole old content or its whole converted content, and no
// temporary file may be left anywhere in the tree.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "test_files.h"
#include "walk_conversion.h"

namespace {

// Every file below `folder`, by path relative to it, with its content.
void ReadTree(const std::wstring& folder, const std::wstring& prefix, std::map<std::wstring, Bytes>* files) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ReadTree(folder + L"\\" + name, prefix + name + L"\\", files);
        else
            (*files)[prefix + name] = ReadFileBytes(folder + L"\\" + name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

std::map<std::wstring, Bytes> ReadTree(const std::wstring& folder) {
    std::map<std::wstring, Bytes> files;
    ReadTree(folder, L"", &files);
    return files;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t unit : text)
        out += unit < 0x80 ? static_cast<char>(unit) : '?';
    return out;
}

// A file another program has open while the walk runs. Windows lets a file be replaced while others hold
// it only if they all share deletion; a writer that doesn't share writing keeps the file from being read.
TEST(WalkFaults, FilesHeldOpenAreLeftAndTheWalkGoesOn) {
    struct Held {
        const wchar_t* name;
        DWORD access;
        DWORD share;
        bool converted;
    } const held[] = {
        {L"b reader sharing nothing.txt", GENERIC_READ, 0, false},
        {L"d reader sharing reading.txt", GENERIC_READ, FILE_SHARE_READ, false},
        {L"sub\\f writer sharing reading.txt", GENERIC_WRITE, FILE_SHARE_READ, false},
        {L"sub\\h reader sharing all.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
    };
    TempDir dir;
    // The held files lie between these in the listing's order, so the walk must go on past each of them.
    const std::vector<std::wstring> free = {L"a.txt", L"c.txt", L"e.txt", L"sub\\g.txt", L"sub\\i.txt"};
    for (const std::wstring& name : free)
        WriteFileBytes(dir / name, kGb2312);
    std::vector<HANDLE> handles;
    for (const Held& h : held) {
        WriteFileBytes(dir / h.name, kGb2312);
        handles.push_back(CreateFileW((dir / h.name).c_str(), h.access, h.share, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(handles.back(), INVALID_HANDLE_VALUE);
    }
    Convert(dir.path(), true, SimplifiedGb2312, TraditionalBig5);
    for (HANDLE handle : handles)
        CloseHandle(handle);

    for (const Held& h : held)
        EXPECT_EQ(Hex(ReadFileBytes(dir / h.name)), Hex(h.converted ? kBig5 : kGb2312)) << Narrow(h.name);
    for (const std::wstring& name : free)
        EXPECT_EQ(Hex(ReadFileBytes(dir / name)), Hex(kBig5)) << Narrow(name);
    EXPECT_EQ(ReadTree(dir.path()).size(), free.size() + std::size(held)) << "a temporary file was left";
}

// Another thread deletes files and a folder the walk has not reached yet, deletes files at its heels and
// the very file it is converting, and adds new ones, all while the walk runs. Nothing deleted may come back
// with its old content, no file may end as anything but its old or its converted content, and nothing else
// may appear.
TEST(WalkFaults, FilesDeletedAndCreatedDuringTheWalk) {
    TempDir dir;
    constexpr int kFiles = 240;
    auto name = [](const wchar_t* folder, int i) { return std::wstring(folder) + L"\\f" + std::to_wstring(1000 + i); };
    for (int i = 0; i < kFiles; ++i)
        WriteFileBytes(dir / name(L"big", i), kGb2312);
    for (int i = 0; i < 20; ++i)
        WriteFileBytes(dir / name(L"zz doomed folder", i), kGb2312);

    std::vector<std::wstring> deleted, created;
    std::thread meddler([&] {
        // Wait for the walk's first conversion, so that the rest happens while it runs.
        for (int wait = 0; wait < 10000 && ReadFileBytes(dir / name(L"big", 0)) == kGb2312; ++wait)
            Sleep(1);
        // From the end backwards, ahead of the walk, and from the start forwards, at its heels and through
        // the file it converts right now.
        for (int k = 0; k < kFiles / 4; ++k) {
            for (const int i : {kFiles - 1 - k, 1 + k}) {
                if (DeleteFileW((dir / name(L"big", i)).c_str()))
                    deleted.push_back(name(L"big", i));
            }
            created.push_back(name(L"big", 5000 + k));
            WriteFileBytes(dir / created.back(), kGb2312);
            Sleep(2);  // about the walk's own pace under Wine
            if (k == 10) {
                RemoveTree(dir / L"zz doomed folder");
                for (int i = 0; i < 20; ++i)
                    deleted.push_back(name(L"zz doomed folder", i));
                created.push_back(L"zz new folder\\f1");
                WriteFileBytes(dir / created.back(), kGb2312);
            }
        }
    });
    Convert(dir.path(), true, SimplifiedGb2312, TraditionalBig5);
    meddler.join();

    const std::map<std::wstring, Bytes> files = ReadTree(dir.path());
    // Wine lets a file whose deletion is pending be renamed, and the deletion then misses it: a replace at
    // the same instant as a delete can win there with the complete new content. Windows refuses the rename,
    // the replace fails and the file stays deleted.
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    size_t back = 0;
    for (const std::wstring& gone : deleted) {
        if (files.count(gone) == 0)
            continue;
        ++back;
        EXPECT_TRUE(wine && files.at(gone) == kBig5) << Narrow(gone) << " came back holding " << Hex(files.at(gone));
    }
    size_t converted = 0;
    for (const auto& [path, content] : files) {
        EXPECT_TRUE(content == kGb2312 || content == kBig5) << Narrow(path) << " holds " << Hex(content);
        converted += content == kBig5;
    }
    EXPECT_EQ(files.size(), kFiles + 20 + created.size() - deleted.size() + back) << "a file was left or lost";
    EXPECT_GT(converted, 0u);
    EXPECT_GT(deleted.size(), 0u);
}

// Protected files are left, files in hidden and system folders and dot names are converted (on Windows a
// leading dot is no hidden flag; the test prefix shows dot files as Windows does), and paths at the length
// limit convert while one unit more is skipped, all in one walk.
TEST(WalkFaults, ProtectedFilesDotNamesAndPathsAtTheLimitInOneTree) {
    TempDir dir;
    auto padded = [&](wchar_t first, size_t total) {
        return first + std::wstring(total - dir.path().size() - 2, L'x');
    };
    struct Entry {
        std::wstring path;
        DWORD fileAttributes;
        DWORD folderAttributes;  // of the file's folder
        bool converted;
    } const entries[] = {
        {L"hidden.txt", FILE_ATTRIBUTE_HIDDEN, 0, false},
        {L"system.txt", FILE_ATTRIBUTE_SYSTEM, 0, false},
        {L"read-only hidden.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, 0, false},
        {L"hidden folder\\inside.txt", 0, FILE_ATTRIBUTE_HIDDEN, true},
        {L"system folder\\inside.txt", 0, FILE_ATTRIBUTE_SYSTEM, true},
        {L".dotfile", 0, 0, true},
        {L".\u4E2D\u6587 \u6A94.txt", 0, 0, true},
        {L".dot folder\\.inner", 0, 0, true},
        {padded(L'a', 259), 0, 0, true},            // the longest path that fits
        {padded(L'b', 260), 0, 0, false},           // one unit more: skipped whole
        {padded(L'c', 255) + L"\\f", 0, 0, true},   // the folder with "\*.*" fits
        {padded(L'd', 256) + L"\\f", 0, 0, false},  // it doesn't: never entered
    };
    for (const Entry& e : entries) {
        WriteFileBytes(dir / e.path, kGb2312);
        if (e.fileAttributes != 0) {
            ASSERT_TRUE(SetFileAttributesW((dir / e.path).c_str(), e.fileAttributes));
        }
        if (e.folderAttributes != 0) {
            ASSERT_TRUE(SetFileAttributesW((dir / e.path.substr(0, e.path.find(L'\\'))).c_str(), e.folderAttributes));
        }
    }
    Convert(dir.path(), true, SimplifiedGb2312, TraditionalBig5);

    const std::map<std::wstring, Bytes> files = ReadTree(dir.path());
    EXPECT_EQ(files.size(), std::size(entries)) << "a temporary file was left";
    for (const Entry& e : entries) {
        SCOPED_TRACE(Narrow(e.path));
        EXPECT_EQ(Hex(ReadFileBytes(dir / e.path)), Hex(e.converted ? kBig5 : kGb2312));
        EXPECT_EQ(GetFileAttributesW((dir / e.path).c_str()) &
                      (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY),
                  e.fileAttributes);
    }
}

}  // namespace
