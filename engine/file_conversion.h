#pragma once
// Converting one file in place between two text formats.

#include "text_format.h"

// Converts the file at `path` (absolute, or relative to the current folder) from `from` to `to`. The file
// ends with either its whole old content or its whole new content; no temporary file is left behind.
// Left untouched: a file that isn't text in `from` (see ConvertText), is read-only, hidden or system, has
// more than one hard link, is itself a symbolic link, is 2 GiB or larger, or can't be read or replaced.
// Reports nothing.
void ConvertFile(const wchar_t* path, TextFormat from, TextFormat to);

// What the conversions of the files of one folder share, so that a folder walk gathers it once rather than
// once a file: the folder's own path with every link resolved, read from a handle on the folder, and the
// name that the replace moves each original to, kept from one file to the next.
struct FolderConversion {
    wchar_t* finalPath;     // \\?\ form, ending in a backslash; null when the platform can't tell it
    wchar_t* nameOnVolume;  // the same without the volume, for when a file's final path can't be told
    wchar_t* backupPath;    // a file of ours in the folder, or null
};

// Starts converting files of the folder at `folderPath` (a full path ending in a backslash).
void BeginFolderConversion(const wchar_t* folderPath, FolderConversion* folder);
// Converts the file at `path`, an entry of that folder, as ConvertFile does.
void ConvertFileInFolder(FolderConversion* folder, const wchar_t* path, TextFormat from, TextFormat to);
// Deletes the backup file: it holds the last replaced file's old content until the next replace or this.
void ReleaseBackup(FolderConversion* folder);
// Deletes the backup file and forgets the folder.
void EndFolderConversion(FolderConversion* folder);
