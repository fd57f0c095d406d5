#include "main_dialog.h"
