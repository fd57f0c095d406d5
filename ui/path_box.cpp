#include "path_box.h"
