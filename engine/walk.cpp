#include "walk.h"

#include <shlwapi.h>

#include "file_conversion.h"

namespace {

// What "\*.*" adds to a folder's path when the folder is entered.
constexpr int kFolderPatternLength = 4;

// A folder's identity on its volume: the same whichever link, junction or path leads to it.
struct FolderIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    DWORD used;  // slot taken
};

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

enum class Visit { First, Again, Unknown };

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
constexpr SIZE_T kFirstListCapacity = 4096;

SIZE_T SlotOf(const FolderIdentity& identity, SIZE_T capacity) {
    unsigned long long key = (static_cast<unsigned long long>(identity.indexHigh) << 32) | identity.indexLow;
    key ^= static_cast<unsigned long long>(identity.volume) * 0x9E3779B97F4A7C15ull;
    key ^= key >> 31;
    key *= 0xBF58476D1CE4E5B9ull;
    key ^= key >> 29;
    return static_cast<SIZE_T>(key) & (capacity - 1);
}

bool SameFolder(const FolderIdentity& a, const FolderIdentity& b) {
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

// Returns the slot holding `identity`, or the free slot where it belongs.
FolderIdentity* FindSlot(FolderIdentity* slots, SIZE_T capacity, const FolderIdentity& identity) {
    SIZE_T slot = SlotOf(identity, capacity);
    while (slots[slot].used && !SameFolder(slots[slot], identity)) {
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
        if (visited.slots[i].used) {
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

// Records that the folder is being walked. A folder that can't be recorded is treated as possibly walked:
// walking it twice could convert its files twice.
Visit MarkVisited(VisitedFolders& visited, const FolderIdentity& identity) {
    // Kept at most half full so that probing stays short.
    if ((visited.count + 1) * 2 > visited.capacity && !GrowVisited(visited)) {
        return Visit::Unknown;
    }
    FolderIdentity* slot = FindSlot(visited.slots, visited.capacity, identity);
    if (slot->used) {
        return Visit::Again;
    }
    *slot = identity;
    slot->used = 1;
    ++visited.count;
    return Visit::First;
}

// The identity of the folder itself, not of a link to it: the open follows links and junctions.
bool ReadFolderIdentity(const wchar_t* folder, FolderIdentity* identity) {
    HANDLE handle = CreateFileW(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information;
    const BOOL known = GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    if (!known || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    identity->volume = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    identity->used = 0;
    return true;
}

// Visits the folder for the first time in this request, or tells that it must not be walked.
bool FirstVisit(Walk& walk, const wchar_t* folder) {
    FolderIdentity identity;
    if (!ReadFolderIdentity(folder, &identity)) {
        return false;
    }
    return MarkVisited(walk.visited, identity) == Visit::First;
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
            complete = AppendEntry(list, kFolderEntry, found.cFileName, nameLength);
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
// `pattern` fits a path buffer and its first `prefixLength` units are its folder, ending in a backslash.
void WalkFolder(Walk& walk, const wchar_t* pattern, int prefixLength) {
    EntryList list = {};
    if (!ListEntries(pattern, prefixLength, walk.recurse, list)) {
        FreeEntries(list);
        return;
    }
    // No enumeration is open from here on: the levels below list their own folders while this one waits.
    wchar_t path[MAX_PATH];
    for (int i = 0; i < prefixLength; ++i) {
        path[i] = pattern[i];
    }
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
            ConvertFile(path, walk.from, walk.to);
            continue;
        }
        if (!FirstVisit(walk, path)) {
            continue;
        }
        lstrcpynW(path + length, L"\\*.*", MAX_PATH - length);
        WalkFolder(walk, path, length + 1);
    }
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
    if (pattern == nullptr || BoundedLength(pattern) <= 0) {
        return;
    }
    // The full path is what the listing sees: relative paths, drive-relative paths ("C:*.txt"), forward
    // slashes and ".." elements are resolved once here, so each entry's path is composed from the folder
    // that was really listed.
    wchar_t full[MAX_PATH];
    const DWORD fullLength = GetFullPathNameW(pattern, MAX_PATH, full, nullptr);
    if (fullLength == 0 || fullLength >= MAX_PATH) {
        return;
    }
    int prefixLength = 0;
    for (int i = 0; i < static_cast<int>(fullLength); ++i) {
        if (full[i] == L'\\') {
            prefixLength = i + 1;
        }
    }
    // A pattern that names no entry (a path ending in a backslash) matches nothing.
    if (prefixLength == 0 || prefixLength == static_cast<int>(fullLength)) {
        return;
    }
    Walk walk = {from, to, recurse, {}};
    if (recurse) {
        wchar_t folder[MAX_PATH];
        lstrcpynW(folder, full, prefixLength + 1);
        if (!FirstVisit(walk, folder)) {
            FreeVisited(walk.visited);
            return;
        }
    }
    WalkFolder(walk, full, prefixLength);
    FreeVisited(walk.visited);
}
