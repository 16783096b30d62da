// The input-method calls exist only in the Windows SDL build the program was
// designed for. Here they do nothing and report success; the program reads
// nothing back from them but IMM_Init's success.
#include "platform/platform.h"

int SDL_SetIMValues(int, ...) { return 0; }

int IMM_Init() { return 1; }

const char* IMM_GetCompStr() { return ""; }
