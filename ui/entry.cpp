#include <windows.h>

extern "C" void Entry() {
    ExitProcess(0);
}
