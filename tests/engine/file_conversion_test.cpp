// Converting one file in place: exact bytes for every pair of formats and for the edge cases (expected bytes
// from tests/fixtures/make_conversion_fixtures.py, built with Python's codecs and opencc), files that must
// be left untouched, and platform calls failing part-way (provoked through redirected imports). Every case
// also checks that no temporary file is left behind.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "conversion_fixtures.h"
#include "file_conversion.h"
#include "import_patch.h"
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

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// A folder's entries and last-write time.
struct FolderState {
    std::wstring names;
    FILETIME lastWrite;
};

// The folder's state with its last-write time set long past, so that a file created and deleted again in it
// shows afterwards: a file left untouched because the platform refused to replace it, rather than because
// this program never tried, does not pass for one this program left alone.
FolderState DateBack(const std::wstring& folder) {
    HANDLE handle = CreateFileW(folder.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const FILETIME longAgo = {0, 0x01C00000};  // 1998
    EXPECT_TRUE(handle != INVALID_HANDLE_VALUE && SetFileTime(handle, nullptr, nullptr, &longAgo));
    CloseHandle(handle);
    return {ListNames(folder), LastWriteTime(folder)};
}

void ExpectFolderAsBefore(const std::wstring& folder, const FolderState& before) {
    EXPECT_EQ(ListNames(folder), before.names);
    EXPECT_TRUE(SameTime(LastWriteTime(folder), before.lastWrite)) << "a file was created or deleted in the folder";
}

// Writes `source` to a file named `name` in `dir`, converts it and returns what the file then holds.
Bytes ConvertInFolder(const TempDir& dir,
                      const std::wstring& name,
                      const Bytes& source,
                      unsigned from,
                      unsigned to,
                      bool untouched = false) {
    WriteFileBytes(dir / name, source);
    const FolderState before = DateBack(dir.path());
    Convert(dir / name, from, to);
    if (untouched)
        ExpectFolderAsBefore(dir.path(), before);
    EXPECT_EQ(ListNames(dir.path()), name) << "another file is left in the folder";
    return ReadFileBytes(dir / name);
}

std::wstring EnvironmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != 0 ? FromUnixPath(value) : std::wstring();
}

// The platform's own function behind a redirected import, for stand-ins that pass calls on.
template <typename Function>
Function Platform(Function, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
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
    const Bytes result = ConvertInFolder(dir, L"case.txt", c.source, c.from, c.to, c.untouched);
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
INSTANTIATE_TEST_SUITE_P(Phrases, ContentCases, testing::ValuesIn(fixtures::kPhraseCases), CaseName);

// Files the program must not rewrite. Wine running as root would replace hidden and system files; it refuses
// read-only ones by itself, which only the folder's unchanged last-write time tells apart from our refusal.

class ProtectedAttributes : public testing::TestWithParam<DWORD> {};

TEST_P(ProtectedAttributes, LeaveTheFileUntouched) {
    TempDir dir;
    const std::wstring path = dir / L"protected.txt";
    WriteFileBytes(path, fixtures::kSample[TraditionalBig5]);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), GetParam()));
    const DWORD before = GetFileAttributesW(path.c_str());
    const FolderState folder = DateBack(dir.path());
    Convert(path, TraditionalBig5, SimplifiedUtf8);
    EXPECT_EQ(Hex(ReadFileBytes(path)), Hex(fixtures::kSample[TraditionalBig5]));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), before);
    ExpectFolderAsBefore(dir.path(), folder);
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

// Platform calls failing part-way through the rewrite. Every stand-in below stands for one import.

unsigned writeCalls = 0;

// A disk that takes half of the first write, says so, and then takes nothing more without an error.
BOOL WINAPI WriteShortThenNothing(HANDLE file, LPCVOID data, DWORD asked, LPDWORD written, LPOVERLAPPED overlapped) {
    if (++writeCalls > 100) {
        ADD_FAILURE() << "writing goes on although the disk takes nothing";
        return FALSE;
    }
    const DWORD part = writeCalls == 1 ? asked / 2 : 0;
    return Platform(&WriteFile, "WriteFile")(file, data, part, written, overlapped);
}

BOOL WINAPI WriteFailing(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

BOOL WINAPI FlushFailing(HANDLE) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
}

int WINAPI DecodeFailing(UINT, DWORD, LPCCH, int, LPWSTR, int) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
}

int WINAPI EncodeFailing(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

std::wstring movedAside;

// What Windows reports when the original went to the backup name and the new file could not take its place.
// Like the platform's replace, it overwrites a file already at the backup name.
BOOL WINAPI ReplaceMovingTheOriginalAside(LPCWSTR replaced, LPCWSTR, LPCWSTR backup, DWORD, LPVOID, LPVOID) {
    movedAside = backup;
    // The platform's own, not the import, which a row redirects.
    Platform(&MoveFileExW, "MoveFileExW")(replaced, backup, MOVEFILE_REPLACE_EXISTING);
    SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
    return FALSE;
}

BOOL WINAPI MoveFailing(LPCWSTR, LPCWSTR, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

template <typename Function>
void ConvertWith(const std::wstring& path, const char* function, Function standIn) {
    ImportPatch<Function> patch("kernel32.dll", function, standIn);
    ASSERT_TRUE(patch.active()) << function << " is not imported: nothing would fail";
    Convert(path, TraditionalBig5, SimplifiedUtf8);
}

struct Fault {
    const char* name;
    void (*convert)(const std::wstring& path);  // converts the file with the fault in place
    bool keepsName = true;                      // false: the old content must be left, under the backup name
};

class Faults : public testing::TestWithParam<Fault> {};

TEST_P(Faults, TheOriginalSurvives) {
    TempDir dir;
    const std::wstring path = dir / L"fault.txt";
    const Bytes& old = fixtures::kSample[TraditionalBig5];
    WriteFileBytes(path, old);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    writeCalls = 0;
    movedAside.clear();
    GetParam().convert(path);
    if (GetParam().keepsName) {
        EXPECT_EQ(Hex(ReadFileBytes(path)), Hex(old));
        EXPECT_EQ(GetFileAttributesW(path.c_str()), attributes);
        EXPECT_EQ(ListNames(dir.path()), L"fault.txt");
        return;
    }
    EXPECT_EQ(Hex(ReadFileBytes(movedAside)), Hex(old)) << "the old content is lost";
}

const Fault kFaults[] = {
    {"ShortWriteThenNothing", [](const std::wstring& p) { ConvertWith(p, "WriteFile", &WriteShortThenNothing); }},
    {"FailingWrite", [](const std::wstring& p) { ConvertWith(p, "WriteFile", &WriteFailing); }},
    {"FailingFlush", [](const std::wstring& p) { ConvertWith(p, "FlushFileBuffers", &FlushFailing); }},
    {"FailingDecode", [](const std::wstring& p) { ConvertWith(p, "MultiByteToWideChar", &DecodeFailing); }},
    {"FailingEncode", [](const std::wstring& p) { ConvertWith(p, "WideCharToMultiByte", &EncodeFailing); }},
    {"ReplaceFailsWithTheOriginalMovedAside",
     [](const std::wstring& p) { ConvertWith(p, "ReplaceFileW", &ReplaceMovingTheOriginalAside); }},
    {"AndItCantBeMovedBack",
     [](const std::wstring& p) {
         ImportPatch<decltype(&MoveFileExW)> move("kernel32.dll", "MoveFileExW", &MoveFailing);
         ASSERT_TRUE(move.active());
         ConvertWith(p, "ReplaceFileW", &ReplaceMovingTheOriginalAside);
     },
     false},
};

INSTANTIATE_TEST_SUITE_P(FileConversion, Faults, testing::ValuesIn(kFaults), [](const auto& info) {
    return std::string(info.param.name);
});

// What the platform's replace may drop is given to the new file before it takes the original's place: Wine's
// drops the creation time, and flags it does not even store (not content indexed) are kept on Windows. The
// stand-ins show the original with that flag and record what the engine gives the new file.
FILE_BASIC_INFO basicSet = {};

BOOL WINAPI InformationNotContentIndexed(HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID information, DWORD size) {
    const BOOL got =
        Platform(&GetFileInformationByHandleEx, "GetFileInformationByHandleEx")(file, type, information, size);
    if (type == FileBasicInfo)
        static_cast<FILE_BASIC_INFO*>(information)->FileAttributes |= FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    return got;
}

BOOL WINAPI RecordBasicInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID information, DWORD size) {
    if (type == FileBasicInfo)
        basicSet = *static_cast<FILE_BASIC_INFO*>(information);
    return Platform(&SetFileInformationByHandle, "SetFileInformationByHandle")(file, type, information, size);
}

TEST(FileConversion, TheReplacedFileGetsBackTheOriginalsFlagsAndCreationTime) {
    TempDir dir;
    const std::wstring path = dir / L"kept.txt";
    WriteFileBytes(path, fixtures::kSample[TraditionalBig5]);
    WIN32_FILE_ATTRIBUTE_DATA original{};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &original));
    basicSet = {};
    {
        ImportPatch<decltype(&GetFileInformationByHandleEx)> information(
            "kernel32.dll", "GetFileInformationByHandleEx", &InformationNotContentIndexed);
        ImportPatch<decltype(&SetFileInformationByHandle)> set("kernel32.dll", "SetFileInformationByHandle",
                                                               &RecordBasicInformation);
        ASSERT_TRUE(information.active() && set.active());
        Convert(path, TraditionalBig5, SimplifiedUtf8);
    }
    EXPECT_EQ(Hex(ReadFileBytes(path)), Hex(fixtures::kConverted[TraditionalBig5][SimplifiedUtf8]));
    const DWORD replaced = GetFileAttributesW(path.c_str()) & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(basicSet.FileAttributes, replaced | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    const FILETIME created = {basicSet.CreationTime.LowPart, static_cast<DWORD>(basicSet.CreationTime.HighPart)};
    EXPECT_TRUE(SameTime(created, original.ftCreationTime)) << "the creation time is not given back";
}

TEST(FileConversion, FileWithSeveralHardLinksIsUntouched) {
    TempDir dir;
    WriteFileBytes(dir / L"first.txt", fixtures::kSample[TraditionalUtf8]);
    ASSERT_TRUE(CreateHardLinkW((dir / L"second.txt").c_str(), (dir / L"first.txt").c_str(), nullptr));
    const FolderState folder = DateBack(dir.path());
    Convert(dir / L"first.txt", TraditionalUtf8, SimplifiedGb2312);
    Convert(dir / L"second.txt", TraditionalUtf8, SimplifiedGb2312);
    EXPECT_EQ(Hex(ReadFileBytes(dir / L"first.txt")), Hex(fixtures::kSample[TraditionalUtf8]));
    ExpectFolderAsBefore(dir.path(), folder);
}

UINT64 bytesAskedToRead = 0;

BOOL WINAPI CountReadingNothing(HANDLE, LPVOID, DWORD asked, LPDWORD got, LPOVERLAPPED) {
    bytesAskedToRead += asked;
    *got = 0;
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
}

// The engine's reads are counted (and fail, so that a missing check costs no 2 GiB read): Wine's process I/O
// counters stay at zero. Past the limit the file must not be read at all, so its content does not matter.
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
        const FolderState folder = DateBack(dir.path());
        bytesAskedToRead = 0;
        {
            ImportPatch<decltype(&ReadFile)> read("kernel32.dll", "ReadFile", &CountReadingNothing);
            ASSERT_TRUE(read.active());
            Convert(path, TraditionalBig5, TraditionalUnicode);
        }
        EXPECT_EQ(bytesAskedToRead, 0u) << "a file of " << size << " bytes was read";
        WIN32_FILE_ATTRIBUTE_DATA after{};
        ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &after));
        EXPECT_EQ(static_cast<LONGLONG>(after.nFileSizeHigh) << 32 | after.nFileSizeLow, size);
        EXPECT_TRUE(SameTime(after.ftLastWriteTime, before));
        ExpectFolderAsBefore(dir.path(), folder);
    }
}

unsigned filesOpened = 0;

HANDLE WINAPI CountOpening(LPCWSTR path,
                           DWORD access,
                           DWORD share,
                           LPSECURITY_ATTRIBUTES security,
                           DWORD disposition,
                           DWORD flags,
                           HANDLE model) {
    ++filesOpened;
    return Platform(&CreateFileW, "CreateFileW")(path, access, share, security, disposition, flags, model);
}

// A device path names no file of ours, even where it reaches one (\\.\C:\...): nothing is opened.
// The platform turns a reserved name in any folder into a device path.
TEST(FileConversion, DevicePathsAreRefusedBeforeAnythingIsOpened) {
    TempDir dir;
    WriteFileBytes(dir / L"file.txt", fixtures::kSample[TraditionalBig5]);
    const FolderState folder = DateBack(dir.path());
    {
        ImportPatch<decltype(&CreateFileW)> open("kernel32.dll", "CreateFileW", &CountOpening);
        ASSERT_TRUE(open.active());
        for (const std::wstring& path : {L"\\\\.\\" + (dir / L"file.txt"), dir / L"NUL", dir / L"con.txt"}) {
            filesOpened = 0;
            Convert(path, TraditionalBig5, SimplifiedUtf8);
            EXPECT_EQ(filesOpened, 0u) << testing::PrintToString(path);
        }
    }
    EXPECT_EQ(Hex(ReadFileBytes(dir / L"file.txt")), Hex(fixtures::kSample[TraditionalBig5]));
    ExpectFolderAsBefore(dir.path(), folder);
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

// Past that limit in the \\?\ form: the file's final path is longer than a path buffer.
TEST(FileConversion, ExtendedPathPastTheLimitConverts) {
    TempDir dir;
    const std::wstring folder = L"\\\\?\\" + dir.path() + L"\\" + std::wstring(200, L'f');
    const std::wstring name = std::wstring(100, L'n') + L".txt";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    WriteFileBytes(folder + L"\\" + name, fixtures::kSample[SimplifiedGb2312]);
    Convert(folder + L"\\" + name, SimplifiedGb2312, TraditionalUtf8);
    EXPECT_EQ(Hex(ReadFileBytes(folder + L"\\" + name)), Hex(fixtures::kConverted[SimplifiedGb2312][TraditionalUtf8]));
    EXPECT_EQ(ListNames(folder), name);
    DeleteFileW((folder + L"\\" + name).c_str());
    RemoveDirectoryW(folder.c_str());
}

// A real full disk: a 64 KiB tmpfs mounted by the engine_tiny_disk fixture.
TEST(FileConversion, FullDiskKeepsTheOldContent) {
    const std::wstring disk = EnvironmentPath("QTX_TINY_DISK");
    if (disk.empty() || FileExists(disk + L"\\not-permitted"))
        GTEST_SKIP() << "no tiny tmpfs: mounting one needs root (see the engine_tiny_disk_setup output)";
    ASSERT_TRUE(FileExists(disk + L"\\mounted")) << "no tiny tmpfs (see the engine_tiny_disk_setup output)";
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
    const FolderState folder = DateBack(folder_);
    Convert(link, TraditionalBig5, TraditionalUtf8);
    EXPECT_EQ(Hex(ReadFileBytes(target)), Hex(fixtures::kSample[TraditionalBig5]));
    ExpectFolderAsBefore(folder_, folder);
    EXPECT_EQ(folder.names, L"cased|folder-link|link.txt|" + std::wstring(230, L'l') + L"|real|target.txt");

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

// Where names differ in case only (Unix folders, and case-sensitive folders on Windows), the link's own name
// still tells it from its target: converted through the link, the target would be converted twice by a walk.
TEST_F(SymbolicLinks, LinkNamedAsItsTargetButForCaseIsLeftAsItIs) {
    const std::wstring target = folder_ + L"\\cased\\same.txt";
    WriteFileBytes(target, fixtures::kSample[TraditionalBig5]);
    Convert(folder_ + L"\\cased\\SAME.txt", TraditionalBig5, TraditionalUtf8);
    EXPECT_EQ(Hex(ReadFileBytes(target)), Hex(fixtures::kSample[TraditionalBig5]));
    EXPECT_EQ(ListNames(folder_ + L"\\cased"), L"SAME.txt|same.txt");
    DeleteFileW(target.c_str());
}

// The same past MAX_PATH, in the \\?\ form: the link's final path is longer than a path buffer.
TEST_F(SymbolicLinks, LinkPastThePathLimitIsLeftAsItIs) {
    const std::wstring folder = L"\\\\?\\" + folder_ + L"\\" + std::wstring(230, L'l');
    WriteFileBytes(folder + L"\\target.txt", fixtures::kSample[TraditionalBig5]);
    Convert(folder + L"\\link.txt", TraditionalBig5, TraditionalUtf8);
    // Read through the link too: had the link been replaced by a file, it would hold the new content.
    for (const wchar_t* name : {L"\\target.txt", L"\\link.txt"})
        EXPECT_EQ(Hex(ReadFileBytes(folder + name)), Hex(fixtures::kSample[TraditionalBig5]));
    EXPECT_EQ(ListNames(folder), L"link.txt|target.txt");
    DeleteFileW((folder + L"\\target.txt").c_str());
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
