#pragma once
// Files and folders for tests: a fresh temporary folder per test, removed with everything in it.

#include <windows.h>

#include <string>

using Bytes = std::string;  // raw file content; std::string keeps byte literals short ("\xEF\xBB\xBF")

// A new, empty folder under the temporary folder, removed (with all it holds) when the object goes.
class TempDir {
public:
    TempDir();
    // The same, made inside `parent` (for a folder on a particular file system).
    explicit TempDir(const std::wstring& parent);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    // The full path of `name` (which may hold backslashes) inside the folder.
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Creates or replaces a file with exactly `content`; creates missing parent folders.
void WriteFileBytes(const std::wstring& path, const Bytes& content);
// The whole content of a file; empty if it can't be read (see FileExists).
Bytes ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
void MakeFolders(const std::wstring& path);
// Last-write time, for tests that check a file was not touched.
FILETIME LastWriteTime(const std::wstring& path);
// Names of every entry in a folder, "." and ".." left out.
std::wstring ListNames(const std::wstring& folder);
// Removes a file or folder tree, clearing read-only, hidden and system attributes first.
void RemoveTree(const std::wstring& path);
// UTF-16 text as the bytes of a little-endian UTF-16 file body.
Bytes Utf16Bytes(const std::wstring& text);
// A readable rendering of bytes for failure messages: "EF BB BF 61".
std::string Hex(const Bytes& bytes);
// A Unix path as Wine shows it (drive Z:), for folders that fixtures make outside Wine.
std::wstring FromUnixPath(const char* unixPath);
