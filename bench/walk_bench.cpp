// Measures the batch walk on a generated tree, 10,000 small files in 100 folders and one 64 MiB file,
// converted from Simplified GB2312 to Traditional Big5 (the dialog's default), beside two baselines
// measured in the same run on identical copies of the same files:
//   floor  read, decode, map with the same table, encode, write in place; nothing else (the file paths
//          are known in advance, so not even a folder listing);
//   copy   the same bytes written back unchanged through a temporary file and ReplaceFileW, the way
//          QTX rewrites a file safely, but with no conversion.
// Each measurement runs in a process of its own, so that the peak memory it reports is its own.
//
// usage: walk_bench [parent folder]   (default: the temporary folder)
// Everything it makes is in one folder under the parent, removed at the end.
//
// bench/compare_python.py also runs single measurements on trees it makes itself (see Measure), beside a
// durable Python rewrite of the same files:
//   walk_bench --measure METHOD tree ROOT RESULT   METHOD: qtx, safe-floor or lookup
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
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

// GB2312 text with spaces, letters and punctuation.
std::string MakeText(std::mt19937& random, size_t size) {
    return Gb2312Text(random, size, 8, " ,.abcxyz");
}

// The file's bytes, or nothing when it can't be read.
std::string Contents(const std::wstring& path) {
    std::string bytes;
    return ReadWhole(path, &bytes) ? bytes : std::string();
}

// The same content for each method's tree, in the same order: small files of 256 bytes to 4 KiB, then the
// large file.
struct TextSource {
    std::mt19937 random{20240611};
    std::string NextSmall() {
        const size_t size = 256 + random() % 3841;
        return MakeText(random, size);
    }
    std::string Large() { return MakeText(random, kLargeSize); }
};

bool Generate(const std::wstring& root, UINT64* smallBytes) {
    TextSource source;
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
    return WriteWhole(LargeFile(root), source.Large());
}

// --- the measured work -------------------------------------------------------------------------------

void FloorConvert(const std::wstring& path) {
    std::string bytes;
    if (!ReadWhole(path, &bytes))
        return;
    const int size = static_cast<int>(bytes.size());
    const int units = MultiByteToWideChar(936, 0, bytes.data(), size, nullptr, 0);
    std::unique_ptr<wchar_t[]> text(new wchar_t[units + 1]);
    MultiByteToWideChar(936, 0, bytes.data(), size, text.get(), units);
    text[units] = 0;
    std::string().swap(bytes);
    std::unique_ptr<wchar_t[]> mapped(new wchar_t[units + 1]);
    MapScript(LCMAP_TRADITIONAL_CHINESE, text.get(), mapped.get(), units + 1);
    text.reset();
    const int outSize = WideCharToMultiByte(950, 0, mapped.get(), units, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(outSize), '\0');
    WideCharToMultiByte(950, 0, mapped.get(), units, out.data(), outSize, nullptr, nullptr);
    WriteWhole(path, out);
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

// QTX and the floor must have written the same bytes, and the copy must have left the source as it was.
void Verify(const std::wstring& base) {
    TextSource source;
    int same = 0, unchanged = 0;
    const int total = kSmallFiles + 1;
    for (int i = 0; i < total; ++i) {
        auto pathIn = [&](const wchar_t* method) {
            const std::wstring root = base + L"\\" + method;
            return i < kSmallFiles ? SmallFile(root, i) : LargeFile(root);
        };
        const std::string qtx = Contents(pathIn(L"qtx"));
        same += !qtx.empty() && qtx == Contents(pathIn(L"floor"));
        unchanged += Contents(pathIn(L"copy")) == (i < kSmallFiles ? source.NextSmall() : source.Large());
    }
    printf("\nchecks: QTX wrote the floor's bytes in %d of %d files; the copy kept %d of %d as they were\n", same,
           total, unchanged, total);
}

int RunBenchmark(const std::wstring& parent) {
    const std::wstring base = parent + L"qtx-walk-bench-" + std::to_wstring(GetCurrentProcessId());
    printf("QTX batch walk benchmark: Simplified GB2312 to Traditional Big5, Folder mode\n");
    printf("machine: %s\nfolder: %ls\n", MachineName().c_str(), base.c_str());
    UINT64 smallBytes = 0;
    for (const wchar_t* method : kMethods) {
        if (!Generate(base + L"\\" + method, &smallBytes)) {
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
    PrintDataset("one 64 MiB file", large, 1, static_cast<double>(kLargeSize));
    Verify(base);

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
