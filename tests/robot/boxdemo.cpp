// A program that shows one message box and ends with the box's result: the robot's own test.
//   boxdemo.exe TITLE TEXT STYLE
#include <windows.h>

#include <stdlib.h>

int main(int argc, char **argv) {
    if (argc < 4) return 100;
    return MessageBoxA(NULL, argv[2], argv[1], (UINT)strtoul(argv[3], NULL, 0));
}
