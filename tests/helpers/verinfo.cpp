// The version information of a file as Windows gives it (GetFileVersionInfoW, VerQueryValueW),
// for the end-to-end tests of the builder's version resource: one "Name=value" line each, UTF-8,
// on the standard output. Exit code 0, 1 when the file has no version information.
#include <windows.h>

#include <stdio.h>

#include <vector>

static void PrintUtf8(const wchar_t *name, const wchar_t *value) {
    char nameText[128], valueText[4096];
    WideCharToMultiByte(CP_UTF8, 0, name, -1, nameText, sizeof nameText, NULL, NULL);
    WideCharToMultiByte(CP_UTF8, 0, value, -1, valueText, sizeof valueText, NULL, NULL);
    printf("%s=%s\n", nameText, valueText);
}

int wmain(int argc, wchar_t **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: verinfo FILE\n");
        return 2;
    }
    DWORD handle = 0, size = GetFileVersionInfoSizeW(argv[1], &handle);
    if (size == 0) {
        printf("none (error %lu)\n", GetLastError());
        return 1;
    }
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(argv[1], 0, size, block.data())) return 1;
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", (void **)&fixed, &length) && fixed) {
        printf("FixedFileVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
               LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
               LOWORD(fixed->dwFileVersionLS));
        printf("FixedProductVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
               LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
               LOWORD(fixed->dwProductVersionLS));
    }
    WORD *translation = NULL;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", (void **)&translation,
                        &length) ||
        length < 4)
        return 0;
    printf("Translation=%04x %04x\n", translation[0], translation[1]);
    static const wchar_t *kNames[] = {L"CompanyName",  L"FileDescription", L"FileVersion",
                                      L"InternalName", L"LegalCopyright",  L"OriginalFilename",
                                      L"ProductName",  L"ProductVersion"};
    for (const wchar_t *name : kNames) {
        wchar_t path[128];
        _snwprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1],
                   name);
        path[127] = 0;
        wchar_t *value = NULL;
        if (VerQueryValueW(block.data(), path, (void **)&value, &length) && value)
            PrintUtf8(name, value);
    }
    return 0;
}
