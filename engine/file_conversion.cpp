#include "file_conversion.h"
