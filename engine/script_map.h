#pragma once
// Traditional/Simplified mapping: the platform's LCMapStringW where it maps, else our own tables generated
// from OpenCC's dictionaries (Wine's LCMapStringW reports success and returns the text unchanged). Whether
// the platform maps is found out once per process, on first use, with the pair 國/国.

#include "heap_buffer.h"

// Maps `text` into the new text `*mapped` (release with FreeWideText) with `flag` LCMAP_SIMPLIFIED_CHINESE
// (Traditional to Simplified) or LCMAP_TRADITIONAL_CHINESE (the reverse). The mapped text may be longer or
// shorter than `text`. False, with `*mapped` empty, for another flag or when the mapping fails.
bool MapScript(DWORD flag, const WideText& text, WideText* mapped);
