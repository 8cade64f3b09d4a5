// A program that starts the support library as the setup does and then stops on an internal
// error, so that the end-to-end tests can watch the real fatal box and the report in the log.
//   fataldemo.exe [log switches]
#include <windows.h>

#include "tessel-core.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
    uint32_t flags;
    Log_ParseOptions(&flags, arguments);
    Log_Init("debug.log", flags);
    Mem_Init(MEM_NO_LIMIT, 0);
    Log_Print("Before the fault\n");
    Core_Locate("tests/robot/fataldemo.cpp", 42);
    Core_Abort("Demonstration fault %d\n", 7);
}
