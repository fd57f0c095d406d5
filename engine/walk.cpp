#include "walk.h"

#include <shlwapi.h>

#include "file_conversion.h"

namespace {

// What "\*.*" adds to a folder's path when the folder is entered.
constexpr int kFolderPatternLength = 4;

// A folder's identity on its volume: the same whichever link, junction or path leads to it. The 128-bit
// file ID where the file system gives one (ReFS does not keep its 64-bit file index unique), else the file
// index in the low half. No folder is known by ID 0, so a slot holding it is free.
struct FolderIdentity {
    ULONGLONG volume;
    ULONGLONG idLow;
    ULONGLONG idHigh;
};

// FILE_ID_INFO and its class for GetFileInformationByHandleEx, which the headers declare only for
// Windows 8 and later. Windows 7 refuses the class, and the file index is taken instead.
struct FileIdInformation {
    ULONGLONG volumeSerialNumber;
    ULONGLONG idLow;  // FILE_ID_128, little-endian
    ULONGLONG idHigh;
};
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// The folders one request has walked: an open-addressing hash set on the process heap. It grows with
// the number of folders walked, never with the number of files.
struct VisitedFolders {
    FolderIdentity* slots;
    SIZE_T capacity;  // a power of two, or 0 before the first folder
    SIZE_T count;
};

struct Walk {
    TextFormat from;
    TextFormat to;
    bool recurse;
    VisitedFolders visited;
};

// One folder's entries, taken in full before any of them is converted: each conversion replaces its file
// with a new directory entry, and some file systems (FAT32, exFAT) can return such an entry again to a
// listing still in progress. Each record is a kind unit, the name and its terminator.
struct EntryList {
    wchar_t* units;
    SIZE_T used;
    SIZE_T capacity;
};

constexpr wchar_t kFileEntry = L'f';
constexpr wchar_t kFolderEntry = L'd';
constexpr wchar_t kLinkedFolderEntry = L'l';  // a symbolic link, junction or other reparse point
constexpr SIZE_T kFirstListCapacity = 4096;

bool IsFree(const FolderIdentity& slot) {
    return (slot.idLow | slot.idHigh) == 0;
}

SIZE_T SlotOf(const FolderIdentity& identity, SIZE_T capacity) {
    unsigned long long key = identity.idLow ^ (identity.idHigh * 0xC2B2AE3D27D4EB4Full);
    key ^= identity.volume * 0x9E3779B97F4A7C15ull;
    key ^= key >> 31;
    key *= 0xBF58476D1CE4E5B9ull;
    key ^= key >> 29;
    return static_cast<SIZE_T>(key) & (capacity - 1);
}

bool SameFolder(const FolderIdentity& a, const FolderIdentity& b) {
    return a.volume == b.volume && a.idLow == b.idLow && a.idHigh == b.idHigh;
}

// Returns the slot holding `identity`, or the free slot where it belongs.
FolderIdentity* FindSlot(FolderIdentity* slots, SIZE_T capacity, const FolderIdentity& identity) {
    SIZE_T slot = SlotOf(identity, capacity);
    while (!IsFree(slots[slot]) && !SameFolder(slots[slot], identity)) {
        slot = (slot + 1) & (capacity - 1);
    }
    return &slots[slot];
}

bool GrowVisited(VisitedFolders& visited) {
    const SIZE_T capacity = visited.capacity == 0 ? 64 : visited.capacity * 2;
    auto* slots =
        static_cast<FolderIdentity*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, capacity * sizeof(FolderIdentity)));
    if (slots == nullptr) {
        return false;
    }
    for (SIZE_T i = 0; i < visited.capacity; ++i) {
        if (!IsFree(visited.slots[i])) {
            *FindSlot(slots, capacity, visited.slots[i]) = visited.slots[i];
        }
    }
    if (visited.slots != nullptr) {
        HeapFree(GetProcessHeap(), 0, visited.slots);
    }
    visited.slots = slots;
    visited.capacity = capacity;
    return true;
}

void FreeVisited(VisitedFolders& visited) {
    if (visited.slots != nullptr) {
        HeapFree(GetProcessHeap(), 0, visited.slots);
    }
    visited = {};
}

bool WasWalked(const VisitedFolders& visited, const FolderIdentity& identity) {
    return visited.capacity != 0 && !IsFree(*FindSlot(visited.slots, visited.capacity, identity));
}

// Records that the folder has been listed; false when there is no memory to record it.
bool RecordWalked(VisitedFolders& visited, const FolderIdentity& identity) {
    // Kept at most half full so that probing stays short.
    if ((visited.count + 1) * 2 > visited.capacity && !GrowVisited(visited)) {
        return false;
    }
    FolderIdentity* slot = FindSlot(visited.slots, visited.capacity, identity);
    if (IsFree(*slot)) {
        *slot = identity;
        ++visited.count;
    }
    return true;
}

// The identity of the folder itself, not of a link to it: the open follows links and junctions. False
// when it can't be told: the folder can't be opened or queried (some network and virtual drives), or the
// file system gives every file the ID 0.
bool ReadFolderIdentity(const wchar_t* folder, FolderIdentity* identity) {
    HANDLE handle = CreateFileW(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    FileIdInformation id;
    BY_HANDLE_FILE_INFORMATION information;
    bool known = true;
    if (GetFileInformationByHandleEx(handle, kFileIdInfo, &id, sizeof(id))) {
        *identity = {id.volumeSerialNumber, id.idLow, id.idHigh};
    } else if (GetFileInformationByHandle(handle, &information)) {
        const ULONGLONG index = (static_cast<ULONGLONG>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
        *identity = {information.dwVolumeSerialNumber, index, 0};
    } else {
        known = false;
    }
    CloseHandle(handle);
    return known && !IsFree(*identity);
}

bool AppendEntry(EntryList& list, wchar_t kind, const wchar_t* name, int nameLength) {
    const SIZE_T needed = static_cast<SIZE_T>(nameLength) + 2;
    if (list.used + needed > list.capacity) {
        SIZE_T capacity = list.capacity == 0 ? kFirstListCapacity : list.capacity * 2;
        while (list.used + needed > capacity) {
            capacity *= 2;
        }
        void* units = list.units == nullptr ? HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(wchar_t))
                                            : HeapReAlloc(GetProcessHeap(), 0, list.units, capacity * sizeof(wchar_t));
        if (units == nullptr) {
            return false;
        }
        list.units = static_cast<wchar_t*>(units);
        list.capacity = capacity;
    }
    wchar_t* record = list.units + list.used;
    record[0] = kind;
    for (int i = 0; i < nameLength; ++i) {
        record[1 + i] = name[i];
    }
    record[1 + nameLength] = L'\0';
    list.used += needed;
    return true;
}

void FreeEntries(EntryList& list) {
    if (list.units != nullptr) {
        HeapFree(GetProcessHeap(), 0, list.units);
    }
    list = {};
}

bool IsDotEntry(const wchar_t* name) {
    return lstrcmpW(name, L".") == 0 || lstrcmpW(name, L"..") == 0;
}

// Takes what `pattern` matches, keeping only the entries that the walk will act on: files whose full path
// fits a path buffer and, when recursing, folders whose path with "\*.*" fits. Whatever would not fit is
// left out whole rather than handled under a cut name. Returns false when the listing could not be taken
// in full; the enumeration is closed before returning.
bool ListEntries(const wchar_t* pattern, int prefixLength, bool recurse, EntryList& list) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool complete = true;
    do {
        const int nameLength = lstrlenW(found.cFileName);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (!recurse || IsDotEntry(found.cFileName) ||
                prefixLength + nameLength + kFolderPatternLength >= MAX_PATH) {
                continue;
            }
            const wchar_t kind =
                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? kLinkedFolderEntry : kFolderEntry;
            complete = AppendEntry(list, kind, found.cFileName, nameLength);
        } else {
            if (prefixLength + nameLength >= MAX_PATH) {
                continue;
            }
            complete = AppendEntry(list, kFileEntry, found.cFileName, nameLength);
        }
    } while (complete && FindNextFileW(find, &found));
    FindClose(find);
    return complete;
}

// Converts what `pattern` matches in its folder and, when recursing, walks each subfolder depth first.
// `pattern` fits a path buffer and its first `prefixLength` units are its folder, ending in a backslash;
// `identity` is the folder's, or null when it can't be told.
void WalkFolder(Walk& walk, const wchar_t* pattern, int prefixLength, const FolderIdentity* identity) {
    EntryList list = {};
    // A folder counts as walked once its listing is taken, so that one that can't be listed now is still
    // walked if another route leads to it. One that can't be recorded is not walked: a link might lead
    // into it again.
    if (!ListEntries(pattern, prefixLength, walk.recurse, list) ||
        (identity != nullptr && !RecordWalked(walk.visited, *identity))) {
        FreeEntries(list);
        return;
    }
    // No enumeration is open from here on: the levels below list their own folders while this one waits.
    wchar_t path[MAX_PATH];
    for (int i = 0; i < prefixLength; ++i) {
        path[i] = pattern[i];
    }
    path[prefixLength] = L'\0';
    // What every file of the folder shares is gathered once for all of them.
    FolderConversion conversion;
    BeginFolderConversion(path, &conversion);
    SIZE_T at = 0;
    while (at < list.used) {
        const wchar_t kind = list.units[at];
        const wchar_t* name = list.units + at + 1;
        const int nameLength = lstrlenW(name);
        at += static_cast<SIZE_T>(nameLength) + 2;
        // The listing checked that the full path fits.
        lstrcpynW(path + prefixLength, name, MAX_PATH - prefixLength);
        const int length = prefixLength + nameLength;
        if (kind == kFileEntry) {
            ConvertFileInFolder(&conversion, path, walk.from, walk.to);
            continue;
        }
        // Only a link or junction can lead back into a folder already walked, and a file converted twice is
        // ruined: a linked folder whose identity can't be told is left out.
        FolderIdentity folder;
        const bool known = ReadFolderIdentity(path, &folder);
        if (known ? WasWalked(walk.visited, folder) : kind == kLinkedFolderEntry) {
            continue;
        }
        lstrcpynW(path + length, L"\\*.*", MAX_PATH - length);
        // The last file's old content is not kept here while a whole subtree is walked.
        ReleaseBackup(&conversion);
        WalkFolder(walk, path, length + 1, known ? &folder : nullptr);
    }
    EndFolderConversion(&conversion);
    FreeEntries(list);
}

// The units before the terminator, or -1 when there is none within a path buffer.
int BoundedLength(const wchar_t* text) {
    for (int i = 0; i < MAX_PATH; ++i) {
        if (text[i] == L'\0') {
            return i;
        }
    }
    return -1;
}

// Writes the full path of the folder that the first `folderLength` units of `pattern` name (the current
// folder when there are none), ending in a backslash: relative and drive-relative paths ("C:*.txt"), forward
// slashes and ".." elements are resolved once here, so each entry's path is composed from the folder that
// is really listed. Returns its length, or 0 when it can't be resolved or leaves no room for a name.
int FullFolderPath(const wchar_t* pattern, int folderLength, wchar_t* full) {
    wchar_t folder[MAX_PATH];
    lstrcpynW(folder, folderLength == 0 ? L"." : pattern, folderLength == 0 ? 2 : folderLength + 1);
    const DWORD length = GetFullPathNameW(folder, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH - 1) {
        return 0;
    }
    if (full[length - 1] == L'\\') {
        return static_cast<int>(length);
    }
    full[length] = L'\\';
    full[length + 1] = L'\0';
    return static_cast<int>(length) + 1;
}

}  // namespace

void ConvertPath(const ConversionRequest& request) {
    if (request.from == request.to || request.from >= kTextFormatCount || request.to >= kTextFormatCount) {
        return;
    }
    if (BoundedLength(request.text) <= 0) {
        return;
    }
    wchar_t pattern[MAX_PATH];
    lstrcpynW(pattern, request.text, MAX_PATH);
    // A folder whose path leaves no room for "\*.*" is not walked at all, rather than walked under a cut path.
    if (request.folderMode && !PathAppendW(pattern, L"*.*")) {
        return;
    }
    WalkPattern(pattern, request.folderMode, request.from, request.to);
}

void WalkPattern(const wchar_t* pattern, bool recurse, TextFormat from, TextFormat to) {
    const int length = pattern == nullptr ? 0 : BoundedLength(pattern);
    if (length <= 0) {
        return;
    }
    int nameStart = 0;
    for (int i = 0; i < length; ++i) {
        if (pattern[i] == L'\\' || pattern[i] == L'/' || (i == 1 && pattern[i] == L':')) {
            nameStart = i + 1;
        }
    }
    // A pattern that names no entry (a path ending in a backslash) matches nothing.
    if (nameStart == length) {
        return;
    }
    wchar_t full[MAX_PATH];
    const int prefixLength = FullFolderPath(pattern, nameStart, full);
    if (prefixLength == 0 || prefixLength + length - nameStart >= MAX_PATH) {
        return;
    }
    Walk walk = {from, to, recurse, {}};
    // The folder named by the request is walked even when its identity can't be told.
    FolderIdentity identity;
    const bool known = recurse && ReadFolderIdentity(full, &identity);
    // The last element is listed as typed: GetFullPathNameW would strip its trailing dots and spaces, and
    // "*." matches the names without an extension.
    lstrcpynW(full + prefixLength, pattern + nameStart, MAX_PATH - prefixLength);
    WalkFolder(walk, full, prefixLength, known ? &identity : nullptr);
    FreeVisited(walk.visited);
}
