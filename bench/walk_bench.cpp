// Measures the batch walk on a generated tree, 10,000 small files in 100 folders and one 64 MiB file, of real
// prose (the Chinese lines of manpages-zh's Simplified pages, repeated), converted from Simplified GB2312 to
// Traditional Big5 (the dialog's default), beside two baselines measured in the same run on identical copies
// of the same files:
//   floor  read, decode, map each character alone through a flat table of 64K entries (STCharacters' first
//          values), encode, write in place and flush; nothing else (the file paths are known in advance, so
//          not even a folder listing);
//   copy   the same bytes written back unchanged through a temporary file and ReplaceFileW, the way
//          QTX rewrites a file safely, but with no conversion.
// Each measurement runs in a process of its own, so that the peak memory it reports is its own. Then the
// mapping step alone is timed on the large file's text, QTX's against the floor's, and every file QTX wrote
// is checked against what it must hold (opencc's s2tw with the code-page mend, from make_bench_prose.py).
//
// usage: walk_bench [parent folder]   (default: the temporary folder)
// Everything it makes is in one folder under the parent, removed at the end.
//
// bench/compare_python.py also runs single measurements on trees it makes itself (see Measure), beside a
// durable Python rewrite of the same files:
//   walk_bench --measure METHOD tree ROOT RESULT   METHOD: qtx, safe-floor or lookup
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "floor-table.h"
#include "script_map.h"
#include "text_conversion.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr int kSmallFiles = kFolders * kFilesPerFolder;
constexpr size_t kLargeSize = size_t{64} << 20;
constexpr const wchar_t* kMethods[] = {L"qtx", L"floor", L"copy"};

std::wstring SmallFile(const std::wstring& root, int i) {
    wchar_t name[64];
    swprintf(name, 64, L"\\small\\d%02d\\f%03d.txt", i / kFilesPerFolder, i % kFilesPerFolder);
    return root + name;
}

std::wstring LargeFile(const std::wstring& root) {
    return root + L"\\large\\large.txt";
}

// The file's bytes, or nothing when it can't be read.
std::string Contents(const std::wstring& path) {
    std::string bytes;
    return ReadWhole(path, &bytes) ? bytes : std::string();
}

// The prose lines in GB2312 and the same lines as QTX must write them in Big5, from files beside this program.
struct Prose {
    std::vector<std::string> lines;
    std::vector<std::string> expected;
};

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < bytes.size();) {
        const size_t end = bytes.find('\n', start);
        const size_t next = end == std::string::npos ? bytes.size() : end + 1;
        lines.push_back(bytes.substr(start, next - start));
        start = next;
    }
    return lines;
}

bool LoadProse(Prose* prose) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring folder = fs::path(self).parent_path().wstring() + L"\\";
    std::string source, expected;
    if (!ReadWhole(folder + L"prose-gb2312.txt", &source) || !ReadWhole(folder + L"prose-big5.txt", &expected))
        return false;
    prose->lines = Lines(source);
    prose->expected = Lines(expected);
    return !prose->lines.empty() && prose->lines.size() == prose->expected.size();
}

// The same content for each method's tree, in the same order: small files of 256 bytes to 4 KiB of whole lines
// from a random place in the prose, then the large file, the prose over and over to 64 MiB (whole lines).
// `expected` picks what QTX must write instead of the source.
struct TextSource {
    const Prose& prose;
    bool expected = false;
    std::mt19937 random{20240611};
    std::string Lines(size_t first, size_t size) {
        const std::vector<std::string>& lines = prose.lines;
        std::string text;
        size_t taken = 0;
        for (size_t i = first; taken < size; i = (i + 1) % lines.size()) {
            if (taken + lines[i].size() > size && taken != 0)
                break;
            taken += lines[i].size();
            text += expected ? prose.expected[i] : lines[i];
        }
        return text;
    }
    std::string NextSmall() {
        const size_t size = 256 + random() % 3841;
        return Lines(random() % prose.lines.size(), size);
    }
    std::string Large() { return Lines(0, kLargeSize); }
};

bool Generate(const Prose& prose, const std::wstring& root, UINT64* smallBytes, UINT64* largeBytes) {
    TextSource source{prose};
    *smallBytes = 0;
    for (int d = 0; d < kFolders; ++d) {
        wchar_t folder[32];
        swprintf(folder, 32, L"\\small\\d%02d", d);
        fs::create_directories(root + folder);
    }
    for (int i = 0; i < kSmallFiles; ++i) {
        const std::string text = source.NextSmall();
        *smallBytes += text.size();
        if (!WriteWhole(SmallFile(root, i), text))
            return false;
    }
    fs::create_directories(root + L"\\large");
    const std::string large = source.Large();
    *largeBytes = large.size();
    return WriteWhole(LargeFile(root), large);
}

// --- the measured work -------------------------------------------------------------------------------

const wchar_t* FloorTable() {
    static wchar_t table[0x10000];
    for (unsigned u = 0; u < 0x10000; ++u)
        table[u] = static_cast<wchar_t>(u);
    for (const auto& pair : kFloorPairs)
        table[pair[0]] = static_cast<wchar_t>(pair[1]);
    return table;
}

void FloorMap(const wchar_t* text, int units, wchar_t* mapped) {
    static const wchar_t* const table = FloorTable();
    for (int i = 0; i < units; ++i)
        mapped[i] = table[static_cast<unsigned short>(text[i])];
}

void FloorConvert(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD done = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    const int size = static_cast<int>(bytes.size());
    const int units = MultiByteToWideChar(936, 0, bytes.data(), size, nullptr, 0);
    std::unique_ptr<wchar_t[]> text(new wchar_t[units]);
    MultiByteToWideChar(936, 0, bytes.data(), size, text.get(), units);
    std::string().swap(bytes);
    std::unique_ptr<wchar_t[]> mapped(new wchar_t[units]);
    FloorMap(text.get(), units, mapped.get());
    text.reset();
    const int outSize = WideCharToMultiByte(950, 0, mapped.get(), units, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(outSize), '\0');
    WideCharToMultiByte(950, 0, mapped.get(), units, out.data(), outSize, nullptr, nullptr);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    WriteFile(file, out.data(), static_cast<DWORD>(out.size()), &done, nullptr);
    SetEndOfFile(file);
    FlushFileBuffers(file);
    CloseHandle(file);
}

// A safe rewrite with no conversion: a new temporary file beside the original, written and flushed, a backup
// name reserved, ReplaceFileW, the backup deleted (QTX keeps one backup name for a whole folder).
void CopyThroughReplace(const std::wstring& path) {
    std::string bytes;
    if (!ReadWhole(path, &bytes))
        return;
    const std::wstring folder = path.substr(0, path.rfind(L'\\') + 1);
    const std::wstring temp = folder + L"~bench-copy.tmp";
    const std::wstring backup = folder + L"~bench-backup.tmp";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
    CloseHandle(CreateFileW(backup.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ReplaceFileW(path.c_str(), temp.c_str(), backup.c_str(), 0, nullptr, nullptr);
    DeleteFileW(backup.c_str());
}

// The fewest platform calls that rewrite a file safely here, around the same conversion: read it on an open
// handle that tells its size, write a new file beside it and flush it, ReplaceFileW with a backup name kept
// for the whole folder. No check of links, flags or link counts, no attributes kept.
void SafeFloorRewrite(const std::wstring& path, const std::wstring& backup) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    FILE_STANDARD_INFO standard = {};
    GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard);
    std::string bytes(static_cast<size_t>(standard.EndOfFile.QuadPart), '\0');
    DWORD got = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    ByteBuffer content;
    if (!ConvertText(reinterpret_cast<const unsigned char*>(bytes.data()), got, SimplifiedGb2312, TraditionalBig5,
                     &content))
        return;
    const std::wstring temp = path.substr(0, path.rfind(L'\\') + 1) + L"~bench-floor.tmp";
    HANDLE out = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(out, content.bytes, static_cast<DWORD>(content.size), &written, nullptr);
        FlushFileBuffers(out);
        CloseHandle(out);
        ReplaceFileW(path.c_str(), temp.c_str(), backup.c_str(), 0, nullptr, nullptr);
    }
    FreeByteBuffer(&content);
}

// Calls `visit(folder, name)` for each file of the tree under `root`, folder by folder, each folder's files
// listed in full before the first is visited (as QTX lists them), and `done(folder)` after a folder's files.
template <typename Visit, typename Done>
void ForEachFile(const std::wstring& root, Visit visit, Done done) {
    std::vector<std::wstring> files, folders;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((root + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            files.push_back(name);
        else if (name != L"." && name != L"..")
            folders.push_back(name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    for (const std::wstring& name : files)
        visit(root, name);
    done(root);
    for (const std::wstring& name : folders)
        ForEachFile(root + L"\\" + name, visit, done);
}

// On a tree made by the caller: QTX converts it, or the safe floor rewrites each file, or each file's turn
// only looks up a name that is not there (Wine then reads the whole folder: what every new name costs).
void MeasureTree(const std::wstring& method, const std::wstring& root) {
    if (method == L"qtx") {
        ConvertFolder(root, SimplifiedGb2312, TraditionalBig5);
    } else if (method == L"safe-floor") {
        const auto backupOf = [](const std::wstring& folder) { return folder + L"\\~bench-backup.tmp"; };
        ForEachFile(
            root, [&](const std::wstring& folder, const std::wstring& name) {
                SafeFloorRewrite(folder + L"\\" + name, backupOf(folder));
            },
            [&](const std::wstring& folder) { DeleteFileW(backupOf(folder).c_str()); });
    } else if (method == L"lookup") {
        ForEachFile(
            root,
            [](const std::wstring& folder, const std::wstring&) {
                GetFileAttributesW((folder + L"\\~bench-missing.tmp").c_str());
            },
            [](const std::wstring&) {});
    }
}

// Child process: walk_bench --measure METHOD DATASET ROOT RESULT. Writes "seconds peakWorkingSet peakPagefile".
int Measure(const std::wstring& method,
            const std::wstring& dataset,
            const std::wstring& root,
            const std::wstring& result) {
    const bool small = dataset == L"small";
    const double start = Now();
    if (dataset == L"tree") {
        MeasureTree(method, root);
    } else if (method == L"qtx") {
        ConvertFolder(small ? root + L"\\small" : root + L"\\large", SimplifiedGb2312, TraditionalBig5);
    } else if (method == L"floor" || method == L"copy") {
        void (*convert)(const std::wstring&) = method == L"floor" ? FloorConvert : CopyThroughReplace;
        if (small) {
            for (int i = 0; i < kSmallFiles; ++i)
                convert(SmallFile(root, i));
        } else {
            convert(LargeFile(root));
        }
    }
    WriteFigures(result, Now() - start);
    return 0;
}

// --- the parent ------------------------------------------------------------------------------------------

Figures RunMeasure(const std::wstring& method,
                   const std::wstring& dataset,
                   const std::wstring& root,
                   const std::wstring& base) {
    const std::wstring result = base + L"\\result.txt";
    return RunChild(L"--measure " + method + L" " + dataset + L" \"" + root + L"\" \"" + result + L"\"", result);
}

void PrintRow(const char* label, const Figures& f, double files, double bytes) {
    if (!f.ok) {
        printf("  %-26s   (failed)\n", label);
        return;
    }
    printf("  %-26s %9.3f %10.1f %9.2f %12.1f %17.1f\n", label, f.seconds, files / f.seconds, bytes / 1e6 / f.seconds,
           f.peakWorkingSet / 1048576.0, f.peakPagefile / 1048576.0);
}

void PrintDataset(const char* title, const Figures (&f)[3], double files, double bytes) {
    printf("\n%s (%.1f MB)\n", title, bytes / 1e6);
    printf("  %-26s %9s %10s %9s %12s %17s\n", "", "seconds", "files/s", "MB/s", "peak WS MiB", "peak pagefile MiB");
    PrintRow("QTX ConvertPath", f[0], files, bytes);
    PrintRow("floor (decode/map/encode)", f[1], files, bytes);
    PrintRow("copy via temp + replace", f[2], files, bytes);
    if (f[0].ok && f[1].ok && f[2].ok)
        printf("  QTX takes %.2fx the floor's time and %.2fx the copy's\n", f[0].seconds / f[1].seconds,
               f[0].seconds / f[2].seconds);
}

// QTX must have written exactly the expected bytes, and the copy must have left the source as it was.
void Verify(const Prose& prose, const std::wstring& base) {
    TextSource source{prose};
    TextSource expected{prose, true};
    int right = 0, unchanged = 0;
    const int total = kSmallFiles + 1;
    for (int i = 0; i < total; ++i) {
        auto pathIn = [&](const wchar_t* method) {
            const std::wstring root = base + L"\\" + method;
            return i < kSmallFiles ? SmallFile(root, i) : LargeFile(root);
        };
        const bool small = i < kSmallFiles;
        right += Contents(pathIn(L"qtx")) == (small ? expected.NextSmall() : expected.Large());
        unchanged += Contents(pathIn(L"copy")) == (small ? source.NextSmall() : source.Large());
    }
    printf("\nchecks: QTX wrote the expected bytes (opencc s2tw, code-page mend) in %d of %d files; the copy kept "
           "%d of %d as they were\n", right, total, unchanged, total);
}

// The mapping step alone on the large file's text, best of three: QTX's (the platform's where it maps,
// else our tables) and the floor's flat table.
void TimeMapping(const std::string& large) {
    const int size = static_cast<int>(large.size());
    WideText text;
    const int units = MultiByteToWideChar(936, 0, large.data(), size, nullptr, 0);
    if (!AllocateWideText(static_cast<UINT64>(units), &text))
        return;
    MultiByteToWideChar(936, 0, large.data(), size, text.units, units);
    double qtx = 1e9, floor = 1e9;
    for (int round = 0; round < 3; ++round) {
        WideText mapped;
        double start = Now();
        const bool mappedOk = MapScript(LCMAP_TRADITIONAL_CHINESE, text, &mapped);
        qtx = std::min(qtx, Now() - start);
        FreeWideText(&mapped);
        if (!mappedOk)
            qtx = 0;
        std::unique_ptr<wchar_t[]> flat(new wchar_t[static_cast<size_t>(units)]);
        start = Now();
        FloorMap(text.units, units, flat.get());
        floor = std::min(floor, Now() - start);
    }
    FreeWideText(&text);
    printf("\nmapping step alone on the 64 MiB text (%d units), best of 3:\n", units);
    printf("  QTX MapScript        %7.3f s  %8.1f MB/s of GB2312 source\n", qtx, size / 1e6 / qtx);
    printf("  floor's flat table   %7.3f s  %8.1f MB/s\n", floor, size / 1e6 / floor);
}

int RunBenchmark(const std::wstring& parent) {
    const std::wstring base = parent + L"qtx-walk-bench-" + std::to_wstring(GetCurrentProcessId());
    printf("QTX batch walk benchmark: Simplified GB2312 to Traditional Big5, Folder mode\n");
    printf("machine: %s\nfolder: %ls\n", MachineName().c_str(), base.c_str());
    Prose prose;
    if (!LoadProse(&prose)) {
        printf("could not read prose-gb2312.txt and prose-big5.txt beside this program\n");
        return 1;
    }
    UINT64 smallBytes = 0, largeBytes = 0;
    for (const wchar_t* method : kMethods) {
        if (!Generate(prose, base + L"\\" + method, &smallBytes, &largeBytes)) {
            printf("could not make the test tree\n");
            std::error_code ignored;
            fs::remove_all(base, ignored);
            return 1;
        }
    }
    const Figures idle = RunMeasure(L"none", L"small", base, base);
    printf("an idle measuring process: peak working set %.1f MiB, peak pagefile use %.1f MiB\n",
           idle.peakWorkingSet / 1048576.0, idle.peakPagefile / 1048576.0);

    Figures small[3], large[3];
    for (int m = 0; m < 3; ++m)
        small[m] = RunMeasure(kMethods[m], L"small", base + L"\\" + kMethods[m], base);
    for (int m = 0; m < 3; ++m)
        large[m] = RunMeasure(kMethods[m], L"large", base + L"\\" + kMethods[m], base);
    PrintDataset("10,000 small files in 100 folders", small, kSmallFiles, static_cast<double>(smallBytes));
    PrintDataset("one 64 MiB file", large, 1, static_cast<double>(largeBytes));
    TimeMapping(Contents(LargeFile(base + L"\\copy")));
    Verify(prose, base);

    std::error_code error;
    fs::remove_all(base, error);
    if (error)
        printf("could not remove %ls\n", base.c_str());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 6 && std::wstring(argv[1]) == L"--measure")
        return Measure(argv[2], argv[3], argv[4], argv[5]);
    return RunBenchmark(ParentFolder(argc, argv));
}
