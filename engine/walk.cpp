#include "walk.h"
