#pragma once
// Traditional/Simplified character mapping: the platform's LCMapStringW, or our own table where the
// platform reports success without mapping (Wine).

#include <windows.h>
