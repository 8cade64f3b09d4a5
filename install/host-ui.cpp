// Host stand-ins for the installer's platform needs that the portable engine calls: the message
// boxes (printed to stderr and recorded, with a configurable answer), the window to destroy, the
// temporary fonts and directory; the installation directory, file installation, path macros,
// dialogs, programs and windows, the program group and the uninstall entry, which do not exist
// here. Real versions: winmain.cpp,
// dialog.cpp and the platform wrappers (win32 tree).
#include "host-ui.h"

#include <stdio.h>
#include <stdlib.h>

#include "dialogs.h"
#include "fileinstall.h"
#include "fonts.h"
#include "installdir.h"
#include "programs.h"
#include "shortcuts.h"
#include "tessel-core.h"
#include "ui.h"
#include "uninstreg.h"

enum { RECORD_SIZE = 1024 };

static struct {
    int confirmAnswer;
    int boxCount;
    char title[RECORD_SIZE];
    char text[RECORD_SIZE];
    void *owner;
    int destroyCount;
    void *lastDestroyed;
    int fontRemoveResult;
    int fontRemoveCount;
    char lastFont[RECORD_SIZE];
    int echo;
} S = {1, 0, "", "", nullptr, 0, nullptr, 1, 0, "", 1};

void HostUi_Reset(void) {
    S.confirmAnswer = 1;
    S.boxCount = 0;
    S.title[0] = S.text[0] = 0;
    S.owner = nullptr;
    S.destroyCount = 0;
    S.lastDestroyed = nullptr;
    S.fontRemoveResult = 1;
    S.fontRemoveCount = 0;
    S.lastFont[0] = 0;
}

void HostUi_SetConfirmAnswer(int answer) { S.confirmAnswer = answer; }
void HostUi_SetEcho(int echo) { S.echo = echo; }
int HostUi_BoxCount(void) { return S.boxCount; }
const char *HostUi_LastTitle(void) { return S.title; }
const char *HostUi_LastText(void) { return S.text; }
int HostUi_DestroyCount(void) { return S.destroyCount; }
void *HostUi_LastDestroyed(void) { return S.lastDestroyed; }
void HostUi_SetFontRemoveResult(int result) { S.fontRemoveResult = result; }
int HostUi_FontRemoveCount(void) { return S.fontRemoveCount; }
const char *HostUi_LastFontRemoved(void) { return S.lastFont; }

static void ShowBox(const char *kind, const char *text, const char *title) {
    S.boxCount++;
    Str_Format(S.title, sizeof S.title, "%s", title);
    Str_Format(S.text, sizeof S.text, "%s", text);
    if (!S.echo) return;
    fprintf(stderr, "[%s box \"%s\"] %s\n", kind, title, text);
    fflush(stderr);
}

int Ui_Confirm(const char *text, const char *title) {
    CORE_GUARD(text);
    ShowBox("confirm", text, title ? title : "Install...");
    return S.confirmAnswer;
}

int Ui_Problem(const char *text, const char *title) {
    CORE_GUARD(text);
    ShowBox("problem", text, title ? title : "Install problem...");
    return 1;
}

void Ui_SetOwner(void *window) { S.owner = window; }
void *Ui_GetOwner(void) { return S.owner; }

int Ui_DestroyWindow(void *window) {
    S.destroyCount++;
    S.lastDestroyed = window;
    return 1;
}

int Font_AddTemporary(const char *path) {
    CORE_GUARD(path);
    return 1;
}

int Font_RemoveTemporary(const char *path) {
    CORE_GUARD(path);
    S.fontRemoveCount++;
    Str_Format(S.lastFont, sizeof S.lastFont, "%s", path);
    return S.fontRemoveResult;
}

// No font is written or added here: FONT fails after filling its slot.
int Font_Extract(const char *name) {
    CORE_GUARD(name);
    Log_Print("No font '%s' on this platform\n", name);
    return 0;
}

int Backdrop_Refresh(void *window) {
    CORE_GUARD(window);
    Log_Print("No backdrop window on this platform\n");
    return 0;
}

// The host never refuses a font.
int Font_Unavailable(void) { return 0; }

// The path macros and the directory dialog exist only on Windows: INSTALL PATH fails here.
int DirDlg_Choose(InstallState *state) {
    CORE_GUARD(state);
    Log_Print("No installation directory on this platform\n");
    return 0;
}

// Files are written only on Windows: INSTALL fails here.
int Install_Files(InstallState *state) {
    CORE_GUARD(state);
    Log_Print("No file installation on this platform\n");
    return 0;
}

// Nothing of the installation exists here: no path, no dialog, no program, no window.
int Path_Expand(const InstallState *state, const char *input, char *output, int size,
                uint32_t *flags) {
    CORE_GUARD(state);
    CORE_GUARD(input);
    CORE_GUARD(output);
    CORE_GUARD(flags);
    *flags = 0;
    if (size > 0) output[0] = 0;
    Log_Print("No path '%s' on this platform\n", input);
    return 0;
}

static int NoTextDialog(const char *name) {
    CORE_GUARD(name);
    Log_Print("No dialog for '%s' on this platform\n", name);
    return 0;
}
int TextDlg_Message(void *, const char *, const char *name) { return NoTextDialog(name); }
int TextDlg_Agreement(void *, const char *, const char *name) { return NoTextDialog(name); }

int Proc_Run(const char *file, const char *, int, int32_t *exitCode) {
    CORE_GUARD(file);
    CORE_GUARD(exitCode);
    *exitCode = 0;
    Log_Print("Unable to execute '%s' on this platform\n", file);
    return 1;
}

int Ole_Register(const char *path, int) {
    CORE_GUARD(path);
    Log_Print("No COM server '%s' on this platform\n", path);
    return 0;
}

int Wnd_CloseMatching(InstallState *state, int, int32_t, const char *, const char *,
                      const char *, const char *) {
    CORE_GUARD(state);
    state->RelaunchPath[0] = 0;
    Log_Print("No windows on this platform\n");
    return 0;
}

// No Start menu and no registry here: no group, no shortcut, no uninstall entry.
int Shell_CreateGroup(const char *name) {
    CORE_GUARD(name);
    Log_Print("No program group '%s' on this platform\n", name);
    return 0;
}

int Shell_AddItem(const InstallState *state, const char *target, const char *, int32_t,
                  const char *) {
    CORE_GUARD(state);
    CORE_GUARD(target);
    Log_Print("No shortcut to '%s' on this platform\n", target);
    return 0;
}

int Uninst_Register(const InstallState *state) {
    CORE_GUARD(state);
    Log_Print("No uninstall entry on this platform\n");
    return 0;
}

#if !defined(_WIN32)
// The temporary directory, with its trailing separator; 0 when it does not fit.
int Path_TempDir(char *buffer, int size) {
    CORE_GUARD(buffer);
    const char *base = getenv("TMPDIR");
    if (!base || !base[0]) base = "/tmp";
    int length = Str_Length(base);
    const char *separator = base[length - 1] == '/' ? "" : "/";
    return Str_Format(buffer, size, "%s%s", base, separator) >= 0;
}
#endif
