// The host tree's stand-in for the few platform needs of the log and the fatal path, so that
// the portable library, ffspack and the unit tests build and run on Linux: the error box goes
// to stderr, the executable path comes from /proc/self/exe, the lock is a recursive mutex, the
// temporary directory is $TMPDIR or /tmp.
#include "tessel-sys.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static struct {
    char commandLine[8192];
    int commandLineRead;
} S;

const char *Sys_CommandLine(void) {
    if (S.commandLineRead) return S.commandLine;
    FILE *file = fopen("/proc/self/cmdline", "rb");
    if (!file) return NULL;
    size_t length = fread(S.commandLine, 1, sizeof S.commandLine - 1, file);
    fclose(file);
    // Arguments are separated by NULs there; the program sees them separated by spaces.
    for (size_t i = 0; i + 1 < length; i++)
        if (S.commandLine[i] == 0) S.commandLine[i] = ' ';
    S.commandLine[length] = 0;
    S.commandLineRead = 1;
    return S.commandLine;
}

int Sys_ExecutablePath(char *buffer, int size) {
    if (size < 1) return 0;
    ssize_t length = readlink("/proc/self/exe", buffer, (size_t)size - 1);
    if (length < 0) length = 0;
    buffer[length] = 0;
    return (int)length;
}

void Sys_ErrorWrite(const char *text, const char *caption) {
    size_t length = strlen(text);
    fprintf(stderr, "[%s]\n%s%s", caption, text, length && text[length - 1] == '\n' ? "" : "\n");
    fflush(stderr);
}

void Sys_ErrorBox(const char *text, const char *caption) {
    (void)text;
    (void)caption;
}

void Sys_Sleep(int milliseconds) {
    struct timespec pause = {milliseconds / 1000, (long)(milliseconds % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

void *Sys_MutexCreate(void) {
    pthread_mutex_t *mutex = (pthread_mutex_t *)malloc(sizeof *mutex);
    if (!mutex) return NULL;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    return mutex;
}

int Sys_MutexTake(void *mutex) { return pthread_mutex_lock((pthread_mutex_t *)mutex) == 0; }
void Sys_MutexRelease(void *mutex) { pthread_mutex_unlock((pthread_mutex_t *)mutex); }
void Sys_MutexDestroy(void *mutex) {
    pthread_mutex_destroy((pthread_mutex_t *)mutex);
    free(mutex);
}

// The host has no console window to create: the log's console is standard output.
void *Sys_ConsoleOpen(const char *title) {
    (void)title;
    return stdout;
}

void Sys_ConsoleWrite(void *console, const char *text, int length) {
    if (!console) return;
    fwrite(text, 1, (size_t)length, (FILE *)console);
    fflush((FILE *)console);
}

// $TMPDIR, or /tmp, with its trailing separator.
int Path_TempDir(char *buffer, int size) {
    if (!buffer) return 0;
    const char *base = getenv("TMPDIR");
    if (!base || !base[0]) base = "/tmp";
    size_t length = strlen(base);
    const char *separator = base[length - 1] == '/' ? "" : "/";
    int written = snprintf(buffer, (size_t)(size > 0 ? size : 0), "%s%s", base, separator);
    return written >= 0 && written < size;
}
