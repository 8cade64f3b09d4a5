// The example product's program: one box with its name and the version that CMake gives it.
// Built only with a mingw-w64 toolchain file; the setup installs it as bin\rocket.exe.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    MessageBoxA(NULL, "Rocket Launcher " ROCKET_VERSION " is ready.", "Rocket Launcher", MB_OK);
    return 0;
}
