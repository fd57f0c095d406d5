#include "script_map.h"
