// Dialogs and actions of the setup program that reach the system: the temporary fonts of the
// backdrop, taken from the archive, added for the length of the run and removed with their
// files at its end; the text dialogs (welcome message, licence agreement) and the progress
// window; the path macros, the free space of a drive and the installation-directory dialog;
// the file installation (INSTALL, the uninstaller, writing files and creating directories);
// starting programs, registering COM servers and closing the windows of running programs; the
// program group with its shortcuts, and the uninstall entry.
#include <windows.h>
#include <shlobj.h>

#include <stdio.h>
#include <string.h>

#include "dialogs.h"
#include "ffs.h"
#include "fileinstall.h"
#include "fonts.h"
#include "installdir.h"
#include "programs.h"
#include "shortcuts.h"
#include "tessel-core.h"
#include "tessel-sys.h"
#include "ui.h"
#include "uninst.h"
#include "uninstreg.h"

static struct {
    int fontsUnavailable; // the system refused a font: nothing is removed from then on
} D;

int Font_AddTemporary(const char *path) {
    CORE_GUARD(path);
    if (Font_Add(path)) return 1;
    DWORD error = GetLastError();
    Ui_Problem("The Windows font folder appears to be corrupt, install will continue with "
               "limited graphics...",
               NULL);
    Log_Print("Unable to add font resource for '%s' (0x%.8X)\n", path, (unsigned)error);
    D.fontsUnavailable = 1;
    return 1;
}

int Font_RemoveTemporary(const char *path) {
    CORE_GUARD(path);
    if (D.fontsUnavailable) return 1;
    if (!Font_Remove(path)) return 0;
    if (!DeleteFileA(path)) Log_Print("Non-fatal unable to delete file '%s'\n", path);
    return 1;
}

int Font_Unavailable(void) { return D.fontsUnavailable; }

// ---- Backdrop fonts from the archive ----

// Saves the buffer under the temporary directory and adds it as a font. 0 when it cannot be
// saved (logged).
static int SaveFont(const char *name, const void *data, int32_t size) {
    char folder[FONT_PATH_SIZE], path[FONT_PATH_SIZE] = "";
    // Refused: a cut path is another file, and the one Script_Release would remove.
    if (!Path_TempDir(folder, sizeof folder) ||
        Str_Format(path, sizeof path, "%s%s", folder, name) < 0 ||
        !File_WriteAll(path, data, size)) {
        Log_Print("Unable to save '%s'\n", path);
        return 0;
    }
    return Font_AddTemporary(path);
}

int Font_Extract(const char *name) {
    CORE_GUARD(name);
    int32_t size = 0;
    if (!Ffs_GetSize(name, &size) || size <= 0) {
        Log_Print("Unable to get size for '%s'\n", name);
        return 0;
    }
    void *buffer = TESSEL_ALLOC(size);
    int saved = 0;
    if (!Ffs_Load(name, buffer, size))
        Log_Print("Unable to load '%s'\n", name);
    else
        saved = SaveFont(name, buffer, size);
    TESSEL_FREE(buffer, size);
    return saved;
}

// ---- Text dialogs and the progress window ----

enum {
    TEXT_LIMIT_EXTRA = 10,        // the field takes this many characters beyond the file
    TEXT_SIZE_LIMIT = 0x7FFFFFF0, // larger sizes would overflow the buffer and the limit
};

static struct {
    HWND progress; // the progress window, null while there is none
} P;

// A byte below 32 as an unsigned number, the zero that ends the text excepted; letters of
// 0x80 and above count as printable, so that joining never drops them.
static int IsLineBreakByte(char c) { return c != 0 && (unsigned char)c < 32; }
static int IsPrintableByte(char c) { return (unsigned char)c >= 32; }

int Text_JoinLines(char *text) {
    CORE_GUARD(text);
    const char *read = text;
    char *write = text;
    // Each look ahead stops at the zero: nothing past the text is ever read.
    while (*read) {
        char c = *read++;
        *write++ = c;
        if (IsPrintableByte(c) && IsLineBreakByte(read[0]) && IsLineBreakByte(read[1]) &&
            IsPrintableByte(read[2])) {
            *write++ = ' ';
            read += 2;
        }
    }
    *write = 0;
    return 1;
}

static INT_PTR CALLBACK TextDlgThunk(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return TextDlg_Proc(dialog, message, wparam, lparam);
}

intptr_t TextDlg_Proc(SysWindow dialog, unsigned message, uintptr_t wparam, intptr_t lparam) {
    switch (message) {
    case WM_INITDIALOG: {
        const TextDialogParam *param = (const TextDialogParam *)lparam;
        CORE_GUARD(param);
        SetWindowTextA((HWND)dialog, param->Caption);
        Dlg_SetEditText(dialog, param->Control, param->Text, param->Size + TEXT_LIMIT_EXTRA);
        Wnd_Center(dialog, NULL);
        return 0; // the system leaves the keyboard focus alone
    }
    case WM_COMMAND:
        // Escape arrives as the command of button 2 (IDCANCEL).
        if (LOWORD(wparam) == TEXTDLG_BUTTON_GO_ON)
            SendMessageA((HWND)dialog, WM_CLOSE, 1, 1);
        else if (LOWORD(wparam) == TEXTDLG_BUTTON_LEAVE)
            SendMessageA((HWND)dialog, WM_CLOSE, 2, 0);
        else
            return 0;
        return 1;
    case WM_CLOSE: // from the buttons, or the system's close request with result 0
        EndDialog((HWND)dialog, LOWORD(lparam));
        return 1;
    default:
        return 0;
    }
}

// Loads the text, runs the dialog and releases the text; the dialog's 1, or 0.
static int ShowTextDialog(void *owner, const char *caption, const char *name, int templateId,
                          int control) {
    CORE_GUARD(caption);
    CORE_GUARD(name);
    TextDialogParam param;
    ZeroMemory(&param, sizeof param);
    int32_t size = 0;
    if (!Ffs_GetSize(name, &size)) {
        Log_Print("Unable to get size for '%s'\n", name);
        return 0;
    }
    if (size < 0 || size > TEXT_SIZE_LIMIT) { // a damaged entry's size
        Log_Print("Unable to load '%s'\n", name);
        return 0;
    }
    int32_t bufferSize = size + 2;
    char *text = (char *)TESSEL_ALLOC(bufferSize);
    if (!Ffs_Load(name, text, size)) {
        Log_Print("Unable to load '%s'\n", name);
        TESSEL_FREE(text, bufferSize);
        return 0;
    }
    text[size] = 0;
    Text_JoinLines(text);
    Str_Format(param.Caption, sizeof param.Caption, "%s", caption); // cut: only a title
    param.Text = text;
    param.Size = size;
    param.Control = control;
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(templateId),
                                     (HWND)owner, TextDlgThunk, (LPARAM)&param);
    TESSEL_FREE(text, bufferSize);
    // A dialog that could not be shown was not answered: it must not count as accepted.
    if (result == -1) Log_Print("Unable to show dialog %d\n", templateId);
    return result == 1;
}

int TextDlg_Message(void *owner, const char *caption, const char *name) {
    return ShowTextDialog(owner, caption, name, TEXTDLG_MESSAGE_ID, TEXTDLG_MESSAGE_TEXT);
}

int TextDlg_Agreement(void *owner, const char *caption, const char *name) {
    return ShowTextDialog(owner, caption, name, TEXTDLG_AGREEMENT_ID, TEXTDLG_AGREEMENT_TEXT);
}

static INT_PTR CALLBACK ProgressThunk(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return Progress_Proc(dialog, message, wparam, lparam);
}

intptr_t Progress_Proc(SysWindow dialog, unsigned message, uintptr_t wparam, intptr_t lparam) {
    (void)wparam;
    switch (message) {
    case WM_INITDIALOG:
        Dlg_ProgressReset(dialog, PROGRESS_BAR_ID);
        SetForegroundWindow((HWND)dialog);
        return 1;
    case WM_CLOSE:
        EndDialog((HWND)dialog, LOWORD(lparam));
        return 1;
    case WM_NCDESTROY:
        // Destroyed with its owner, too: the handle is forgotten, never reused. Not handled.
        if ((HWND)dialog == P.progress) P.progress = NULL;
        return 0;
    default:
        return 0;
    }
}

int Progress_Create(void *instance, void *parent) {
    Progress_Destroy();
    HINSTANCE module = instance ? (HINSTANCE)instance : GetModuleHandleA(NULL);
    P.progress = CreateDialogParamA(module, MAKEINTRESOURCEA(PROGRESS_DIALOG_ID), (HWND)parent,
                                    ProgressThunk, 0);
    if (!P.progress) {
        Log_Print("Unable to create the progress window\n");
        return 0;
    }
    Progress_Show(0);
    return 1;
}

// ShowWindowAsync hands the request to the window's thread without waiting for it.
int Progress_Show(int show) {
    if (!P.progress) return 1;
    if (show == 1) {
        Wnd_Center(P.progress, GetParent(P.progress)); // a pop-up's parent is its owner
        ShowWindowAsync(P.progress, SW_SHOW);
    } else {
        ShowWindowAsync(P.progress, SW_HIDE);
    }
    return 1;
}

int Progress_Set(double percent) {
    if (!P.progress) return 1;
    Dlg_ProgressSet(P.progress, PROGRESS_BAR_ID, percent);
    Sys_PumpMessages(); // the windows repaint while INSTALL works
    return 1;
}

int Progress_Destroy(void) {
    if (P.progress) DestroyWindow(P.progress);
    P.progress = NULL;
    return 1;
}

void *Progress_Window(void) { return P.progress; }

// ---- Path macros, free space and the installation-directory dialog ----

static const char DIRDLG_TITLE[] = "Installation Directory...";
static const char NO_DRIVE[] = "The drive you have selected cannot be located.";
static const char NO_ROOM[] = "The drive you have selected does not have enough free space.";
static const char TOO_LONG[] = "The path you have selected is too long.";

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

// Acts on one macro letter; 0 when its directory cannot be had.
static int ExpandMacro(char letter, char *built, int size, uint32_t *flags) {
    for (const auto &macro : MACRO_DIRS)
        if (macro.letter == letter) return macro.query(built, size);
    if (letter == '?')
        *flags |= PATH_FLAG_CONFIRM;
    else if (letter != '6') // "$6" is accepted and does nothing
        Log_Print("Unknown command '%c'\n", letter);
    return 1;
}

// "C:..." names its drive itself; appended to InstallPath it would name no folder at all.
static int StartsWithDrive(const char *path) {
    char letter = (char)(path[0] | 0x20);
    return letter >= 'a' && letter <= 'z' && path[1] == ':';
}

int Path_Expand(const InstallState *state, const char *input, char *output, int size,
                uint32_t *flags) {
    CORE_GUARD(state);
    CORE_GUARD(input);
    CORE_GUARD(output);
    CORE_GUARD(flags);
    *flags = 0;
    if (size < 1) return 0;
    output[0] = 0;
    char built[PATH_EXPAND_SIZE];
    Str_Format(built, sizeof built, "%s", StartsWithDrive(input) ? "" : state->InstallPath);
    const char *rest = input;
    // Macros in consecutive pairs at the start; a "$" with nothing after it is plain text.
    while (rest[0] == '$' && rest[1]) {
        if (!ExpandMacro(rest[1], built, sizeof built, flags)) {
            Log_Print("Unable to get the directory of '$%c'\n", rest[1]);
            return 0;
        }
        rest += 2;
    }
    if (rest[0] == '\\') rest++;
    // Refused, never cut: a cut path names another file.
    int length = Str_Length(built) + Str_Length(rest);
    if (length >= size) {
        Log_Print("Path '%s' too long (%d > %d)\n", input, length, size - 1);
        return 0;
    }
    Str_Format(output, size, "%s%s", built, rest);
    return 1;
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
    if (StartsWithDrive(path) && path[2] == '\\') {
        char root[4] = {path[0], ':', '\\', 0};
        result = QueryFreeKB(kernel, root, freeKB);
    }
    FreeLibrary(kernel);
    return result;
}

int Num_Group(int32_t value, char *output) {
    CORE_GUARD(output);
    char digits[NUM_GROUP_SIZE];
    Str_Format(digits, sizeof digits, "%d", (int)value);
    const char *start = digits[0] == '-' ? digits + 1 : digits; // the sign is not a digit
    int count = Str_Length(start);
    char *out = output;
    if (start != digits) *out++ = '-';
    for (int i = 0; i < count; i++) {
        if (i > 0 && (count - i) % 3 == 0) *out++ = ',';
        *out++ = start[i];
    }
    *out = 0;
    return 1;
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

int DirDlg_MergeFolder(char *picked, int size, const char *installDir) {
    CORE_GUARD(picked);
    CORE_GUARD(installDir);
    int pickedLength = Str_Length(picked);
    int dirLength = Str_Length(installDir);
    if (dirLength == 0) return 1;
    if (pickedLength > dirLength &&
        Str_EqualNoCaseN(picked + pickedLength - dirLength, installDir, dirLength))
        return 1; // already names the installation directory
    // The trailing folders of picked that are the start of installDir are dropped.
    int cut = -1;
    for (int i = pickedLength - 2; i >= 0; i--) {
        if (picked[i] != '\\') continue;
        int restLength = pickedLength - (i + 1);
        if (restLength > dirLength || !Str_EqualNoCaseN(picked + i + 1, installDir, restLength))
            break;
        cut = i + 1;
    }
    int keep = cut >= 0 ? cut : pickedLength;
    if (keep + dirLength >= size) return 0; // refused: a cut path names another folder
    picked[keep] = 0;
    Str_Append(picked, installDir);
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
            if (Reg_GetString(key, "Install Path", remembered, sizeof remembered) && remembered[0])
                Str_Copy(proposed, remembered);
            Reg_CloseKey(&key);
        } else {
            Log_Print("Unable to open '%s'\n", state->RegistryPath);
        }
    }
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
    if (!DirDlg_MergeFolder(picked, sizeof state->InstallPath, state->InstallDir)) {
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
        if (Reg_GetString(key, "Install Path", remembered, sizeof remembered) && remembered[0])
            StoreInstallPath(state, remembered); // refused when too long: InstallPath stays
        Reg_CloseKey(&key);
    }
    return 1;
}

// ---- File installation ----

static const char OVERWRITE_TITLE[] = "Overwrite confirmation...";

enum {
    // Room for the longest archive name or target path with the words around it: the user is
    // told which file, never part of its name.
    INSTALL_QUESTION_SIZE = INSTALL_ITEM_SIZE + 40,
    INSTALL_PROBLEM_SIZE = INSTALL_TARGET_SIZE + 40,
};

int Dir_CreatePath(char *path) {
    CORE_GUARD(path);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return 1;
    }
    // The parent first, so that the levels are made from the outermost missing one inwards; a
    // trailing backslash makes the path itself the first "parent".
    char *last = strrchr(path, '\\');
    if (last && last > path) {
        *last = 0;
        Dir_CreatePath(path);
        *last = '\\';
    }
    CreateDirectoryA(path, NULL); // an existing or impossible directory shows at the open
    return 1;
}

// Creates every missing level of the directory part of path: up to and with its last separator
// ("" without one). 0 when path does not fit the work copy.
static int CreateParents(const char *path) {
    char directory[INSTALL_TARGET_SIZE];
    // Refused, never cut: a cut path would create other directories.
    if (Str_Length(path) >= (int)sizeof directory) return 0;
    Str_Copy(directory, path);
    int cut = 0;
    for (int i = Str_Length(directory) - 1; i > 0; i--) {
        if (directory[i] == '\\' || directory[i] == '/') {
            cut = i + 1;
            break;
        }
    }
    directory[cut] = 0;
    return Dir_CreatePath(directory);
}

int File_WriteAll(const char *path, const void *data, int32_t count) {
    CORE_GUARD(path);
    CORE_GUARD(data);
    FILE *file = fopen(path, "wb");
    if (!file && CreateParents(path)) file = fopen(path, "wb");
    if (!file) {
        Log_Print("Unable to create file '%s'\n", path);
        return 0;
    }
    // A negative count is a failed write.
    size_t written = count > 0 ? fwrite(data, 1, (size_t)count, file) : 0;
    // The close writes what the stream still holds: a failed close is a failed write.
    int closed = fclose(file) == 0;
    if (written != (size_t)count || !closed) {
        Log_Print("Unable to write to file '%s'\n", path);
        DeleteFileA(path); // a cut file must not pass for an installed one
        return 0;
    }
    return 1;
}

// Opens subkey of the root when it exists and creates it otherwise; a key that can be neither
// ends the run.
static void OpenOrCreateKey(SysKey *key, int rootCode, const char *subkey) {
    if (Reg_KeyExists(rootCode, subkey)) {
        if (!Reg_OpenKey(key, rootCode, subkey)) {
            Core_Locate(__FILE__, __LINE__);
            Core_Abort("Unable to open key '%s'\n", subkey);
        }
    } else if (!Reg_CreateKey(key, rootCode, subkey)) {
        Core_Locate(__FILE__, __LINE__);
        Core_Abort("Unable to create key '%s'\n", subkey);
    }
}

// Writes InstallPath as "Install Path" under HKEY_CURRENT_USER\RegistryPath.
static void RememberInstallPath(const InstallState *state) {
    if (!state->RegistryPath[0]) return;
    SysKey key;
    OpenOrCreateKey(&key, REG_ROOT_USER, state->RegistryPath);
    Reg_SetString(key, "Install Path", state->InstallPath); // a refusal is logged
    Reg_CloseKey(&key);
}

// The bar at kb of InstallSizeKB; left alone without a positive size.
static void ShowInstalled(const InstallState *state, int32_t kb) {
    if (state->InstallSizeKB > 0) Progress_Set((double)kb / state->InstallSizeKB * 100.0);
}

// The entry name in a new zero-filled block of its size and extra bytes more (*allocated
// bytes: at least 1, the memory manager takes no empty block, so an empty entry becomes an
// empty file). Null with the log line when it is missing, damaged or unreadable.
static uint8_t *LoadEntry(const char *name, int32_t extra, int32_t *size, int32_t *allocated) {
    if (!Ffs_GetSize(name, size)) {
        Log_Print("Unable to get size for '%s'\n", name);
        return NULL;
    }
    if (*size < 0 || *size > INT32_MAX - extra) { // a damaged entry's size
        Log_Print("Unable to load '%s'\n", name);
        return NULL;
    }
    *allocated = *size + extra > 0 ? *size + extra : 1;
    uint8_t *data = (uint8_t *)TESSEL_ALLOC(*allocated);
    if (!Ffs_Load(name, data, *size)) {
        Log_Print("Unable to load '%s'\n", name);
        TESSEL_FREE(data, *allocated);
        return NULL;
    }
    return data;
}

// Hides the progress window and shows which file could not be written (in quiet mode too).
static void ReportUnwritten(const char *target) {
    Progress_Show(0);
    char problem[INSTALL_PROBLEM_SIZE];
    Str_Format(problem, sizeof problem, "Unable to create file '%s'", target);
    Ui_Problem(problem, NULL);
}

// 1 when the existing target of a "$?" item stays: skipped in quiet mode, or the user says No.
static int KeepExisting(const InstallState *state, const char *name, const char *target,
                        uint32_t flags) {
    if (!(flags & PATH_FLAG_CONFIRM)) return 0;
    FILE *existing = fopen(target, "rb");
    if (!existing) return 0;
    fclose(existing);
    if (state->Mode == Quiet) return 1;
    char question[INSTALL_QUESTION_SIZE];
    Str_Format(question, sizeof question, "File '%s' already exists - overwrite?", name);
    return !Ui_Confirm(question, OVERWRITE_TITLE);
}

// Writes one list item to its place; *kb grows by its size in whole KB, also when it is
// skipped. 0 at a failure, logged (and shown when the file cannot be written).
static int InstallItem(const InstallState *state, const char *item, int32_t *kb) {
    const char *name = Install_ArchiveName(item);
    int32_t size = 0, allocated = 0;
    uint8_t *data = LoadEntry(name, 0, &size, &allocated);
    if (!data) return 0;
    ShowInstalled(state, *kb + (size >> 11)); // half of this file
    char target[INSTALL_TARGET_SIZE];
    uint32_t flags = 0;
    int result = Path_Expand(state, item, target, &flags); // refused when too long: logged
    if (result) {
        Log_Print("%s to %s [0x%.8X]\n", name, target, (unsigned)flags);
        if (!KeepExisting(state, name, target, flags) && !File_WriteAll(target, data, size)) {
            ReportUnwritten(target);
            result = 0;
        }
    }
    TESSEL_FREE(data, allocated);
    *kb += size >> 10;
    return result;
}

// The entry "uninst.exe" with the scrambled script behind it, written to UninstallName; no
// question about an existing file. 0 at a failure, as for a list item.
static int WriteUninstaller(const InstallState *state) {
    int32_t size = 0, allocated = 0;
    uint8_t *file =
        LoadEntry(UNINST_ENTRY, state->ScriptSize + UNINST_EXTRA_SIZE, &size, &allocated);
    if (!file) return 0;
    char target[INSTALL_TARGET_SIZE];
    uint32_t flags = 0;
    int result = Path_Expand(state, state->UninstallName, target, &flags);
    if (result) {
        Uninst_AppendScript(file, size, state->ScriptText, state->ScriptSize);
        result = File_WriteAll(target, file, allocated);
        if (!result) ReportUnwritten(target);
    }
    TESSEL_FREE(file, allocated);
    return result;
}

int Install_Files(InstallState *state) {
    CORE_GUARD(state);
    Progress_Show(1);
    RememberInstallPath(state);
    int32_t kb = 0; // whole KB processed, written or skipped
    int32_t cursor = 0;
    for (int32_t i = 0; i < state->FileCount; i++) {
        ShowInstalled(state, kb);
        char item[INSTALL_ITEM_SIZE];
        if (!Install_NextItem(state->FileList, &cursor, item, sizeof item)) return 0;
        if (!InstallItem(state, item, &kb)) return 0;
    }
    if (state->UninstallName[0] && !WriteUninstaller(state)) return 0;
    Progress_Show(0);
    return 1;
}


// ---- Other programs: starting them, COM servers, closing windows ----

enum {
    PROC_WAIT_SLICE = 500,     // milliseconds of waiting between two message pumps
    WND_CAPTION_SIZE = 32,     // "Attempt #10"
};

int Proc_Run(const char *file, const char *parameters, int wait, int32_t *exitCode) {
    CORE_GUARD(file);
    CORE_GUARD(parameters);
    CORE_GUARD(exitCode);
    *exitCode = 0;
    SHELLEXECUTEINFOA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = "open";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWDEFAULT;
    if (!ShellExecuteExA(&info)) {
        Log_Print("Unable to execute '%s' '%s' 0x%.8X\n", file, parameters,
                  (unsigned)GetLastError());
        return 1;
    }
    // A document opened by a program that was running already comes without a process.
    if (!info.hProcess) return 1;
    if (wait == 1) {
        do {
            Sys_PumpMessages();
        } while (WaitForSingleObject(info.hProcess, PROC_WAIT_SLICE) == WAIT_TIMEOUT);
        DWORD code = 0;
        if (GetExitCodeProcess(info.hProcess, &code)) {
            *exitCode = (int32_t)code;
        } else {
            DWORD error = GetLastError();
            Log_Print("Failed to get exit code (%d) (0x%.8X)\n", (int)error, (unsigned)error);
        }
    }
    CloseHandle(info.hProcess);
    return 1;
}

typedef HRESULT(STDAPICALLTYPE *ServerEntry)(void);

int Ole_Register(const char *path, int reg) {
    CORE_GUARD(path);
    HMODULE server = LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!server) {
        Log_Print("Error attempting to load '%s' (0x%.8X)\n", path, (unsigned)GetLastError());
        return 0;
    }
    int result = 0;
    if ((uintptr_t)server < 32) {
        Log_Print("Failed to load '%s' (0x%.8X)\n", path, (unsigned)GetLastError());
    } else {
        ServerEntry entry = (ServerEntry)(void *)GetProcAddress(
            server, reg == 1 ? "DllRegisterServer" : "DllUnregisterServer");
        if (!entry)
            Log_Print("Couldn't get entry point from '%s'\n", path);
        else if (FAILED(entry()))
            Log_Print("Failed in executing entry point from '%s'\n", path);
        else
            result = 1;
    }
    FreeLibrary(server);
    return result;
}

// Reads a name of the window (GetClassNameA or GetWindowTextA) to WND_NAME_LIMIT - 1
// characters. 0 for a name that cannot be read or is empty, -1 for one that fills the limit
// (it may have been cut, so it equals nothing), else 1.
static int ReadWindowName(HWND window, int title, char *name) {
    int length = title ? GetWindowTextA(window, name, WND_NAME_LIMIT)
                       : GetClassNameA(window, name, WND_NAME_LIMIT);
    if (length <= 0) {
        name[0] = 0;
        return 0;
    }
    return length >= WND_NAME_LIMIT - 1 ? -1 : 1;
}

// One test of a window name against the wanted one: 0 when they differ (the window is no
// match), 1 when they agree, 2 when no test could be made.
static int CompareWindowName(HWND window, int title, const char *wanted, int mode) {
    if (!wanted[0]) return 2;
    char name[WND_NAME_SIZE];
    int read = ReadWindowName(window, title, name);
    if (read == 0) return 2;
    Log_Print(title ? "Window CmpName %d: [%s / %s]\n" : "Window CmpClass %d: [%s / %s]\n",
              (int)mode, name, wanted);
    return read == 1 && Str_EqualNoCase(name, wanted);
}

int Wnd_MatchProc(SysWindow window, WindowSearch *search) {
    CORE_GUARD(search);
    HWND handle = (HWND)window;
    if (!IsWindow(handle)) return 1;
    int classTest = CompareWindowName(handle, 0, search->Class, search->Mode);
    if (classTest == 0) return 1;
    int titleTest = CompareWindowName(handle, 1, search->Title, search->Mode);
    if (titleTest == 0) return 1;
    if (classTest == 2 && titleTest == 2) return 1; // nothing could be tested
    Log_Print("Window Match %d: [%s / %s]\n", (int)search->Mode, search->Title, search->Class);
    search->Matches++;
    switch (search->Mode) {
    case WND_CLOSE_SILENT:
        SendMessageA(handle, WM_CLOSE, 0, 0);
        return 1;
    case WND_CLOSE_TELL:
        Ui_Problem(search->Prompt, NULL);
        return 0;
    case WND_CLOSE_ASK: {
        char caption[WND_CAPTION_SIZE];
        Str_Format(caption, sizeof caption, "Attempt #%d", (int)search->Attempt + 1);
        Log_Print("Prompt [%s] [%s]\n", search->Prompt, caption);
        if (!Ui_Confirm(search->Prompt, caption)) {
            search->Cancelled = 1;
            return 0;
        }
        Log_Print("Prompt True\n");
        SendMessageA(handle, WM_CLOSE, 0, 0);
        return 1;
    }
    default:
        return 1;
    }
}

static BOOL CALLBACK MatchThunk(HWND window, LPARAM search) {
    return Wnd_MatchProc(window, (WindowSearch *)search) ? TRUE : FALSE;
}

int Wnd_CloseMatching(InstallState *state, int mode, int32_t budget, const char *title,
                      const char *windowClass, const char *relaunch, const char *prompt) {
    CORE_GUARD(state);
    CORE_GUARD(title);
    CORE_GUARD(windowClass);
    CORE_GUARD(relaunch);
    CORE_GUARD(prompt);
    if (budget < WND_MIN_BUDGET) budget = WND_MIN_BUDGET;
    Log_Print("Find [%d] Windows = '%s' / '%s' [%s]\n", mode, title, windowClass, relaunch);
    // Refused, never cut: a cut name would match the windows of another program.
    int longest = Str_Length(title) > Str_Length(windowClass) ? Str_Length(title)
                                                              : Str_Length(windowClass);
    if (longest >= WND_NAME_SIZE) {
        Log_Print("Window name too long (%d > %d)\n", longest, WND_NAME_SIZE - 1);
        state->RelaunchPath[0] = 0;
        return 0;
    }
    DWORD pause = (DWORD)(budget / WND_ATTEMPTS);
    if (pause < WND_MIN_PAUSE) pause = WND_MIN_PAUSE;
    WindowSearch search;
    for (int attempt = 0; attempt < WND_ATTEMPTS; attempt++) {
        ZeroMemory(&search, sizeof search);
        Str_Format(search.Prompt, sizeof search.Prompt, "%s", prompt); // cut: only shown
        Str_Copy(search.Class, windowClass);
        Str_Copy(search.Title, title);
        search.Mode = mode;
        search.Attempt = attempt;
        EnumWindows(MatchThunk, (LPARAM)&search);
        if (search.Cancelled) break;
        if (search.Matches == 0) {
            if (attempt == 0) state->RelaunchPath[0] = 0; // it was not running
            return 1;
        }
        if (mode == WND_CLOSE_TELL) break;
        if (attempt + 1 < WND_ATTEMPTS) Sleep(pause);
    }
    state->RelaunchPath[0] = 0;
    return 0;
}

// ---- Program group and shortcuts ----

static struct {
    char group[SHELL_GROUP_SIZE]; // the current group as CREATE GROUP gave it; empty at first
} G;

// folder, a backslash, name and suffix into output (SHELL_PATH_SIZE bytes); no backslash when
// nothing follows the folder or it ends with one. Refused, never cut: a cut path names another
// folder or file.
static int JoinPath(char *output, const char *folder, const char *name, const char *suffix) {
    int folderLength = Str_Length(folder);
    int bare = (!name[0] && !suffix[0]) || (folderLength > 0 && folder[folderLength - 1] == '\\');
    const char *separator = bare ? "" : "\\";
    int length = folderLength + Str_Length(separator) + Str_Length(name) + Str_Length(suffix);
    if (length >= SHELL_PATH_SIZE) {
        Log_Print("Path '%s' too long (%d > %d)\n", name, length, SHELL_PATH_SIZE - 1);
        output[0] = 0;
        return 0;
    }
    Str_Format(output, SHELL_PATH_SIZE, "%s%s%s%s", folder, separator, name, suffix);
    return 1;
}

int Shell_ProgramsPath(const char *text, char *output) {
    CORE_GUARD(text);
    CORE_GUARD(output);
    output[0] = 0;
    char folder[MAX_PATH] = "";
    LPITEMIDLIST items = NULL;
    BOOL found = FALSE;
    if (SUCCEEDED(SHGetSpecialFolderLocation(NULL, CSIDL_PROGRAMS, &items)) && items) {
        found = SHGetPathFromIDListA(items, folder);
        CoTaskMemFree(items);
    }
    if (!found) {
        Log_Print("Unable to get the Programs folder\n");
        return 0;
    }
    return JoinPath(output, folder, text, "");
}

int Shell_LinkPath(char *output, const char *itemName) {
    CORE_GUARD(output);
    CORE_GUARD(itemName);
    char folder[SHELL_PATH_SIZE];
    if (!Shell_ProgramsPath(G.group, folder)) {
        output[0] = 0;
        return 0;
    }
    return JoinPath(output, folder, itemName, ".lnk");
}

int Shell_CreateGroup(const char *name) {
    CORE_GUARD(name);
    // Refused, never cut: the items that follow would go into another folder.
    int length = Str_Length(name);
    if (length >= SHELL_GROUP_SIZE) {
        Log_Print("Group name too long (%d > %d)\n", length, SHELL_GROUP_SIZE - 1);
        return 0;
    }
    char folder[SHELL_PATH_SIZE];
    if (!Shell_ProgramsPath(name, folder)) return 0;
    Log_Print("Create Group = '%s'\n", folder);
    Str_Copy(G.group, name);
    Dir_CreatePath(folder); // a folder that cannot be made shows when an item is saved
    return 1;
}

// Sets the shortcut's properties on link and saves it as linkPath.
static void SaveLink(const InstallState *state, IShellLinkA *link, const char *target,
                     const char *arguments, int32_t iconIndex, const char *itemName,
                     const char *linkPath) {
    // The macro alone gives the working directory ("" gives InstallPath); the whole target is
    // expanded as INSTALL expands the paths it writes to, so the shortcut finds the same file.
    char macro[3] = "";
    if (target[0] == '$' && target[1]) {
        macro[0] = target[0];
        macro[1] = target[1];
    }
    char directory[SHELL_PATH_SIZE], path[SHELL_PATH_SIZE];
    uint32_t flags = 0;
    if (!Path_Expand(state, macro, directory, &flags) || !Path_Expand(state, target, path, &flags))
        return; // refused and logged: a cut path would be another program
    link->SetPath(path);
    link->SetArguments(arguments);
    link->SetDescription(itemName);
    link->SetIconLocation(path, (int)iconIndex);
    link->SetWorkingDirectory(directory);
    IPersistFile *file = NULL;
    HRESULT result = link->QueryInterface(IID_IPersistFile, (void **)&file);
    if (FAILED(result) || !file) {
        Log_Print("Couldn't query ShellLink 0x%.8X\n", (unsigned)result);
        return;
    }
    WCHAR wideName[SHELL_PATH_SIZE];
    if (!MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wideName, SHELL_PATH_SIZE) ||
        FAILED(file->Save(wideName, TRUE)))
        Log_Print("Unable to save '%s'\n", linkPath);
    file->Release();
}

int Shell_AddItem(const InstallState *state, const char *target, const char *arguments,
                  int32_t iconIndex, const char *itemName) {
    CORE_GUARD(state);
    CORE_GUARD(target);
    CORE_GUARD(arguments);
    CORE_GUARD(itemName);
    Log_Print("Create Item = '%s' : '%s' ('%s' / '%s')\n", G.group, itemName, target, arguments);
    char linkPath[SHELL_PATH_SIZE];
    if (!Shell_LinkPath(linkPath, itemName)) return 1;
    IShellLinkA *link = NULL;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkA, (void **)&link);
    if (FAILED(result) || !link) {
        Log_Print("Couldn't attach ShellLink 0x%.8X\n", (unsigned)result);
        return 1;
    }
    SaveLink(state, link, target, arguments, iconIndex, itemName, linkPath);
    link->Release();
    return 1;
}

// ---- Uninstall entry ----

static const char UNINSTALL_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

int Uninst_Register(const InstallState *state) {
    CORE_GUARD(state);
    // The display name is the key's last part: company and product joined by one blank.
    char keyName[UNINSTREG_KEY_SIZE];
    int length = Str_Format(keyName, sizeof keyName, "%s%s %s", UNINSTALL_KEY, state->CompanyName,
                            state->ProductName);
    // Refused, never cut: a cut key would be another product's entry. The registry's 8-bit
    // functions take no longer key name, and a key that cannot be made ends the run after
    // everything else was installed.
    if (length < 0 || length > UNINSTREG_KEY_LIMIT) {
        Log_Print("Uninstall key too long for '%s %s'\n", state->CompanyName,
                  state->ProductName);
        return 0;
    }
    char uninstaller[PATH_EXPAND_SIZE];
    uint32_t flags = 0;
    if (!Path_Expand(state, state->UninstallName, uninstaller, &flags)) return 0; // logged
    SysKey key;
    OpenOrCreateKey(&key, REG_ROOT_MACHINE, keyName);
    Reg_SetString(key, "DisplayName", keyName + sizeof UNINSTALL_KEY - 1); // refusals are logged
    Reg_SetString(key, "UninstallString", uninstaller);
    Reg_CloseKey(&key);
    return 1;
}
