#include "bench_support.h"

#include <psapi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "walk.h"

double Now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
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

std::string Gb2312Text(std::mt19937& random, size_t size, unsigned asciiPercent, std::string_view ascii) {
    std::string text;
    text.reserve(size);
    while (text.size() + 2 <= size) {
        const unsigned roll = random() % 100;
        if (roll < 4) {
            text += "\r\n";
        } else if (roll < 4 + asciiPercent) {
            text += ascii[random() % ascii.size()];
        } else {
            const unsigned lead = 0xB0 + random() % 40;
            const unsigned trail = 0xA1 + random() % (lead == 0xD7 ? 89 : 94);
            text += static_cast<char>(lead);
            text += static_cast<char>(trail);
        }
    }
    text.resize(size, ' ');
    return text;
}

void ConvertFolder(const std::wstring& folder, TextFormat from, TextFormat to) {
    ConversionRequest request = {};
    lstrcpynW(request.text, folder.c_str(), MAX_PATH);
    request.folderMode = true;
    request.from = from;
    request.to = to;
    ConvertPath(request);
}

void WriteFigures(const std::wstring& result, double seconds) {
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::ofstream(std::filesystem::path(result))
        << seconds << ' ' << memory.PeakWorkingSetSize << ' ' << memory.PeakPagefileUsage << '\n';
}

Figures RunChild(const std::wstring& arguments, const std::wstring& result) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    Figures figures;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return figures;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::ifstream in{std::filesystem::path(result)};
    figures.ok = static_cast<bool>(in >> figures.seconds >> figures.peakWorkingSet >> figures.peakPagefile);
    in.close();
    DeleteFileW(result.c_str());
    return figures;
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

std::wstring ParentFolder(int argc, wchar_t** argv) {
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
    return parent;
}
