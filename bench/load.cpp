// Load: a generated tree of 100,000 small files in 1,000 folders converted in one Folder-mode request,
// Simplified GB2312 to Traditional UTF-8 (decode, map, encode). One file in a hundred holds a zero byte and
// is no text: it must be left as it is. Prints the time, files per second and peak memory of the request,
// then checks every file: each text file must hold exactly what the in-memory conversion of its old
// content gives, each other file its old content, and nothing may be lost or left beside them.
//
// usage: load [parent folder]   (default: the temporary folder)
// Everything it makes is in one folder under the parent, removed at the end.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "bench_support.h"
#include "text_conversion.h"

namespace {

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;
constexpr int kFiles = kFolders * kFilesPerFolder;

std::wstring FolderOf(const std::wstring& root, int i) {
    return root + L"\\d" + std::to_wstring(1000 + i / kFilesPerFolder);
}

std::wstring FileOf(const std::wstring& root, int i) {
    return FolderOf(root, i) + L"\\f" + std::to_wstring(100 + i % kFilesPerFolder) + L".txt";
}

bool IsText(int i) {
    return i % 100 != 37;
}

// File i's content, the same at every call: 20 to 2,000 bytes of GB2312 level-1 hanzi (rows B0 to D7), ASCII
// and line ends, with a zero byte in it when the file is to be no text.
std::string Content(int i) {
    std::mt19937 random(static_cast<unsigned>(i) * 2654435761u);
    const size_t size = 20 + random() % 1981;
    std::string text = Gb2312Text(random, size, 11, " ,.:QTXabc019");
    if (!IsText(i))
        text[size / 2] = '\0';
    return text;
}

// Child process: load --convert ROOT RESULT. Runs the one request (or none, for ROOT "-") and writes
// "seconds peakWorkingSet peakPagefile" to RESULT, so that the peak memory is the request's own.
int Convert(const std::wstring& root, const std::wstring& result) {
    const double start = Now();
    if (root != L"-")
        ConvertFolder(root, SimplifiedGb2312, TraditionalUtf8);
    WriteFigures(result, Now() - start);
    return 0;
}

Figures RunConverter(const std::wstring& root, const std::wstring& result) {
    return RunChild(L"--convert \"" + root + L"\" \"" + result + L"\"", result);
}

// Counts what every file holds after the request; returns the number of files that are wrong or missing.
int Check(const std::wstring& root) {
    int converted = 0, keptAsNoText = 0, wrong = 0, missing = 0, extra = 0;
    for (int i = 0; i < kFiles; ++i) {
        const std::string old = Content(i);
        std::string now;
        if (!ReadWhole(FileOf(root, i), &now)) {
            ++missing;
            continue;
        }
        ByteBuffer expected;
        const bool text = ConvertText(reinterpret_cast<const unsigned char*>(old.data()), old.size(), SimplifiedGb2312,
                                      TraditionalUtf8, &expected);
        const bool right =
            text ? now == std::string(reinterpret_cast<char*>(expected.bytes), expected.size) : now == old;
        FreeByteBuffer(&expected);
        if (!right && ++wrong <= 5)
            printf("  wrong content: %ls\n", FileOf(root, i).c_str());
        converted += right && text;
        keptAsNoText += right && !text;
    }
    for (int folder = 0; folder < kFolders; ++folder) {
        std::error_code error;
        const auto entries =
            std::distance(std::filesystem::directory_iterator(FolderOf(root, folder * kFilesPerFolder), error),
                          std::filesystem::directory_iterator());
        extra += entries > kFilesPerFolder ? static_cast<int>(entries) - kFilesPerFolder : 0;
    }
    printf(
        "checks: %d files converted exactly, %d that are no text kept as they were, %d wrong, %d lost, "
        "%d other files left in the folders\n",
        converted, keptAsNoText, wrong, missing, extra);
    return wrong + missing + (extra != 0);
}

int Run(const std::wstring& parent) {
    const std::wstring base = parent + L"qtx-load-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring root = base + L"\\tree";
    printf("QTX load: %d files in %d folders, Simplified GB2312 to Traditional UTF-8, one Folder-mode request\n",
           kFiles, kFolders);
    printf("machine: %s\nfolder: %ls\n", MachineName().c_str(), base.c_str());
    fflush(stdout);

    double start = Now();
    double bytes = 0;
    bool made = CreateDirectoryW(base.c_str(), nullptr) && CreateDirectoryW(root.c_str(), nullptr);
    for (int i = 0; made && i < kFiles; ++i) {
        if (i % kFilesPerFolder == 0)
            made = CreateDirectoryW(FolderOf(root, i).c_str(), nullptr) != FALSE;
        const std::string content = Content(i);
        bytes += static_cast<double>(content.size());
        made = made && WriteWhole(FileOf(root, i), content);
    }
    int failures = 1;
    if (!made) {
        printf("could not make the tree\n");
    } else {
        printf("made the tree (%.1f MB) in %.0f s\n", bytes / 1e6, Now() - start);
        fflush(stdout);
        const Figures idle = RunConverter(L"-", base + L"\\idle.txt");
        const Figures run = RunConverter(root, base + L"\\result.txt");
        if (!run.ok) {
            printf("the converting process failed\n");
        } else {
            printf("request: %.1f s, %.0f files/s, %.2f MB/s\n", run.seconds, kFiles / run.seconds,
                   bytes / 1e6 / run.seconds);
            printf(
                "peak memory of the converting process: working set %.1f MiB, pagefile use %.1f MiB "
                "(an idle process: %.1f MiB, %.1f MiB)\n",
                run.peakWorkingSet / 1048576.0, run.peakPagefile / 1048576.0, idle.peakWorkingSet / 1048576.0,
                idle.peakPagefile / 1048576.0);
            fflush(stdout);
            start = Now();
            failures = Check(root);
            printf("checked in %.0f s\n", Now() - start);
        }
    }
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(base), error);
    if (error || GetFileAttributesW(base.c_str()) != INVALID_FILE_ATTRIBUTES)
        printf("could not remove %ls\n", base.c_str());
    printf(failures == 0 ? "load: passed\n" : "load: FAILED\n");
    return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[1]) == L"--convert")
        return Convert(argv[2], argv[3]);
    return Run(ParentFolder(argc, argv));
}
