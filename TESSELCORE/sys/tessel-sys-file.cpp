// The file calls of the platform seam, the same in both trees: thin wrappers over the C
// runtime's unbuffered stdio (msvcrt in the setup program), with the count of calls made and
// the one call a test has asked to fail.
#include "tessel-sys.h"

#include <errno.h>
#include <stdio.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

static struct {
    int32_t calls;  // file calls made, failed ones included
    int32_t failAt; // calls to go until the one that fails; 0: none
} S;

// Counts the call. 1 when it is the one to fail; errno is then EIO.
static int Injected(void) {
    S.calls++;
    if (S.failAt == 0 || --S.failAt != 0) return 0;
    errno = EIO;
    return 1;
}

void Sys_FileFailAt(int32_t nth) { S.failAt = nth > 0 ? nth : 0; }
int32_t Sys_FileCalls(void) { return S.calls; }

SysFile *Sys_FileOpen(const char *path, const char *mode) {
    if (Injected()) return NULL;
    FILE *file = fopen(path, mode);
    if (file) setvbuf(file, NULL, _IONBF, 0);
    return (SysFile *)file;
}

int Sys_FileRead(SysFile *file, void *buffer, int32_t count, int32_t *got) {
    *got = 0;
    if (Injected()) return 0;
    if (count <= 0) return count == 0;
    *got = (int32_t)fread(buffer, 1, (size_t)count, (FILE *)file);
    return *got == count || !ferror((FILE *)file);
}

int Sys_FileWrite(SysFile *file, const void *data, int32_t count) {
    if (Injected()) return 0;
    if (count <= 0) return count == 0;
    return fwrite(data, 1, (size_t)count, (FILE *)file) == (size_t)count;
}

int Sys_FileSeek(SysFile *file, int64_t offset) {
    if (Injected()) return 0;
    if (offset < 0) return 0;
#if defined(_WIN32)
    return _fseeki64((FILE *)file, offset, SEEK_SET) == 0;
#else
    return fseeko((FILE *)file, (off_t)offset, SEEK_SET) == 0;
#endif
}

int64_t Sys_FileLength(SysFile *file) {
    if (Injected()) return -1;
#if defined(_WIN32)
    return _filelengthi64(_fileno((FILE *)file));
#else
    struct stat status;
    return fstat(fileno((FILE *)file), &status) == 0 ? (int64_t)status.st_size : -1;
#endif
}

int64_t Sys_FileTell(SysFile *file) {
    if (Injected()) return -1;
#if defined(_WIN32)
    return _ftelli64((FILE *)file);
#else
    return (int64_t)ftello((FILE *)file);
#endif
}

int Sys_FileFlush(SysFile *file) {
    if (Injected()) return 0;
#if defined(_WIN32)
    return _commit(_fileno((FILE *)file)) == 0;
#else
    return fsync(fileno((FILE *)file)) == 0;
#endif
}

int Sys_FileClose(SysFile *file) {
    int injected = Injected();
    int closed = fclose((FILE *)file) == 0;
    if (injected) errno = EIO;
    return closed && !injected;
}
