// libFuzzer target for the script engine: any bytes are loaded as "install.dat" (through the
// disk-file fallback, no archive open) and run with the setter commands and BREAK registered,
// once in quiet mode and once interactively (the first run, then the run inside the window
// with a few retries of a failed command, as the window would do when the user goes on). Each
// text field must stay terminated inside its field, the lists must lie inside the script, and
// every block must be given back.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "command.h"
#include "host-ui.h"
#include "iscript.h"
#include "tessel-core.h"

static void Check(int condition) {
    if (!condition) __builtin_trap();
}

static void CheckText(const char *field, size_t size) { Check(memchr(field, 0, size) != NULL); }

static void CheckList(const InstallState *state, const char *list) {
    if (!list) return;
    Check(list >= state->ScriptText && list <= state->ScriptText + state->ScriptSize);
}

static void CheckState(const InstallState *state) {
    const char *fields[] = {state->Caption,        state->CompanyName,   state->ProductName,
                            state->ProductVersion, state->ListServerAddress,
                            state->ListServerList, state->RegistryPath,  state->InstallPath,
                            state->InstallDir,     state->InstallName,   state->UninstallName,
                            state->UpdateUrl};
    for (const char *field : fields) CheckText(field, INSTALL_TEXT_SIZE);
    CheckText(state->RelaunchPath, sizeof state->RelaunchPath);
    CheckList(state, state->FileList);
    CheckList(state, state->TempList);
    Check(state->ScriptPosition >= state->ScriptText &&
          state->ScriptPosition <= state->ScriptText + state->ScriptSize);
}

static void RunOnce(int32_t mode) {
    InstallState *state = NULL;
    Check(Script_Load(&state, "install.dat", mode) == 1);
    int result = Script_Run(state, NULL);
    CheckState(state);
    if (mode == Interactive) {
        void *window = (void *)0x1000;
        for (int attempt = 0; attempt < 3 && !Script_Run(state, window); attempt++)
            CheckState(state);
        CheckState(state);
    }
    (void)result;
    Script_Release(&state);
}

static void ReleaseRegistry(void) { Cmd_ReleaseAll(); }

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    (void)argc;
    (void)argv;
    char folder[] = "/tmp/script-fuzz-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0) abort();
    // UNINSTALL NAME finds an uninstaller and adds its share to the install size.
    FILE *uninstaller = fopen("uninst.exe", "wb");
    if (!uninstaller) abort();
    static const char block[4096] = {'M', 'Z'};
    for (int i = 0; i < 25; i++) fwrite(block, 1, sizeof block, uninstaller);
    fclose(uninstaller);
    Mem_Init(MEM_NO_LIMIT, 0);
    HostUi_SetEcho(0);
    Cmd_RegisterAll();
    Script_RegisterBreak();
    atexit(ReleaseRegistry); // before the leak check, which was registered first
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FILE *file = fopen("install.dat", "wb");
    if (!file) abort();
    if (size && fwrite(data, 1, size, file) != size) abort();
    fclose(file);
    MemStats before = {};
    Mem_GetStats(&before);
    RunOnce(Quiet);
    RunOnce(Interactive);
    MemStats after = {};
    Mem_GetStats(&after);
    Check(after.blockCount == before.blockCount && after.bytesInUse == before.bytesInUse);
    return 0;
}
