#include "file_conversion.h"

#include "heap_buffer.h"
#include "text_conversion.h"

namespace {

// Windows refuses to rewrite read-only files and, when recreating a file as a normal one, hidden and system
// files; Wine running as root would write them, so they are left alone here whatever the platform does.
constexpr DWORD kUntouchedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

// Attributes the rewritten file keeps. ReplaceFileW keeps them on Windows; Wine's, a rename, keeps the
// new file's own, so they are given to the temporary file before it takes the original's place.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Reads and writes go in pieces that a DWORD count holds with room to spare.
constexpr UINT64 kIoPiece = 1u << 30;

// What ConvertFile knows of the file once it has been read; every pointer is a heap block it owns.
struct SourceFile {
    wchar_t* finalPath;  // where the file is rewritten (see OwnPathOf)
    unsigned char* bytes;
    UINT64 size;
    DWORD attributes;
    LARGE_INTEGER creationTime;
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

// The path of an open file or folder with every link resolved, in the \\?\ form. Each call asks Wine's
// server, so a buffer that most paths fit comes first.
wchar_t* FinalPathOf(HANDLE file) {
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    DWORD size = MAX_PATH + 4;
    for (int attempt = 0; attempt < 2; ++attempt) {
        wchar_t* path = static_cast<wchar_t*>(AllocateBytes(static_cast<UINT64>(size) * sizeof(wchar_t)));
        if (path == nullptr)
            return nullptr;
        const DWORD length = GetFinalPathNameByHandleW(file, path, size, flags);
        if (length != 0 && length < size)
            return path;
        FreeBytes(path);
        // Too small: the result is the size needed, terminator included.
        if (length <= size)
            return nullptr;
        size = length;
    }
    return nullptr;
}

// The name of an open file or folder on its volume, with every link resolved (\dir\name): what Wine can
// still tell where a final path would be longer than MAX_PATH, which its GetFinalPathNameByHandleW refuses.
wchar_t* NameOnVolumeOf(HANDLE file) {
    constexpr DWORD kSize = sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t);  // the longest path there is
    auto* info = static_cast<FILE_NAME_INFO*>(AllocateBytes(kSize));
    if (info == nullptr)
        return nullptr;
    wchar_t* name = nullptr;
    if (GetFileInformationByHandleEx(file, FileNameInfo, info, kSize))
        name = Join(info->FileName, info->FileNameLength / sizeof(wchar_t), L"");
    FreeBytes(info);
    return name;
}

// `path` (a heap block) ending in a backslash: without it "\\?\C:" would name the volume rather than its root
// folder.
wchar_t* WithSeparator(wchar_t* path) {
    if (path == nullptr)
        return nullptr;
    const UINT64 length = static_cast<UINT64>(lstrlenW(path));
    if (length > 0 && path[length - 1] == L'\\')
        return path;
    wchar_t* withSeparator = Join(path, length, L"\\");
    FreeBytes(path);
    return withSeparator;
}

// Whether `path` is `folder` (ending in a backslash) followed by `name`. Both come from the file system as
// stored, so they are compared exactly: in a folder that tells case apart, a link may be named as its target
// but for case.
bool IsEntryOf(const wchar_t* path, const wchar_t* folder, const wchar_t* name) {
    const int folderLength = lstrlenW(folder);
    return lstrlenW(path) >= folderLength &&
           CompareStringOrdinal(path, folderLength, folder, folderLength, FALSE) == CSTR_EQUAL &&
           CompareStringOrdinal(path + folderLength, -1, name, -1, FALSE) == CSTR_EQUAL;
}

// The path to rewrite the open `file` under: its own \\?\ path with every link in its folders resolved,
// or null when `extendedPath` names a symbolic link to it (or the path can't be told). Links are left
// alone: converting through one would rewrite a file elsewhere, and a folder walk meeting both a link and
// its target would convert the target twice. Windows marks a link in its folder entry; Wine shows a Unix
// link as a plain file, so there the file's final path must be its folder's followed by the entry's name.
// A final path that is exactly that, under the name as given, needs nothing more: no link on the last
// step leads back to the same name.
wchar_t* OwnPathOf(HANDLE file, const wchar_t* extendedPath, const FolderConversion& folder) {
    wchar_t* finalPath = FinalPathOf(file);
    const wchar_t* name = extendedPath + FolderPrefixLength(extendedPath);
    if (finalPath != nullptr && folder.finalPath != nullptr && IsEntryOf(finalPath, folder.finalPath, name))
        return finalPath;
    // Otherwise the folder entry tells: whether it is a link, and its long name as stored, for a path that
    // gives a short name or another case.
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(extendedPath, &entry);
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    const bool link = find == INVALID_HANDLE_VALUE || ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                                                       IsReparseTagNameSurrogate(entry.dwReserved0));
    if (link || finalPath != nullptr) {
        if (!link && folder.finalPath != nullptr && IsEntryOf(finalPath, folder.finalPath, entry.cFileName))
            return finalPath;
        FreeBytes(finalPath);
        return nullptr;
    }
    // No final path: the names on the volume tell instead, and the file is rewritten under the path given,
    // whose last step is then no link. Some virtual and network drives can't name even those; there the
    // folder entry has had its say.
    wchar_t* nameOnVolume = NameOnVolumeOf(file);
    const bool own = nameOnVolume == nullptr ||
                     (folder.nameOnVolume != nullptr && IsEntryOf(nameOnVolume, folder.nameOnVolume, entry.cFileName));
    FreeBytes(nameOnVolume);
    return own ? Join(extendedPath, static_cast<UINT64>(lstrlenW(extendedPath)), L"") : nullptr;
}

// Whether the open file is one this program may rewrite, noting what the rewrite must keep. The decision
// is taken on the open handle, so nothing that changed since the folder was listed is missed. (Two cheap
// queries: GetFileInformationByHandle would also ask for the volume's serial number, which costs Wine a
// round trip to its mount manager.)
bool InspectFile(HANDLE file, SourceFile* source) {
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)) ||
        !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)))
        return false;
    if ((basic.FileAttributes & kUntouchedAttributes) != 0 || standard.Directory)
        return false;
    // Replacing a file that has several names would leave the other names holding the old content.
    if (standard.NumberOfLinks > 1)
        return false;
    if (standard.EndOfFile.QuadPart < 0 || static_cast<UINT64>(standard.EndOfFile.QuadPart) > kMaxSourceBytes)
        return false;
    source->size = static_cast<UINT64>(standard.EndOfFile.QuadPart);
    source->attributes = basic.FileAttributes;
    source->creationTime = basic.CreationTime;
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

// Reads the whole file at `extendedPath` if it is one to convert. The file is shared with other readers
// only, and only while it is read.
bool ReadSourceFile(const wchar_t* extendedPath, const FolderConversion& folder, SourceFile* source) {
    *source = {};
    HANDLE file = CreateFileW(extendedPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (InspectFile(file, source))
        source->finalPath = OwnPathOf(file, extendedPath, folder);
    const bool read = source->finalPath != nullptr && ReadWholeFile(file, source);
    CloseHandle(file);
    if (!read)
        ReleaseSourceFile(source);
    return read;
}

void AppendHex(wchar_t** out, DWORD value) {
    for (int shift = 28; shift >= 0; shift -= 4)
        *(*out)++ = L"0123456789abcdef"[(value >> shift) & 15];
}

// Creates a new, empty file in the folder that the first `folderLength` units of `path` name, under a name no
// other file has: "~qtx", the process, the time and a try count. `tempPath` receives its path (a heap block)
// when the result is a valid handle.
HANDLE CreateTemporaryFile(const wchar_t* path, UINT64 folderLength, wchar_t** tempPath) {
    *tempPath = nullptr;
    for (DWORD attempt = 0; attempt < 64; ++attempt) {
        wchar_t name[40] = L"~qtx";
        wchar_t* end = name + 4;
        AppendHex(&end, GetCurrentProcessId());
        AppendHex(&end, GetTickCount());
        AppendHex(&end, attempt);
        lstrcpynW(end, L".tmp", 5);
        wchar_t* candidate = Join(path, folderLength, name);
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

// Writes the new content and gives the file what it must keep of the original: its creation time and kept
// flags (ReplaceFileW keeps both on Windows; Wine's drops them, and cannot set a creation time at all). The
// archive flag is set: the content did change. Then everything is flushed.
bool WriteAndFlush(HANDLE file, const ByteBuffer& content, const SourceFile& source) {
    for (UINT64 done = 0; done < content.size;) {
        const UINT64 remaining = content.size - done;
        const DWORD asked = static_cast<DWORD>(remaining < kIoPiece ? remaining : kIoPiece);
        DWORD written = 0;
        // On a full disk a write reports success with fewer bytes written: only the count tells.
        if (!WriteFile(file, content.bytes + done, asked, &written, nullptr) || written != asked)
            return false;
        done += written;
    }
    FILE_BASIC_INFO kept = {};  // zero: left as it is
    kept.CreationTime = source.creationTime;
    if ((source.attributes & kKeptAttributes) != 0)
        kept.FileAttributes = (source.attributes & kKeptAttributes) | FILE_ATTRIBUTE_ARCHIVE;
    SetFileInformationByHandle(file, FileBasicInfo, &kept, sizeof(kept));
    return FlushFileBuffers(file) != FALSE;
}

// A file of ours in the folder of `finalPath` for the replace to move the original to. Once a replace has
// put an original there, the name is kept for the next file of the folder: the replace overwrites what it
// holds, so that no new name has to be found for each file.
const wchar_t* BackupFor(FolderConversion* folder, const wchar_t* finalPath) {
    if (folder->backupPath != nullptr)
        return folder->backupPath;
    HANDLE backup = CreateTemporaryFile(finalPath, FolderPrefixLength(finalPath), &folder->backupPath);
    if (backup == INVALID_HANDLE_VALUE)
        return nullptr;
    CloseHandle(backup);
    return folder->backupPath;
}

// Forgets the backup name without deleting the file there.
void LeaveBackup(FolderConversion* folder) {
    FreeBytes(folder->backupPath);
    folder->backupPath = nullptr;
}

// Puts the temporary file in the original's place; on failure the original keeps its content and name.
// The backup name is one of ours: given none, Wine's ReplaceFileW makes its own temporary file and leaves
// it behind when it fails.
bool ReplaceOriginal(FolderConversion* folder, const wchar_t* finalPath, const wchar_t* tempPath) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool kept = folder->backupPath != nullptr;
        const wchar_t* backupPath = BackupFor(folder, finalPath);
        if (backupPath == nullptr)
            break;
        if (ReplaceFileW(finalPath, tempPath, backupPath, 0, nullptr, nullptr))
            return true;
        // The original went to the backup name but the new content could not take its place: move it back.
        // Should even that fail, both files stay, so that the old content is not lost, and the backup name
        // is given up: the next replace would overwrite what it holds.
        if (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            const bool movedBack = MoveFileExW(backupPath, finalPath, 0) != FALSE;
            LeaveBackup(folder);
            if (!movedBack)
                return false;
            break;
        }
        // A kept backup holds the previous file's old content, which another program may still have open
        // (sharing deletion): then it can't be overwritten, and a new name is tried once.
        if (!kept)
            break;
        ReleaseBackup(folder);
    }
    DeleteFileW(tempPath);
    return false;
}

// Writes `content` to a temporary file in the same folder and puts it in the original's place, so that the
// file holds either its whole old content or its whole new content whatever fails on the way.
void WriteAndReplace(FolderConversion* folder, const SourceFile& source, const ByteBuffer& content) {
    wchar_t* tempPath = nullptr;
    HANDLE temp = CreateTemporaryFile(source.finalPath, FolderPrefixLength(source.finalPath), &tempPath);
    if (temp == INVALID_HANDLE_VALUE)
        return;
    const bool written = WriteAndFlush(temp, content, source);
    CloseHandle(temp);
    if (written)
        ReplaceOriginal(folder, source.finalPath, tempPath);
    else
        DeleteFileW(tempPath);
    FreeBytes(tempPath);
}

// Converts the file at `extendedPath` (see ExtendedPathOf), an entry of `folder`.
void ConvertExtendedPath(FolderConversion* folder, const wchar_t* extendedPath, TextFormat from, TextFormat to) {
    SourceFile source;
    if (!ReadSourceFile(extendedPath, *folder, &source))
        return;
    ByteBuffer content;
    const bool converted = ConvertText(source.bytes, source.size, from, to, &content);
    FreeBytes(source.bytes);
    source.bytes = nullptr;
    if (converted) {
        WriteAndReplace(folder, source, content);
        FreeByteBuffer(&content);
    }
    ReleaseSourceFile(&source);
}

}  // namespace

void BeginFolderConversion(const wchar_t* folderPath, FolderConversion* folder) {
    *folder = {};
    HANDLE handle = CreateFileW(folderPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    folder->finalPath = WithSeparator(FinalPathOf(handle));
    folder->nameOnVolume = WithSeparator(NameOnVolumeOf(handle));
    CloseHandle(handle);
}

void ConvertFileInFolder(FolderConversion* folder, const wchar_t* path, TextFormat from, TextFormat to) {
    if (path == nullptr || path[0] == 0 || !IsTextFormat(from) || !IsTextFormat(to))
        return;
    wchar_t* extendedPath = ExtendedPathOf(path);
    if (extendedPath == nullptr)
        return;
    ConvertExtendedPath(folder, extendedPath, from, to);
    FreeBytes(extendedPath);
}

void ReleaseBackup(FolderConversion* folder) {
    if (folder->backupPath != nullptr)
        DeleteFileW(folder->backupPath);
    LeaveBackup(folder);
}

void EndFolderConversion(FolderConversion* folder) {
    ReleaseBackup(folder);
    FreeBytes(folder->finalPath);
    FreeBytes(folder->nameOnVolume);
    *folder = {};
}

void ConvertFile(const wchar_t* path, TextFormat from, TextFormat to) {
    if (path == nullptr || path[0] == 0 || !IsTextFormat(from) || !IsTextFormat(to))
        return;
    wchar_t* extendedPath = ExtendedPathOf(path);
    if (extendedPath == nullptr)
        return;
    wchar_t* folderPath = Join(extendedPath, FolderPrefixLength(extendedPath), L"");
    if (folderPath != nullptr) {
        FolderConversion folder;
        BeginFolderConversion(folderPath, &folder);
        ConvertExtendedPath(&folder, extendedPath, from, to);
        EndFolderConversion(&folder);
        FreeBytes(folderPath);
    }
    FreeBytes(extendedPath);
}
