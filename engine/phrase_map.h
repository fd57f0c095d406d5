#pragma once
// Traditional/Simplified mapping phrase by phrase, as OpenCC's s2tw and tw2s conversions do it, with tables
// generated at build time from OpenCC's dictionaries (tools/gen_script_tables.py). It stands in where the
// platform's own mapping service does not map.

#include "heap_buffer.h"

// Maps `text` to Simplified (`toSimplified`) or to Traditional into the new text `*mapped`. Every character
// keeps its place: the mapped text has as many characters as `text`, but not always as many units, as a
// character and its counterpart may lie on either side of the Basic Multilingual Plane.
// False, with `*mapped` empty, only when memory runs out.
bool MapPhrases(bool toSimplified, const WideText& text, WideText* mapped);
