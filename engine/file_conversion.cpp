#include "file_conversion.h"

#include "heap_buffer.h"
#include "text_conversion.h"

namespace {

// Windows refuses to rewrite read-only files and, when recreating a file as a normal one, hidden and system
// files; Wine running as root would write them, so they are left alone here whatever the platform does.
constexpr DWORD kUntouchedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

// Attributes the rewritten file keeps. ReplaceFileW keeps them on Windows; Wine's drops some. The archive
// flag is the platform's to set: the content did change.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD kSettableAttributes =
    kKeptAttributes | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;

// Reads and writes go in pieces that a DWORD count holds with room to spare.
constexpr UINT64 kIoPiece = 1u << 30;

// What ConvertFile knows of the file once it has been read; every pointer is a heap block it owns.
struct SourceFile {
    wchar_t* finalPath;  // where the file is rewritten (see OwnPathOf)
    unsigned char* bytes;
    UINT64 size;
    DWORD attributes;
    FILETIME creationTime;
};

void ReleaseSourceFile(SourceFile* source) {
    FreeBytes(source->finalPath);
    FreeBytes(source->bytes);
    *source = {};
}

bool StartsWith(const wchar_t* text, const wchar_t* head) {
    for (; *head != 0; ++text, ++head) {
        if (*text != *head)
            return false;
    }
    return true;
}

// The first `firstLength` units of `first`, then all of `second` and `third`, in a new heap block.
wchar_t* Join(const wchar_t* first, UINT64 firstLength, const wchar_t* second, const wchar_t* third = L"") {
    const UINT64 secondLength = static_cast<UINT64>(lstrlenW(second));
    const UINT64 thirdLength = static_cast<UINT64>(lstrlenW(third));
    const UINT64 length = firstLength + secondLength + thirdLength;
    wchar_t* joined = static_cast<wchar_t*>(AllocateBytes((length + 1) * sizeof(wchar_t)));
    if (joined == nullptr)
        return nullptr;
    wchar_t* out = joined;
    for (UINT64 i = 0; i < firstLength; ++i)
        *out++ = first[i];
    for (UINT64 i = 0; i < secondLength; ++i)
        *out++ = second[i];
    for (UINT64 i = 0; i < thirdLength; ++i)
        *out++ = third[i];
    *out = 0;
    return joined;
}

// Units up to and including the last backslash: the folder part of a path.
UINT64 FolderPrefixLength(const wchar_t* path) {
    UINT64 prefix = 0;
    for (UINT64 i = 0; path[i] != 0; ++i) {
        if (path[i] == L'\\')
            prefix = i + 1;
    }
    return prefix;
}

// `path` made absolute against the current folder, then in the \\?\ form, so that names made from it
// (the temporary file's) are not held to the 259-character limit; null for a device path.
wchar_t* ExtendedPathOf(const wchar_t* path) {
    const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0)
        return nullptr;
    wchar_t* full = static_cast<wchar_t*>(AllocateBytes(static_cast<UINT64>(needed) * sizeof(wchar_t)));
    if (full == nullptr)
        return nullptr;
    wchar_t* extended = nullptr;
    const DWORD length = GetFullPathNameW(path, needed, full, nullptr);
    if (length == 0 || length >= needed || StartsWith(full, L"\\\\.\\"))
        extended = nullptr;
    else if (StartsWith(full, L"\\\\?\\"))
        extended = Join(full, 0, full);
    else if (StartsWith(full, L"\\\\"))
        extended = Join(L"\\\\?\\UNC", 7, full + 1);  // \\server\share becomes \\?\UNC\server\share
    else
        extended = Join(L"\\\\?\\", 4, full);
    FreeBytes(full);
    return extended;
}

// The path of an open file or folder with every link resolved, in the \\?\ form.
wchar_t* FinalPathOf(HANDLE file) {
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    wchar_t probe[1];
    const DWORD needed = GetFinalPathNameByHandleW(file, probe, 1, flags);
    if (needed == 0)
        return nullptr;
    wchar_t* path = static_cast<wchar_t*>(AllocateBytes(static_cast<UINT64>(needed) * sizeof(wchar_t)));
    if (path == nullptr)
        return nullptr;
    const DWORD length = GetFinalPathNameByHandleW(file, path, needed, flags);
    if (length == 0 || length >= needed) {
        FreeBytes(path);
        return nullptr;
    }
    return path;
}

// The final path of the folder holding `extendedPath`. The folder's path keeps its last backslash: without it
// "\\?\C:" would name the volume rather than its root folder.
wchar_t* FinalPathOfFolder(const wchar_t* extendedPath) {
    wchar_t* folderPath = Join(extendedPath, FolderPrefixLength(extendedPath), L"");
    if (folderPath == nullptr)
        return nullptr;
    HANDLE folder =
        CreateFileW(folderPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FreeBytes(folderPath);
    if (folder == INVALID_HANDLE_VALUE)
        return nullptr;
    wchar_t* finalPath = FinalPathOf(folder);
    CloseHandle(folder);
    return finalPath;
}

// The path to rewrite the open `file` under: its own \\?\ path with every link in its folders resolved,
// or null when `extendedPath` names a symbolic link to it (or the path can't be told). Links are left
// alone: converting through one would rewrite a file elsewhere, and a folder walk meeting both a link and
// its target would convert the target twice. Windows marks a link in its folder entry; Wine shows a Unix
// link as a plain file, so there the file's final path must be its folder's followed by the entry's name.
wchar_t* OwnPathOf(HANDLE file, const wchar_t* extendedPath) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(extendedPath, &entry);  // the entry's long name, as stored
    if (find == INVALID_HANDLE_VALUE)
        return nullptr;
    FindClose(find);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(entry.dwReserved0))
        return nullptr;
    wchar_t* finalPath = FinalPathOf(file);
    // Some virtual and network drives can't name a final path; there the folder entry has had its say.
    if (finalPath == nullptr)
        return Join(extendedPath, static_cast<UINT64>(lstrlenW(extendedPath)), L"");
    wchar_t* folder = FinalPathOfFolder(extendedPath);
    wchar_t* expected = nullptr;
    if (folder != nullptr) {
        const UINT64 folderLength = static_cast<UINT64>(lstrlenW(folder));
        const bool endsInSeparator = folderLength > 0 && folder[folderLength - 1] == L'\\';
        expected = Join(folder, folderLength, endsInSeparator ? L"" : L"\\", entry.cFileName);
        FreeBytes(folder);
    }
    const bool own = expected != nullptr && CompareStringOrdinal(expected, -1, finalPath, -1, TRUE) == CSTR_EQUAL;
    FreeBytes(expected);
    if (own)
        return finalPath;
    FreeBytes(finalPath);
    return nullptr;
}

// Whether the open file is one this program may rewrite, noting what the rewrite must keep.
bool InspectFile(HANDLE file, SourceFile* source) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return false;
    if ((info.dwFileAttributes & kUntouchedAttributes) != 0)
        return false;
    // Replacing a file that has several names would leave the other names holding the old content.
    if (info.nNumberOfLinks > 1)
        return false;
    const UINT64 size = static_cast<UINT64>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    if (size > kMaxSourceBytes)
        return false;
    source->size = size;
    source->attributes = info.dwFileAttributes;
    source->creationTime = info.ftCreationTime;
    return true;
}

bool ReadWholeFile(HANDLE file, SourceFile* source) {
    source->bytes = static_cast<unsigned char*>(AllocateBytes(source->size));
    if (source->bytes == nullptr)
        return false;
    for (UINT64 done = 0; done < source->size;) {
        const UINT64 remaining = source->size - done;
        const DWORD asked = static_cast<DWORD>(remaining < kIoPiece ? remaining : kIoPiece);
        DWORD got = 0;
        if (!ReadFile(file, source->bytes + done, asked, &got, nullptr) || got == 0)
            return false;
        done += got;
    }
    return true;
}

// Reads the whole file at `path` if it is one to convert. The file is shared with other readers only, and
// only while it is read.
bool ReadSourceFile(const wchar_t* path, SourceFile* source) {
    *source = {};
    wchar_t* extendedPath = ExtendedPathOf(path);
    if (extendedPath == nullptr)
        return false;
    bool read = false;
    HANDLE file = CreateFileW(extendedPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        if (InspectFile(file, source))
            source->finalPath = OwnPathOf(file, extendedPath);
        read = source->finalPath != nullptr && ReadWholeFile(file, source);
        CloseHandle(file);
    }
    FreeBytes(extendedPath);
    if (!read)
        ReleaseSourceFile(source);
    return read;
}

void AppendHex(wchar_t** out, DWORD value) {
    for (int shift = 28; shift >= 0; shift -= 4)
        *(*out)++ = L"0123456789abcdef"[(value >> shift) & 15];
}

// Creates a new, empty file beside `finalPath` under a name no other file has: "~qtx", the process, the
// time and a try count. `tempPath` receives its path (a heap block) when the result is a valid handle.
HANDLE CreateTemporaryFile(const wchar_t* finalPath, wchar_t** tempPath) {
    *tempPath = nullptr;
    const UINT64 folderLength = FolderPrefixLength(finalPath);
    for (DWORD attempt = 0; attempt < 64; ++attempt) {
        wchar_t name[40] = L"~qtx";
        wchar_t* end = name + 4;
        AppendHex(&end, GetCurrentProcessId());
        AppendHex(&end, GetTickCount());
        AppendHex(&end, attempt);
        lstrcpynW(end, L".tmp", 5);
        wchar_t* candidate = Join(finalPath, folderLength, name);
        if (candidate == nullptr)
            return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileW(candidate, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            *tempPath = candidate;
            return file;
        }
        const DWORD error = GetLastError();
        FreeBytes(candidate);
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

bool WriteAndFlush(HANDLE file, const ByteBuffer& content) {
    for (UINT64 done = 0; done < content.size;) {
        const UINT64 remaining = content.size - done;
        const DWORD asked = static_cast<DWORD>(remaining < kIoPiece ? remaining : kIoPiece);
        DWORD written = 0;
        // On a full disk a write reports success with fewer bytes written: only the count tells.
        if (!WriteFile(file, content.bytes + done, asked, &written, nullptr) || written != asked)
            return false;
        done += written;
    }
    return FlushFileBuffers(file) != FALSE;
}

// Puts the temporary file in the original's place; on failure the original keeps its content and name. The
// backup name is one the caller found free: given none, Wine's ReplaceFileW makes its own temporary file and
// leaves it behind when it fails.
bool ReplaceOriginal(const wchar_t* finalPath, const wchar_t* tempPath, const wchar_t* backupPath) {
    if (ReplaceFileW(finalPath, tempPath, backupPath, 0, nullptr, nullptr)) {
        DeleteFileW(backupPath);
        return true;
    }
    // The original went to the backup name but the new content could not take its place: move it back.
    // Should even that fail, both files stay, so that the old content is not lost.
    if (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 && !MoveFileExW(backupPath, finalPath, 0))
        return false;
    DeleteFileW(tempPath);
    DeleteFileW(backupPath);
    return false;
}

// Gives back what the platform's replace did not keep: Wine's drops hidden and system flags and the creation
// time (which Wine can't set at all; on Windows both are kept and nothing is done here).
void RestoreAttributesAndCreationTime(const SourceFile& source) {
    const DWORD now = GetFileAttributesW(source.finalPath);
    if (now == INVALID_FILE_ATTRIBUTES)
        return;
    const DWORD wanted = ((now & ~kKeptAttributes) | (source.attributes & kKeptAttributes)) & kSettableAttributes;
    if (wanted != (now & kSettableAttributes))
        SetFileAttributesW(source.finalPath, wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileW(source.finalPath, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    FILETIME created;
    if (GetFileTime(file, &created, nullptr, nullptr) && CompareFileTime(&created, &source.creationTime) != 0)
        SetFileTime(file, &source.creationTime, nullptr, nullptr);
    CloseHandle(file);
}

// Writes `content` to a temporary file in the same folder and puts it in the original's place, so that the
// file holds either its whole old content or its whole new content whatever fails on the way.
void WriteAndReplace(const SourceFile& source, const ByteBuffer& content) {
    wchar_t* tempPath = nullptr;
    HANDLE temp = CreateTemporaryFile(source.finalPath, &tempPath);
    if (temp == INVALID_HANDLE_VALUE)
        return;
    const bool written = WriteAndFlush(temp, content);
    CloseHandle(temp);
    wchar_t* backupPath = nullptr;
    HANDLE backup = written ? CreateTemporaryFile(source.finalPath, &backupPath) : INVALID_HANDLE_VALUE;
    if (backup == INVALID_HANDLE_VALUE) {
        DeleteFileW(tempPath);
    } else {
        // The name was reserved only to know it is free; the replace itself creates the backup there,
        // whether or not the platform would overwrite an existing file of that name.
        CloseHandle(backup);
        DeleteFileW(backupPath);
        if (ReplaceOriginal(source.finalPath, tempPath, backupPath))
            RestoreAttributesAndCreationTime(source);
    }
    FreeBytes(backupPath);
    FreeBytes(tempPath);
}

}  // namespace

void ConvertFile(const wchar_t* path, TextFormat from, TextFormat to) {
    if (path == nullptr || path[0] == 0 || !IsTextFormat(from) || !IsTextFormat(to))
        return;
    SourceFile source;
    if (!ReadSourceFile(path, &source))
        return;
    ByteBuffer content;
    const bool converted = ConvertText(source.bytes, source.size, from, to, &content);
    FreeBytes(source.bytes);
    source.bytes = nullptr;
    if (converted) {
        WriteAndReplace(source, content);
        FreeByteBuffer(&content);
    }
    ReleaseSourceFile(&source);
}
