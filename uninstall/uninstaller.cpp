// The uninstaller program (win32 tree): reads the script that INSTALL appended to its own file
// and removes what that script installed, in this order: the product's running windows are
// closed, the COM servers unregistered, the listed files deleted (a file in use waits for the
// next restart), the shortcuts and the group folders removed, the folders the files left
// empty, the uninstall entry and the remembered installation folder; last, a copy of the
// program in a fresh temporary folder waits for this process to end and deletes its file.
// Guard rails: an installation folder that is no plain full path, a drive's root or a folder
// of the system (pathguard.h) stops it before anything is removed, and it removes only the
// files of its script's FILE LIST inside their folders, its shortcuts and empty folders. Those
// decisions are the portable removal.h's and uninstrun.h's, on the system's records of actions.
//
//   uninst.exe [-Quiet] [-Log=PATH] [debug-log switches]
//
// The log, with the same switches as the setup's, is "uninstall.log" in the temporary folder
// (the program's own folder is being removed), or the file -Log=PATH names. Exit codes: 1
// removed, 2 stopped (the user said No, or a program could not be closed), 3 damaged (no
// readable script), a refused installation folder, or an internal error.
#include <windows.h>

#include <sddl.h>
#include <shlobj.h>

#include "dialogs.h"
#include "entry.h"
#include "files.h"
#include "installdir.h"
#include "installrecord.h"
#include "pathguard.h"
#include "removal-system.h"
#include "removal.h"
#include "switches.h"
#include "tessel-core.h"
#include "tessel-str.h"
#include "tessel-sys.h"
#include "ui.h"
#include "uninst.h"
#include "uninstall-system.h"
#include "uninstrun.h"
#include "uninstscript.h"

enum {
    UNINSTALL_EXIT_DONE = 1,
    UNINSTALL_EXIT_STOPPED = 2,
    UNINSTALL_EXIT_DAMAGED = 3,
    UNINSTALL_FILE_LIMIT = 64 << 20, // an uninstaller with its script is far smaller
    UNINSTALL_PATH_SIZE = REMOVAL_PATH_SIZE,
    UNINSTALL_REASON_SIZE = 480,                // a refusal's text: the folder and why
    COPY_RANDOM_BYTES = UNINST_COPY_DIGITS / 2, // 128 random bits name the copy's folder
};

// RtlGenRandom of advapi32, the system's random source (its header clashes with state.h's names).
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

static const char DAMAGED[] = "The uninstaller has been damaged.";
static const char COPY_NAME[] = UNINST_COPY_NAME;

static struct {
    InstallState state; // the settings of the script and the installation folder
    char title[INSTALL_TEXT_SIZE + 16];
    InstallRecord record;                 // what INSTALL did with "$?" and shared files
    char recordPath[UNINSTALL_PATH_SIZE]; // its file beside this program
} U;

// Reads the install record beside this program into U.record; without one, or with a damaged
// one, U.record stays empty and says the same as no record: no "$?" file is removed, no shared
// count lowered.
static void LoadRecord(const char *ownPath) {
    if (!Record_PathFor(ownPath, U.recordPath, sizeof U.recordPath)) return;
    uint8_t *text = NULL;
    int32_t size = 0;
    int read = File_ReadAll(U.recordPath, RECORD_LIMIT, &text, &size);
    if (read == 1 && Record_Parse((const char *)text, size, &U.record))
        Log_Print("Install record : %s, %d entries\n", U.recordPath, (int)U.record.Count);
    else if (read != 0)
        Log_Print("The install record '%s' is damaged: no \"$?\" file is removed, no shared "
                  "count lowered\n",
                  U.recordPath);
    if (text) TESSEL_FREE(text, size + 1);
}

// ---- Removing its own file ----

// A new folder for the clean-up copy in the temporary folder, into folder (size bytes, no
// trailing backslash): "tsu-" and 32 hex digits from the system's random source, so that nobody
// can guess it to make or fill it beforehand; made afresh (never one that exists), for the
// system, the administrators and its owner only (an elevated uninstaller's owner is the
// administrators' group: the user's unelevated programs cannot write there) where the system
// knows those rights. Returns 1, or 0 with one log line.
static int MakeCopyFolder(char *folder, int size) {
    static const char HEX[] = "0123456789abcdef";
    char temp[UNINSTALL_PATH_SIZE], name[2 * COPY_RANDOM_BYTES + 1];
    uint8_t random[COPY_RANDOM_BYTES];
    if (!Path_TempDir(temp, sizeof temp) || !SystemFunction036(random, sizeof random)) {
        Log_Print("No folder for the clean-up copy (%lu)\n", GetLastError());
        return 0;
    }
    for (int i = 0; i < COPY_RANDOM_BYTES; i++) {
        name[2 * i] = HEX[random[i] >> 4];
        name[2 * i + 1] = HEX[random[i] & 15];
    }
    name[2 * COPY_RANDOM_BYTES] = 0;
    if (Str_Format(folder, size, "%stsu-%s", temp, name) < 0) return 0;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)", SDDL_REVISION_1,
            &attributes.lpSecurityDescriptor, NULL))
        attributes.lpSecurityDescriptor = NULL; // the temporary folder's rights, then
    BOOL made = CreateDirectoryA(folder, &attributes);
    DWORD error = GetLastError();
    if (attributes.lpSecurityDescriptor) LocalFree(attributes.lpSecurityDescriptor);
    if (!made) Log_Print("Unable to make the folder '%s' (%lu)\n", folder, error);
    return made;
}

// 1 when folder holds the copy's file and nothing else.
static int HoldsOnlyTheCopy(const char *folder) {
    char pattern[UNINSTALL_PATH_SIZE];
    if (Str_Format(pattern, sizeof pattern, "%s\\*", folder) < 0) return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int copies = 0, others = 0;
    do {
        const char *name = found.cFileName;
        if (Str_EqualNoCase(name, ".") || Str_EqualNoCase(name, "..")) continue;
        if (Str_EqualNoCase(name, COPY_NAME))
            copies++;
        else
            others++;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return copies == 1 && others == 0;
}

// Copies this program into a new folder of its own (MakeCopyFolder) and starts it there, in
// the system folder as its current folder, to delete ownPath once this process has ended, and
// the folders that leaves empty up to the installation folder. Returns 1 when the copy runs.
static int StartCleanup(const char *ownPath, const char *installPath) {
    char folder[UNINSTALL_PATH_SIZE], copy[UNINSTALL_PATH_SIZE], system[UNINSTALL_PATH_SIZE];
    if (!MakeCopyFolder(folder, sizeof folder)) return 0;
    if (Str_Format(copy, sizeof copy, "%s\\%s", folder, COPY_NAME) < 0 ||
        !Path_SystemDir(system, sizeof system) || !CopyFileA(ownPath, copy, TRUE) ||
        !HoldsOnlyTheCopy(folder)) {
        Log_Print("The clean-up copy was not started from '%s'\n", folder);
        DeleteFileA(copy);
        RemoveDirectoryA(folder);
        return 0;
    }
    HANDLE self = NULL;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                    SYNCHRONIZE, TRUE, 0);
    char command[3 * UNINSTALL_PATH_SIZE + 64];
    Str_Format(command, sizeof command, "\"%s\" -Cleanup %lu \"%s\" \"%s\"", copy,
               (unsigned long)(uintptr_t)self, ownPath, installPath);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    BOOL started =
        CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, system, &startup, &process);
    if (self) CloseHandle(self);
    if (!started) {
        Log_Print("Unable to start the clean-up copy (%lu)\n", GetLastError());
        return 0;
    }
    Log_Print("Clean-up copy  : %s\n", copy);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

// The copy's own file and folder, at its end: a running program cannot be deleted, but it can
// be renamed. The file moves beside its folder ("tsu-....tmp" in the temporary folder) to wait
// there for the next restart, and the folder, empty then, goes at once; where the move fails,
// both wait for the restart.
static void LeaveCopyFolder(void) {
    char self[UNINSTALL_PATH_SIZE], folder[UNINSTALL_PATH_SIZE], parked[UNINSTALL_PATH_SIZE];
    Sys_ExecutablePath(self, sizeof self);
    Str_Copy(folder, self);
    char *cut = NULL;
    for (char *q = folder; *q; q++)
        if (*q == '\\') cut = q;
    if (!cut) return;
    *cut = 0;
    if (Str_Format(parked, sizeof parked, "%s.tmp", folder) >= 0 && MoveFileExA(self, parked, 0)) {
        MoveFileExA(parked, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        if (RemoveDirectoryA(folder)) return;
    } else {
        MoveFileExA(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    MoveFileExA(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// 1 when this program is a clean-up copy and file the installed uninstaller it was copied
// from: a copy's path, and both files the same bytes with a script behind them.
static int IsOwnOriginal(const char *file) {
    char self[UNINSTALL_PATH_SIZE], temp[UNINSTALL_PATH_SIZE];
    Sys_ExecutablePath(self, sizeof self);
    if (!Path_TempDir(temp, sizeof temp) || !UninstScript_IsCleanupCopy(self, temp)) {
        Log_Print("Clean-up refused: '%s' is no clean-up copy\n", self);
        return 0;
    }
    uint8_t *own = NULL, *original = NULL;
    int32_t ownSize = 0, originalSize = 0;
    int same = File_ReadAll(self, UNINSTALL_FILE_LIMIT, &own, &ownSize) == 1 &&
               File_ReadAll(file, UNINSTALL_FILE_LIMIT, &original, &originalSize) == 1 &&
               ownSize == originalSize;
    for (int32_t i = 0; same && i < ownSize; i++) same = own[i] == original[i];
    char *script = NULL;
    int32_t scriptSize = 0;
    if (same && UninstScript_Extract(own, ownSize, &script, &scriptSize))
        UninstScript_Free(&script, scriptSize);
    else
        same = 0;
    if (own) TESSEL_FREE(own, ownSize + 1);
    if (original) TESSEL_FREE(original, originalSize + 1);
    if (!same) Log_Print("Clean-up refused: '%s' is not the uninstaller of this copy\n", file);
    return same;
}

// The copy's work: "-Cleanup HANDLE "FILE" "INSTALLPATH"", refused (exit code 3, nothing
// touched) unless this program is the clean-up copy of FILE. The installation folder passes
// the guard rails again before a folder is removed.
static int Cleanup(const char *arguments) {
    uint32_t handle = 0;
    char file[UNINSTALL_PATH_SIZE], installPath[UNINSTALL_PATH_SIZE];
    if (!UninstScript_CleanupArguments(arguments, &handle, file, installPath,
                                       UNINSTALL_PATH_SIZE)) {
        Log_Print("Clean-up refused: no file and folder to clean up\n");
        return UNINSTALL_EXIT_DAMAGED;
    }
    HANDLE original = (HANDLE)(uintptr_t)handle;
    if (!IsOwnOriginal(file)) return UNINSTALL_EXIT_DAMAGED;
    if (original) {
        WaitForSingleObject(original, 30000);
        CloseHandle(original);
    }
    for (int attempt = 0; attempt < 50 && !DeleteFileA(file); attempt++) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) break;
        Sleep(100);
    }
    if (GetFileAttributesA(file) != INVALID_FILE_ATTRIBUTES)
        MoveFileExA(file, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    Removal_LookUpGuarded();
    char reason[UNINSTALL_REASON_SIZE];
    if (Removal_CheckFolder(installPath, reason, sizeof reason) == GUARD_ACCEPTED) {
        Removal_EmptyParents(file, installPath, 1);
        Removal_EmptyAbove(installPath);
    }
    LeaveCopyFolder();
    return UNINSTALL_EXIT_DONE;
}

// ---- The run ----

static int Damaged(void) {
    Ui_Problem(DAMAGED, U.title);
    return UNINSTALL_EXIT_DAMAGED;
}

// The guard rails stopped the run before anything was removed: one log line (in quiet mode the
// box's own) and the box.
static int Refused(const InstallState *state, const char *reason) {
    char message[UNINSTALL_REASON_SIZE + INSTALL_TEXT_SIZE + 64];
    UninstRun_RefusalText(state->ProductName, reason, message, sizeof message);
    if (!Core_Quiet()) Log_Print("%s\n", message);
    Ui_Problem(message, U.title);
    return UNINSTALL_EXIT_DAMAGED;
}

static int Finish(int exitCode) {
    Progress_Destroy();
    Sys_ExitCom();
    Mem_Shutdown();
    Log_Shutdown();
    Log_Print("Uninstall exit code %d\n", exitCode);
    return exitCode;
}

static void ShowClosingBox(const InstallState *state) {
    char message[REMOVAL_PENDING_SIZE + 256];
    UninstRun_ClosingText(state->ProductName, message, sizeof message);
    Ui_Problem(message, U.title);
}

static int Uninstall(const char *ownPath) {
    InstallState *state = &U.state;
    uint8_t *file = NULL;
    int32_t size = 0;
    if (File_ReadAll(ownPath, UNINSTALL_FILE_LIMIT, &file, &size) != 1) {
        Log_Print("Unable to read '%s'\n", ownPath);
        return Damaged();
    }
    char *script = NULL;
    int32_t scriptSize = 0;
    int found = UninstScript_Extract(file, size, &script, &scriptSize);
    TESSEL_FREE(file, size + 1);
    if (!found) return Damaged();
    int result = UNINSTALL_EXIT_DONE;
    if (!UninstScript_Settings(script, scriptSize, state)) {
        result = Damaged();
    } else {
        Str_Format(U.title, sizeof U.title, "%s Uninstall", state->ProductName);
        Removal_LookUpGuarded();
        char reason[UNINSTALL_REASON_SIZE];
        if (!Removal_FindInstallPath(state, ownPath, reason, sizeof reason))
            result = Refused(state, reason);
        else
            LoadRecord(ownPath);
    }
    if (result == UNINSTALL_EXIT_DONE) {
        char question[INSTALL_TEXT_SIZE + 64];
        Str_Format(question, sizeof question, "Do you want to remove %s and all of its components?",
                   state->ProductName);
        if (!Core_Quiet() && !Ui_Confirm(question, U.title)) {
            Log_Print("Uninstall declined\n");
            result = UNINSTALL_EXIT_STOPPED;
        }
    }
    if (result == UNINSTALL_EXIT_DONE) {
        if (!Core_Quiet()) { // a quiet run has no window, nor one to fail to make
            Progress_Create(GetModuleHandleA(NULL), NULL);
            Progress_Show(1);
        }
        if (!UninstRun_CloseWindows(script, scriptSize, state, UninstallSystem_Get()))
            result = UNINSTALL_EXIT_STOPPED;
    }
    if (result == UNINSTALL_EXIT_DONE) {
        UninstRun_Remove(script, scriptSize, state, &U.record, U.recordPath, UninstallSystem_Get());
        if (!StartCleanup(ownPath, state->InstallPath)) Removal_NotePending(ownPath);
        Progress_Show(0);
        ShowClosingBox(state);
    }
    UninstScript_Free(&script, scriptSize);
    Record_Free(&U.record);
    return result;
}

int Uninstall_Main(const char *arguments) {
    // Before anything can load a DLL: the uninstaller runs elevated, and its copy from the
    // temporary folder.
    int dllSearchRestricted = Sys_RestrictDllSearch();
    const char *found = NULL;
    int quiet = Str_FindNoCase(Sys_CommandLine(), "-Quiet", &found);
    Core_SetQuiet(quiet);
    uint32_t flags = 0;
    int cleanup = Str_FindNoCase(arguments, "-Cleanup ", &found) && found == arguments;
    Log_ParseOptions(&flags, arguments); // the clean-up copy is started without log switches
    Switches switches;
    int switchesRead = Switch_Parse(arguments, &switches) || cleanup;
    char logPath[LOG_PATH_SIZE];
    DWORD fullLength = 0;
    if (!cleanup && switches.LogPath[0]) // -Log=PATH: the log there, switched on
        fullLength = GetFullPathNameA(switches.LogPath, sizeof logPath, logPath, NULL);
    if (fullLength > 0 && fullLength < sizeof logPath) {
        flags = (flags | LOG_FILE | LOG_LIBRARY) & ~LOG_DATED;
    } else {
        if (!Path_TempDir(logPath, sizeof logPath - 16)) logPath[0] = 0;
        Str_Append(logPath, "uninstall.log");
    }
    Log_Init(logPath, flags);
    Mem_Init(MEM_NO_LIMIT, 0);
    Sys_InitControls();
    Sys_InitCom();
    RemovalActions_Set(RemovalSystem_Get());
    if (cleanup) return Cleanup(arguments);
    Str_Copy(U.title, "Uninstall");
    char ownPath[UNINSTALL_PATH_SIZE];
    Sys_ExecutablePath(ownPath, sizeof ownPath);
    Log_Print("Uninstall '%s' %s\n", ownPath, quiet ? "(quiet)" : "");
    if (!switchesRead) // only noted: the removal needs no switch
        Log_Print("Refused '%s': %s\n", switches.Word, Switch_Reason(switches.Refusal));
    Log_Print("DLL search     : %s\n",
              dllSearchRestricted ? "the system folder only" : "without the current folder");
    return Finish(Uninstall(ownPath));
}

int Entry_Main(const char *arguments) { return Uninstall_Main(arguments); }
