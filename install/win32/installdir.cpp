// Where an installation goes (win32 tree): the directories of the path macros, the free space
// of a drive and the installation-directory dialog with its checks, and INSTALL PATH's choice
// in quiet and interactive runs.
#include "installdir.h"

#include <windows.h>

#include "number.h"
#include "pathtext.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "tessel-sys.h"
#include "ui.h"
#include "uninst.h"

// ---- Path macros, free space and the installation-directory dialog ----

static const char DIRDLG_TITLE[] = "Installation Directory...";
static const char NO_DRIVE[] = "The drive you have selected cannot be located.";
static const char NO_ROOM[] = "The drive you have selected does not have enough free space.";
static const char TOO_LONG[] = "The path you have selected is too long.";

// The folder the command line chose (-Dir=PATH); empty: none.
static struct { char folder[INSTALL_TEXT_SIZE]; } D;

enum {
    DIRDLG_EDIT_LIMIT = 320,  // characters the path control accepts
    DIRDLG_FIGURE_LIMIT = 80, // characters of a space figure
    DIRDLG_QUESTION_SIZE = 340,
};

// The Program Files directory with its trailing backslash: the registry's "ProgramFilesDir",
// or "Program Files\" on the drive of the system directory when that cannot be read.
static int ProgramFilesDir(char *dir, int size) {
    if (!Path_SystemDir(dir, size) || Str_Length(dir) < 3) return 0;
    dir[3] = 0; // "C:\" stays
    Str_Append(dir, "Program Files\\");
    SysKey key;
    if (Reg_OpenKey(&key, REG_ROOT_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion")) {
        // One byte short of the buffer, so that the backslash always fits; a failed read (a
        // missing value, one that does not fit: refused) keeps the text above.
        char value[PATH_EXPAND_SIZE];
        int room = (size < (int)sizeof value ? size : (int)sizeof value) - 1;
        if (Reg_GetString(key, "ProgramFilesDir", value, room) && value[0]) {
            Str_Copy(dir, value);
            Path_Normalize(dir, 1);
        }
        Reg_CloseKey(&key);
    } else {
        Log_Print("Unable to get Program Files path\n");
    }
    Log_Print("$0 Translates to '%s'\n", dir);
    return 1;
}

// The directory macros: each replaces the whole output built so far.
static const struct {
    char letter;
    int (*query)(char *buffer, int size);
} MACRO_DIRS[] = {
    {'0', ProgramFilesDir}, {'1', Path_WindowsDir}, {'2', Path_SystemDir},
    {'3', Path_ProgramDir}, {'4', Path_TempDir},    {'5', Path_CurrentDir},
};

static int MacroDir(char letter, char *buffer, int size) {
    for (const auto &macro : MACRO_DIRS)
        if (macro.letter == letter) return macro.query(buffer, size);
    return -1;
}

int Path_MacroDir(char letter, char *buffer, int size) {
    CORE_GUARD(buffer);
    return MacroDir(letter, buffer, size);
}

int Path_Expand(const InstallState *state, const char *input, char *output, int size,
                uint32_t *flags) {
    CORE_GUARD(state);
    return PathText_Expand(state->InstallPath, input, MacroDir, output, size, flags);
}

int32_t Disk_BytesToKB(uint64_t bytes) {
    uint64_t kb = bytes >> 10;
    return kb > (uint64_t)INT32_MAX ? INT32_MAX : (int32_t)kb;
}

static int32_t ClampKB(int64_t kb) { return kb > INT32_MAX ? INT32_MAX : (int32_t)kb; }

typedef BOOL(WINAPI *FreeSpaceExFunction)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                          PULARGE_INTEGER);

// Asks for the root only; 0 when the query fails.
static int QueryFreeKB(HMODULE kernel, const char *root, int32_t *freeKB) {
    FreeSpaceExFunction freeSpaceEx =
        (FreeSpaceExFunction)(void *)GetProcAddress(kernel, "GetDiskFreeSpaceExA");
    if (freeSpaceEx) {
        ULARGE_INTEGER available, total, totalFree;
        if (!freeSpaceEx(root, &available, &total, &totalFree)) return 0;
        *freeKB = Disk_BytesToKB(available.QuadPart);
        Log_Print("Free Space Ex : %dk %dk %dk\n", (int)*freeKB,
                  (int)Disk_BytesToKB(total.QuadPart), (int)Disk_BytesToKB(totalFree.QuadPart));
        return 1;
    }
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters))
        return 0;
    // In 64 bits: the product wraps in 32 bits from 4 GB free on.
    *freeKB = Disk_BytesToKB((uint64_t)sectorsPerCluster * bytesPerSector * freeClusters);
    Log_Print("Free Space    : %dk %d %d %d %d\n", (int)*freeKB, (int)sectorsPerCluster,
              (int)bytesPerSector, (int)freeClusters, (int)totalClusters);
    return 1;
}

int Disk_FreeKB(int32_t *freeKB, const char *path) {
    CORE_GUARD(freeKB);
    CORE_GUARD(path);
    *freeKB = 0;
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    if (!kernel) {
        Log_Print("Unable to load library KERNEL32.DLL (0x%.8X)\n", (unsigned)GetLastError());
        return 0;
    }
    if ((uintptr_t)kernel < 32) {
        Log_Print("Failed to load KERNEL32.DLL (0x%.8X)\n", (unsigned)GetLastError());
        FreeLibrary(kernel);
        return 0;
    }
    // The root is copied, so the caller's path is never written; a path that does not begin
    // with a drive root ("C:\") names no drive that can be measured.
    int result = 0;
    if (PathText_StartsWithDrive(path) && path[2] == '\\') {
        char root[4] = {path[0], ':', '\\', 0};
        result = QueryFreeKB(kernel, root, freeKB);
    }
    FreeLibrary(kernel);
    return result;
}

static void ShowFigure(void *dialog, int item, int32_t kb) {
    char text[NUM_GROUP_SIZE + 1];
    Num_Group(kb, text);
    Str_Append(text, "k");
    Dlg_SetEditText(dialog, item, text, DIRDLG_FIGURE_LIMIT);
}

int DirDlg_ShowSpace(void *dialog, const char *path, int32_t sizeKB) {
    CORE_GUARD(path);
    ShowFigure(dialog, DIRDLG_USED, sizeKB);
    int32_t freeKB;
    if (!Disk_FreeKB(&freeKB, path)) {
        Dlg_SetEditText(dialog, DIRDLG_FREE_BEFORE, "n/a", DIRDLG_FIGURE_LIMIT);
        Dlg_SetEditText(dialog, DIRDLG_FREE_AFTER, "n/a", DIRDLG_FIGURE_LIMIT);
        return 0;
    }
    ShowFigure(dialog, DIRDLG_FREE_BEFORE, freeKB);
    if (freeKB < sizeKB)
        Dlg_SetEditText(dialog, DIRDLG_FREE_AFTER, "Not enough space", DIRDLG_FIGURE_LIMIT);
    else
        ShowFigure(dialog, DIRDLG_FREE_AFTER, ClampKB((int64_t)freeKB - sizeKB)); // sizeKB < 0
    return 1;
}

static InstallState *DialogState(HWND dialog) {
    return (InstallState *)GetWindowLongPtrA(dialog, DWLP_USER);
}

static void InitDirDialog(HWND dialog, InstallState *state) {
    SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)state);
    Ui_SetOwner(dialog); // its boxes keep the dialog from being used while they are open
    SetWindowTextA(dialog, DIRDLG_TITLE);
    char proposed[PATH_EXPAND_SIZE];
    uint32_t flags;
    Path_Expand(state, state->InstallDir, proposed, &flags); // refused: the control stays empty
    if (state->RegistryPath[0]) {
        SysKey key;
        if (Reg_OpenKey(&key, REG_ROOT_USER, state->RegistryPath)) {
            char remembered[PATH_EXPAND_SIZE];
            if (Reg_GetString(key, INSTALL_PATH_VALUE, remembered, sizeof remembered) &&
                remembered[0])
                Str_Copy(proposed, remembered);
            Reg_CloseKey(&key);
        } else {
            Log_Print("Unable to open '%s'\n", state->RegistryPath);
        }
    }
    if (D.folder[0]) Str_Copy(proposed, D.folder); // the command line's folder wins
    Dlg_SetEditText(dialog, DIRDLG_PATH, proposed, DIRDLG_EDIT_LIMIT);
    SetDlgItemTextA(dialog, DIRDLG_PROMPT, state->Caption);
    DirDlg_ShowSpace(dialog, proposed, state->InstallSizeKB);
    Wnd_Center(dialog, NULL);
}

// "Continue": the typed path, checked anew; the dialog ends only when it passes.
static void AcceptPath(HWND dialog, InstallState *state) {
    char path[DIRDLG_EDIT_LIMIT + 2]; // the whole control and a backslash
    Dlg_GetText(dialog, DIRDLG_PATH, path, DIRDLG_EDIT_LIMIT + 1);
    Path_Normalize(path, 1);
    // Refused, never cut: InstallPath holds 159 characters.
    if (Str_Length(path) >= (int)sizeof state->InstallPath) {
        Ui_Problem(TOO_LONG, NULL);
        return;
    }
    int32_t freeKB;
    if (!Disk_FreeKB(&freeKB, path)) {
        Ui_Problem(NO_DRIVE, NULL);
        return;
    }
    if (freeKB < state->InstallSizeKB) {
        Ui_Problem(NO_ROOM, NULL);
        return;
    }
    char question[DIRDLG_QUESTION_SIZE];
    Str_Format(question, sizeof question, "Install %s into %s?", state->ProductName, path);
    if (!Ui_Confirm(question, DIRDLG_TITLE)) return;
    Str_Copy(state->InstallPath, path);
    SendMessageA(dialog, WM_CLOSE, 0, 1);
}

static void BrowseForPath(HWND dialog, InstallState *state) {
    char picked[PATH_EXPAND_SIZE] = ""; // empty: the tree starts at the desktop
    if (!Sys_BrowseFolder(dialog, state->Caption, picked, state->InstallDir)) {
        Log_Print("Canceled Path selection\n");
        return;
    }
    // Refused, never cut: the merged path must fit InstallPath.
    if (!PathText_MergeFolder(picked, sizeof state->InstallPath, state->InstallDir)) {
        Ui_Problem(TOO_LONG, NULL);
        return;
    }
    Dlg_SetEditText(dialog, DIRDLG_PATH, picked, DIRDLG_EDIT_LIMIT);
    DirDlg_ShowSpace(dialog, picked, state->InstallSizeKB);
    Str_Copy(state->InstallPath, picked);
}

static INT_PTR CALLBACK DirDlg_Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        InitDirDialog(dialog, (InstallState *)lparam);
        return TRUE; // the system gives the focus to the path control
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            AcceptPath(dialog, DialogState(dialog));
            return TRUE;
        case IDCANCEL:
            SendMessageA(dialog, WM_CLOSE, 0, 0);
            return TRUE;
        case DIRDLG_BROWSE:
            BrowseForPath(dialog, DialogState(dialog));
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE: // its parameter carries the result: 1 accepted, 0 left
        EndDialog(dialog, LOWORD(lparam));
        return TRUE;
    }
    return FALSE;
}

int DirDlg_Run(InstallState *state) {
    CORE_GUARD(state);
    void *owner = Ui_GetOwner();
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(DIRDLG_TEMPLATE),
                                     (HWND)state->Window, DirDlg_Proc, (LPARAM)state);
    Ui_SetOwner(owner);
    if (result == -1) {
        Log_Print("Unable to show the installation directory dialog (0x%.8X)\n",
                  (unsigned)GetLastError());
        return 0;
    }
    return result == 1;
}

// Stores path as InstallPath when it fits with its trailing backslash; refused otherwise.
static int StoreInstallPath(InstallState *state, const char *path) {
    char stored[PATH_EXPAND_SIZE + 1];
    Str_Format(stored, sizeof stored, "%s", path);
    Path_Normalize(stored, 1);
    int length = Str_Length(stored);
    if (length >= (int)sizeof state->InstallPath) {
        Log_Print("Install path '%s' too long (%d > %d)\n", stored, length,
                  (int)sizeof state->InstallPath - 1);
        return 0;
    }
    Str_Copy(state->InstallPath, stored);
    return 1;
}

int DirDlg_Choose(InstallState *state) {
    CORE_GUARD(state);
    char path[PATH_EXPAND_SIZE];
    uint32_t flags;
    if (!Path_Expand(state, "$0", path, &flags) || !StoreInstallPath(state, path)) return 0;
    if (state->Mode != Quiet) {
        int result = DirDlg_Run(state);
        state->Caption[0] = 0;
        return result;
    }
    if (!Path_Expand(state, state->InstallDir, path, &flags) || !StoreInstallPath(state, path))
        return 0;
    SysKey key;
    if (state->RegistryPath[0] && Reg_OpenKey(&key, REG_ROOT_USER, state->RegistryPath)) {
        // A remembered directory wins; a missing one leaves InstallPath as it is.
        char remembered[PATH_EXPAND_SIZE];
        if (Reg_GetString(key, INSTALL_PATH_VALUE, remembered, sizeof remembered) && remembered[0])
            StoreInstallPath(state, remembered); // refused when too long: InstallPath stays
        Reg_CloseKey(&key);
    }
    if (D.folder[0]) {
        Str_Copy(state->InstallPath, D.folder); // the command line's folder wins
        Log_Print("Install Path from the command line: %s\n", state->InstallPath);
    }
    return 1;
}

int DirDlg_SetFolder(const char *folder) {
    CORE_GUARD(folder);
    char stored[PATH_EXPAND_SIZE + 1];
    if (Str_Format(stored, sizeof stored, "%s", folder) < 0) return 0;
    Path_Normalize(stored, 1);
    // Refused, never cut: a cut folder is another folder.
    if (Str_Length(stored) >= (int)sizeof D.folder) return 0;
    Str_Copy(D.folder, stored);
    return 1;
}
