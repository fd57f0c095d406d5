// Load: a generated tree of 100,000 small files in 1,000 folders converted in one Folder-mode request,
// Simplified GB2312 to Traditional UTF-8 (decode, map, encode). One file in a hundred holds a zero byte and
// is no text: it must be left as it is. Prints the time, files per second and peak memory of the request,
// then checks every file: each text file must hold exactly what the in-memory conversion of its old
// content gives, each other file its old content, and nothing may be lost or left beside them.
//
// usage: load [parent folder]   (default: the temporary folder)
// Everything it makes is in one folder under the parent, removed at the end.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "text_conversion.h"
#include "walk.h"

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
    std::string text;
    while (text.size() + 2 <= size) {
        const unsigned roll = random() % 100;
        if (roll < 4) {
            text += "\r\n";
        } else if (roll < 15) {
            text += " ,.:QTXabc019"[random() % 13];
        } else {
            const unsigned lead = 0xB0 + random() % 40;
            text += static_cast<char>(lead);
            text += static_cast<char>(0xA1 + random() % (lead == 0xD7 ? 89 : 94));
        }
    }
    text.resize(size, ' ');
    if (!IsText(i))
        text[size / 2] = '\0';
    return text;
}

bool WriteWhole(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadWhole(const std::wstring& path, std::string* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    const BOOL ok = bytes->empty() || ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr);
    CloseHandle(file);
    return ok && got == bytes->size();
}

double Now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Child process: load --convert ROOT RESULT. Runs the one request (or none, for ROOT "-") and writes
// "seconds peakWorkingSet peakPagefile" to RESULT, so that the peak memory is the request's own.
int Convert(const std::wstring& root, const std::wstring& result) {
    const double start = Now();
    if (root != L"-") {
        ConversionRequest request = {};
        lstrcpynW(request.text, root.c_str(), MAX_PATH);
        request.folderMode = true;
        request.from = SimplifiedGb2312;
        request.to = TraditionalUtf8;
        ConvertPath(request);
    }
    const double seconds = Now() - start;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::ofstream(std::filesystem::path(result))
        << seconds << ' ' << memory.PeakWorkingSetSize << ' ' << memory.PeakPagefileUsage << '\n';
    return 0;
}

struct Figures {
    double seconds = 0, peakWorkingSet = 0, peakPagefile = 0;
    bool ok = false;
};

Figures RunChild(const std::wstring& root, const std::wstring& result) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --convert \"" + root + L"\" \"" + result + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    Figures f;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return f;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::ifstream in{std::filesystem::path(result)};
    f.ok = static_cast<bool>(in >> f.seconds >> f.peakWorkingSet >> f.peakPagefile);
    in.close();
    DeleteFileW(result.c_str());
    return f;
}

std::string MachineName() {
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    wchar_t cpu[256] = L"unknown processor";
    DWORD size = sizeof cpu;
    RegGetValueW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", L"ProcessorNameString",
                 RRF_RT_REG_SZ, nullptr, cpu, &size);
    char name[512];
    snprintf(name, sizeof name, "%lu logical processors, %ls", system.dwNumberOfProcessors, cpu);
    return name;
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
        const Figures idle = RunChild(L"-", base + L"\\idle.txt");
        const Figures run = RunChild(root, base + L"\\result.txt");
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
    std::wstring parent;
    if (argc == 2) {
        parent = argv[1];
    } else {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        parent = temp;
    }
    if (!parent.empty() && parent.back() != L'\\')
        parent += L'\\';
    return Run(parent);
}
