// Converting one file in place: exact bytes for every pair of formats and for the edge cases (expected bytes
// from tests/fixtures/make_conversion_fixtures.py, built with Python's codecs and Unihan), and files that
// must be left untouched. Every case also checks that no temporary file is left behind.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "conversion_fixtures.h"
#include "file_conversion.h"
#include "test_files.h"

namespace fixtures {

void PrintTo(const ContentCase& c, std::ostream* out) {
    *out << c.name << " (" << c.from << " to " << c.to << ", " << c.source.size() << " bytes)";
}

}  // namespace fixtures

namespace {

using fixtures::ContentCase;

const char* const kFormatNames[] = {"TraditionalUnicode", "TraditionalUtf8", "TraditionalBig5",
                                    "SimplifiedUnicode",  "SimplifiedUtf8",  "SimplifiedGb2312"};

void Convert(const std::wstring& path, unsigned from, unsigned to) {
    ConvertFile(path.c_str(), static_cast<TextFormat>(from), static_cast<TextFormat>(to));
}

// Writes `source` to a file named `name` in `dir`, converts it and returns what the file then holds.
Bytes ConvertInFolder(const TempDir& dir, const std::wstring& name, const Bytes& source, unsigned from, unsigned to) {
    WriteFileBytes(dir / name, source);
    Convert(dir / name, from, to);
    EXPECT_EQ(ListNames(dir.path()), name) << "another file is left in the folder";
    return ReadFileBytes(dir / name);
}

std::wstring EnvironmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != 0 ? FromUnixPath(value) : std::wstring();
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// All 30 conversions of the sample text.

class EveryConversion : public testing::TestWithParam<std::pair<unsigned, unsigned>> {};

TEST_P(EveryConversion, WritesSignatureAndTextOfTheTarget) {
    const auto [from, to] = GetParam();
    TempDir dir;
    const Bytes result = ConvertInFolder(dir, L"sample.txt", fixtures::kSample[from], from, to);
    EXPECT_EQ(Hex(result), Hex(fixtures::kConverted[from][to]));
}

std::vector<std::pair<unsigned, unsigned>> AllPairs() {
    std::vector<std::pair<unsigned, unsigned>> pairs;
    for (unsigned from = 0; from < 6; ++from) {
        for (unsigned to = 0; to < 6; ++to) {
            if (from != to)
                pairs.emplace_back(from, to);
        }
    }
    return pairs;
}

INSTANTIATE_TEST_SUITE_P(FileConversion, EveryConversion, testing::ValuesIn(AllPairs()), [](const auto& info) {
    return std::string(kFormatNames[info.param.first]) + "To" + kFormatNames[info.param.second];
});

// Edge cases of content, grouped by boundary: converted to exact bytes, or left untouched.

class ContentCases : public testing::TestWithParam<ContentCase> {};

TEST_P(ContentCases, ConvertOrLeaveUntouched) {
    const ContentCase& c = GetParam();
    TempDir dir;
    const Bytes result = ConvertInFolder(dir, L"case.txt", c.source, c.from, c.to);
    EXPECT_EQ(Hex(result), Hex(c.expected)) << c.name << ": " << kFormatNames[c.from] << " to " << kFormatNames[c.to]
                                            << (c.untouched ? " must leave the file untouched" : "");
}

std::string CaseName(const testing::TestParamInfo<ContentCase>& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name + "_" + std::to_string(info.param.from) + "to" + std::to_string(info.param.to) + "_" +
           std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Empty, ContentCases, testing::ValuesIn(fixtures::kEmptyCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Signatures, ContentCases, testing::ValuesIn(fixtures::kSignatureCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Lengths, ContentCases, testing::ValuesIn(fixtures::kLengthCases), CaseName);
INSTANTIATE_TEST_SUITE_P(NotText, ContentCases, testing::ValuesIn(fixtures::kNotTextCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Characters, ContentCases, testing::ValuesIn(fixtures::kCharacterCases), CaseName);

// Files the program must not rewrite although Wine, running as root, would let it.

class ProtectedAttributes : public testing::TestWithParam<DWORD> {};

TEST_P(ProtectedAttributes, LeaveTheFileUntouched) {
    TempDir dir;
    const std::wstring path = dir / L"protected.txt";
    WriteFileBytes(path, fixtures::kSample[TraditionalBig5]);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), GetParam()));
    const DWORD before = GetFileAttributesW(path.c_str());
    Convert(path, TraditionalBig5, SimplifiedUtf8);
    EXPECT_EQ(Hex(ReadFileBytes(path)), Hex(fixtures::kSample[TraditionalBig5]));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), before);
    EXPECT_EQ(ListNames(dir.path()), L"protected.txt");
}

INSTANTIATE_TEST_SUITE_P(FileConversion,
                         ProtectedAttributes,
                         testing::Values(FILE_ATTRIBUTE_READONLY,
                                         FILE_ATTRIBUTE_HIDDEN,
                                         FILE_ATTRIBUTE_SYSTEM,
                                         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

class HeldOpen : public testing::TestWithParam<DWORD> {};

TEST_P(HeldOpen, FileThatCantBeReplacedIsUntouched) {
    TempDir dir;
    const std::wstring path = dir / L"busy.txt";
    WriteFileBytes(path, fixtures::kSample[SimplifiedGb2312]);
    HANDLE other = CreateFileW(path.c_str(), GENERIC_READ, GetParam(), nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    Convert(path, SimplifiedGb2312, TraditionalUtf8);
    CloseHandle(other);
    EXPECT_EQ(Hex(ReadFileBytes(path)), Hex(fixtures::kSample[SimplifiedGb2312]));
    EXPECT_EQ(ListNames(dir.path()), L"busy.txt");
    // Once the other program lets go, the same file converts: the handle was what stopped it.
    Convert(path, SimplifiedGb2312, TraditionalUtf8);
    EXPECT_EQ(Hex(ReadFileBytes(path)), Hex(fixtures::kConverted[SimplifiedGb2312][TraditionalUtf8]));
}

INSTANTIATE_TEST_SUITE_P(FileConversion,
                         HeldOpen,
                         testing::Values(0, FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));

TEST(FileConversion, FileWithSeveralHardLinksIsUntouched) {
    TempDir dir;
    WriteFileBytes(dir / L"first.txt", fixtures::kSample[TraditionalUtf8]);
    ASSERT_TRUE(CreateHardLinkW((dir / L"second.txt").c_str(), (dir / L"first.txt").c_str(), nullptr));
    Convert(dir / L"first.txt", TraditionalUtf8, SimplifiedGb2312);
    Convert(dir / L"second.txt", TraditionalUtf8, SimplifiedGb2312);
    EXPECT_EQ(Hex(ReadFileBytes(dir / L"first.txt")), Hex(fixtures::kSample[TraditionalUtf8]));
    EXPECT_EQ(ListNames(dir.path()), L"first.txt|second.txt");
}

TEST(FileConversion, FilesOf2GiBOrMoreAreUntouchedWithoutBeingRead) {
    TempDir dir;
    const std::wstring path = dir / L"huge.txt";
    for (const LONGLONG size : {0x80000000LL, 0x100000000LL, 0x100000003LL}) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, "abc", 3, &written, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = size;
        // Sparse on the build machine's file systems: nothing of the size is really written.
        ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
        CloseHandle(file);
        const FILETIME before = LastWriteTime(path);
        Convert(path, TraditionalBig5, TraditionalUnicode);
        WIN32_FILE_ATTRIBUTE_DATA after{};
        ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &after));
        EXPECT_EQ(static_cast<LONGLONG>(after.nFileSizeHigh) << 32 | after.nFileSizeLow, size);
        EXPECT_TRUE(SameTime(after.ftLastWriteTime, before));
        EXPECT_EQ(ListNames(dir.path()), L"huge.txt");
    }
}

// Names and paths that must still convert.

class Names : public testing::TestWithParam<const wchar_t*> {};

TEST_P(Names, Convert) {
    TempDir dir;
    const std::wstring name = GetParam();
    const Bytes result = ConvertInFolder(dir, name, fixtures::kSample[SimplifiedUtf8], SimplifiedUtf8, TraditionalBig5);
    EXPECT_EQ(Hex(result), Hex(fixtures::kConverted[SimplifiedUtf8][TraditionalBig5]));
}

// A leading dot is no hidden flag on Windows (the test prefix shows dot files as Windows does).
INSTANTIATE_TEST_SUITE_P(
    FileConversion,
    Names,
    testing::Values(L".dotfile", L"中文檔名.txt", L"no extension", L"~qtx.tmp", L"name with spaces.txt"));

TEST(FileConversion, FileAtTheRootOfADriveConverts) {
    // C: is the test prefix's own drive, inside the build folder.
    const std::wstring path = L"C:\\qtx-root-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    WriteFileBytes(path, fixtures::kSample[SimplifiedUnicode]);
    Convert(path, SimplifiedUnicode, SimplifiedGb2312);
    EXPECT_EQ(Hex(ReadFileBytes(path)), Hex(fixtures::kConverted[SimplifiedUnicode][SimplifiedGb2312]));
    DeleteFileW(path.c_str());
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(L"C:\\~qtx*", &found);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "temporary file left at the root";
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
}

TEST(FileConversion, RelativePathConverts) {
    TempDir dir;
    WriteFileBytes(dir / L"relative.txt", fixtures::kSample[TraditionalUnicode]);
    wchar_t previous[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
    Convert(L"relative.txt", TraditionalUnicode, SimplifiedUnicode);
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(Hex(ReadFileBytes(dir / L"relative.txt")),
              Hex(fixtures::kConverted[TraditionalUnicode][SimplifiedUnicode]));
    EXPECT_EQ(ListNames(dir.path()), L"relative.txt");
}

// A path of exactly 259 characters, whether its length lies in the folders or in the name: the temporary
// file's longer path must not stop it.
class PathAtTheLimit : public testing::TestWithParam<bool> {};

TEST_P(PathAtTheLimit, Converts) {
    TempDir dir;
    const bool longName = GetParam();
    const size_t room = 259 - dir.path().size() - 1;
    std::wstring folder = dir.path();
    std::wstring name;
    if (longName) {
        name = std::wstring(room - 4, L'n') + L".txt";
    } else {
        folder += L"\\" + std::wstring(room - 2, L'f');
        name = L"a";
        MakeFolders(folder);
    }
    const std::wstring path = folder + L"\\" + name;
    ASSERT_EQ(path.size(), 259u);
    WriteFileBytes(path, fixtures::kSample[TraditionalBig5]);
    Convert(path, TraditionalBig5, SimplifiedUtf8);
    EXPECT_EQ(Hex(ReadFileBytes(path)), Hex(fixtures::kConverted[TraditionalBig5][SimplifiedUtf8]));
    EXPECT_EQ(ListNames(folder), name);
}

INSTANTIATE_TEST_SUITE_P(FileConversion, PathAtTheLimit, testing::Values(false, true));

// A real full disk: a 64 KiB tmpfs mounted by the engine_tiny_disk fixture.
TEST(FileConversion, FullDiskKeepsTheOldContent) {
    const std::wstring disk = EnvironmentPath("QTX_TINY_DISK");
    if (disk.empty() || !FileExists(disk + L"\\mounted"))
        GTEST_SKIP() << "no tiny tmpfs: mounting one needs root (see the engine_tiny_disk_setup output)";
    TempDir dir(disk);

    // A small file fits: the disk itself is writable.
    EXPECT_EQ(
        Hex(ConvertInFolder(dir, L"small.txt", fixtures::kSample[TraditionalBig5], TraditionalBig5, TraditionalUtf8)),
        Hex(fixtures::kConverted[TraditionalBig5][TraditionalUtf8]));
    DeleteFileW((dir / L"small.txt").c_str());

    // About 41 KB of Big5 becomes about 55 KB of UTF-8: both can't be on the disk at once.
    Bytes big;
    for (int i = 0; i < 700; ++i)
        big += fixtures::kSample[TraditionalBig5];
    WriteFileBytes(dir / L"big.txt", big);
    ASSERT_EQ(ReadFileBytes(dir / L"big.txt").size(), big.size());
    Convert(dir / L"big.txt", TraditionalBig5, TraditionalUtf8);
    EXPECT_TRUE(ReadFileBytes(dir / L"big.txt") == big) << "the old content did not survive the full disk";
    EXPECT_EQ(ListNames(dir.path()), L"big.txt");
}

// Unix symbolic links made by the engine_file_links fixture: link.txt -> target.txt, folder-link -> real.
class SymbolicLinks : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = EnvironmentPath("QTX_FILE_LINKS");
        if (folder_.empty() || !FileExists(folder_ + L"\\folder-link"))
            GTEST_SKIP() << "no symbolic links: run through CTest (engine_file_links fixture)";
    }
    std::wstring folder_;
};

TEST_F(SymbolicLinks, LinkToAFileIsLeftAsItIsAndItsTargetConverts) {
    const std::wstring link = folder_ + L"\\link.txt";
    const std::wstring target = folder_ + L"\\target.txt";
    WriteFileBytes(target, fixtures::kSample[TraditionalBig5]);
    Convert(link, TraditionalBig5, TraditionalUtf8);
    EXPECT_EQ(Hex(ReadFileBytes(target)), Hex(fixtures::kSample[TraditionalBig5]));
    EXPECT_EQ(ListNames(folder_), L"folder-link|link.txt|real|target.txt");

    // Converting the target itself keeps the link pointing at it.
    Convert(target, TraditionalBig5, TraditionalUtf8);
    EXPECT_EQ(Hex(ReadFileBytes(link)), Hex(fixtures::kConverted[TraditionalBig5][TraditionalUtf8]));
    HANDLE file = CreateFileW(link.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    wchar_t resolved[1024];
    const DWORD length = GetFinalPathNameByHandleW(file, resolved, 1024, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    EXPECT_EQ(std::wstring(resolved, length).substr(length - 11), L"\\target.txt") << "link.txt is no link anymore";
    DeleteFileW(target.c_str());
}

TEST_F(SymbolicLinks, FileInALinkedFolderConvertsAndTheFolderLinkStays) {
    WriteFileBytes(folder_ + L"\\real\\inside.txt", fixtures::kSample[SimplifiedGb2312]);
    Convert(folder_ + L"\\folder-link\\inside.txt", SimplifiedGb2312, TraditionalUnicode);
    EXPECT_EQ(Hex(ReadFileBytes(folder_ + L"\\real\\inside.txt")),
              Hex(fixtures::kConverted[SimplifiedGb2312][TraditionalUnicode]));
    EXPECT_EQ(ListNames(folder_ + L"\\real"), L"inside.txt");
    EXPECT_EQ(GetFileAttributesW((folder_ + L"\\folder-link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT,
              static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
    DeleteFileW((folder_ + L"\\real\\inside.txt").c_str());
}

}  // namespace
