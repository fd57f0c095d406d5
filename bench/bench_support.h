#pragma once
// What the benchmark programs share: the clock, whole-file reads and writes, generated GB2312 text, one
// Folder-mode request, and the child process each measurement runs in so that its peak memory is its own.
#include <windows.h>

#include <random>
#include <string>
#include <string_view>

#include "text_format.h"

// Seconds on the performance counter.
double Now();

bool WriteWhole(const std::wstring& path, const std::string& bytes);
bool ReadWhole(const std::wstring& path, std::string* bytes);

// `size` bytes of GB2312 text: level-1 hanzi (rows B0 to D7) with line ends (4 in 100 draws) and characters of
// `ascii` (`asciiPercent` in 100 draws), the same for the same state of `random`.
std::string Gb2312Text(std::mt19937& random, size_t size, unsigned asciiPercent, std::string_view ascii);

// Converts the whole tree under `folder` with one request, as the dialog does in Folder mode.
void ConvertFolder(const std::wstring& folder, TextFormat from, TextFormat to);

// What a measuring child process reports.
struct Figures {
    double seconds = 0;
    double peakWorkingSet = 0;  // bytes
    double peakPagefile = 0;    // bytes
    bool ok = false;
};

// In the child: writes "seconds peakWorkingSet peakPagefile" to `result`, the memory figures this process's own.
void WriteFigures(const std::wstring& result, double seconds);

// Runs this program again with `arguments` after its own path and waits for it; returns the figures it wrote
// to `result` and deletes that file.
Figures RunChild(const std::wstring& arguments, const std::wstring& result);

// The processor count and name, for the report's heading.
std::string MachineName();

// The folder named on the command line (argv[1] when it is the only argument), else the temporary folder;
// ends in a backslash.
std::wstring ParentFolder(int argc, wchar_t** argv);
