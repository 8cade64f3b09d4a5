// Recording actions for the engine's tests: the engine's own stand-ins, with the boxes, the
// destroyed windows and the removed fonts recorded (and the boxes printed on stderr).
#include "host-ui.h"

#include <stdio.h>

#include "actions.h"
#include "tessel-core.h"

enum { RECORD_SIZE = 1024 };

static struct {
    int confirmAnswer;
    int boxCount;
    char title[RECORD_SIZE];
    char text[RECORD_SIZE];
    int destroyCount;
    void *lastDestroyed;
    int fontRemoveResult;
    int fontRemoveCount;
    char lastFont[RECORD_SIZE];
    int uninstallResult;
    int uninstallCount;
    int echo;
    InstallActions actions;
} S = {1, 0, "", "", 0, nullptr, 1, 0, "", 1, 0, 1, {}};

static void ShowBox(const char *kind, const char *text, const char *title) {
    S.boxCount++;
    Str_Format(S.title, sizeof S.title, "%s", title);
    Str_Format(S.text, sizeof S.text, "%s", text);
    if (!S.echo) return;
    fprintf(stderr, "[%s box \"%s\"] %s\n", kind, title, text);
    fflush(stderr);
}

static int Confirm(const char *text, const char *title) {
    CORE_GUARD(text);
    ShowBox("confirm", text, title ? title : ACTIONS_CONFIRM_TITLE);
    return S.confirmAnswer;
}

static int Problem(const char *text, const char *title) {
    CORE_GUARD(text);
    ShowBox("problem", text, title ? title : ACTIONS_PROBLEM_TITLE);
    return 1;
}

static int DestroyWindow(void *window) {
    S.destroyCount++;
    S.lastDestroyed = window;
    return 1;
}

static int RemoveFont(const char *path) {
    CORE_GUARD(path);
    S.fontRemoveCount++;
    Str_Format(S.lastFont, sizeof S.lastFont, "%s", path);
    return S.fontRemoveResult;
}

static int RegisterUninstall(const InstallState *state) {
    CORE_GUARD(state);
    S.uninstallCount++;
    return S.uninstallResult;
}

void HostUi_Reset(void) {
    S.confirmAnswer = 1;
    S.boxCount = 0;
    S.title[0] = S.text[0] = 0;
    S.destroyCount = 0;
    S.lastDestroyed = nullptr;
    S.fontRemoveResult = 1;
    S.fontRemoveCount = 0;
    S.lastFont[0] = 0;
    S.uninstallResult = 1;
    S.uninstallCount = 0;
    S.actions = *Actions_StandIns();
    S.actions.Confirm = Confirm;
    S.actions.Problem = Problem;
    S.actions.DestroyWindow = DestroyWindow;
    S.actions.RemoveFont = RemoveFont;
    S.actions.RegisterUninstall = RegisterUninstall;
    Actions_Set(&S.actions);
}

void HostUi_SetConfirmAnswer(int answer) { S.confirmAnswer = answer; }
void HostUi_SetEcho(int echo) { S.echo = echo; }
int HostUi_BoxCount(void) { return S.boxCount; }
const char *HostUi_LastTitle(void) { return S.title; }
const char *HostUi_LastText(void) { return S.text; }
int HostUi_DestroyCount(void) { return S.destroyCount; }
void *HostUi_LastDestroyed(void) { return S.lastDestroyed; }
void HostUi_SetFontRemoveResult(int result) { S.fontRemoveResult = result; }
void HostUi_SetUninstallResult(int result) { S.uninstallResult = result; }
int HostUi_UninstallCount(void) { return S.uninstallCount; }
int HostUi_FontRemoveCount(void) { return S.fontRemoveCount; }
const char *HostUi_LastFontRemoved(void) { return S.lastFont; }
