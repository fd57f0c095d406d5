#pragma once
// Traditional/Simplified character mapping: the platform's LCMapStringW where it maps, else our own table
// generated from Unihan's variants (Wine's LCMapStringW reports success and returns the text unchanged).
// Whether the platform maps is found out once per process, on first use, with the pair 國/国.

#include <windows.h>

// Maps the zero-terminated `text` into `out`, which has room for `capacity` units, with `flag`
// LCMAP_SIMPLIFIED_CHINESE (Traditional to Simplified) or LCMAP_TRADITIONAL_CHINESE (the reverse).
// Returns the units written including the terminator, or 0 when the mapping failed or did not fit
// (also for a capacity of 0, which LCMapStringW would take as a size query). The table keeps the length.
int MapScript(DWORD flag, const wchar_t* text, wchar_t* out, int capacity);

// Our own table's mapping of one UTF-16 unit; units outside the table come back as they are.
wchar_t MapUnitWithTable(DWORD flag, wchar_t unit);
