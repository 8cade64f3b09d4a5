// The process entry point of the setup program and of the uninstaller: what the C runtime's
// start-up code did for them, and no more. Neither program has static constructors, thread-local
// data, exit handlers or data imported from a DLL, and neither reads argc or argv; the start-up
// code and its machinery were an eighth of the stub.
#include "entry.h"

#include <windows.h>

#include <stdlib.h>

// The command line without the program's name, exactly as the start-up code handed it to
// WinMain: the name ends at the first blank or control byte outside double quotes (a byte from
// 0x80 up counts as one: the comparison is of signed chars), and the blanks after it are skipped.
static const char *Arguments(const char *commandLine) {
    const signed char *at = (const signed char *)commandLine;
    int quoted = 0;
    while (*at > ' ' || (*at && quoted)) {
        if (*at == '"') quoted = !quoted;
        at++;
    }
    while (*at && *at <= ' ') at++;
    return (const char *)at;
}

#if defined(__i386__)
// 32-bit Windows promises a 4-byte aligned stack, the compiler counts on 16: realigned, as the
// start-up code did.
#define ENTRY_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define ENTRY_ALIGN_STACK
#endif

// Named by the link (-e). The C runtime's exit() ends the process, as after WinMain: it writes
// out the runtime's buffered streams first.
extern "C" ENTRY_ALIGN_STACK void Entry_Start(void) {
#if defined(__i386__)
    __asm__ volatile("fninit"); // the x87 unit as the start-up code left it: 64-bit precision
#endif
    exit(Entry_Main(Arguments(GetCommandLineA())));
}
