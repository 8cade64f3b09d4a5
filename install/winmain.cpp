// The setup program's entry point and main sequence: start-up of the support library, the
// archive of its own executable and its integrity check, the script's quiet run or its two
// interactive runs around the backdrop window, the shutdown in its fixed order and the exit
// code.
#include "winmain.h"

#include <windows.h>

#include "actions.h"
#include "backdrop.h"
#include "command.h"
#include "earlier.h"
#include "entry.h"
#include "ffs-cmp2.h"
#include "ffs-lzma.h"
#include "ffs.h"
#include "installdir.h"
#include "iscript.h"
#include "pathguard.h"
#include "removal-actions.h"
#include "removal-system.h"
#include "removal.h"
#include "switches.h"
#include "system-actions.h"
#include "tessel-core.h"
#include "tessel-pe.h"
#include "tessel-stamp.h"
#include "tessel-str.h"
#include "tessel-sys.h"
#include "ui.h"

#define INSTALL_NAME "Install"
#define INSTALL_BUILD "Release"

enum { OWN_PATH_SIZE = 320, LOG_ARGUMENT_LIMIT = 1900 };

// A damaged setup, a missing script and every internal error end in the fatal report (a setup
// whose archive is lost, in the damaged-file box), all with 3.
static_assert((int)INSTALL_EXIT_BROKEN == (int)CORE_EXIT_INTERNAL,
              "every fatal report ends a setup with 3");

static struct {
    InstallState *state;
    int32_t mode;
    char ownPath[OWN_PATH_SIZE];
    Switches switches;
} W;

// The stub as the compiler made it, which no setup build has touched: its stamp is unwritten and
// nothing lies behind its image. Every other file without an archive lost it on the way.
static int IsBareStub(void) {
    return !Core_HasStamp(CORE_STAMP_KEY) && Pe_FileIsBareImage(W.ownPath);
}

static int ScriptEnded(void) {
    return W.state && W.state->ScriptPosition == W.state->ScriptText + W.state->ScriptSize;
}

// The process's peak memory, in a run that keeps a log: what the installation really took.
static void LogPeakMemory(void) {
    int32_t workingSet = 0, committed = 0;
    if (Log_Flags() && Sys_PeakMemory(&workingSet, &committed))
        Log_Print("Peak memory: %d KB working set, %d KB private\n", (int)workingSet,
                  (int)committed);
}

// Shutdown steps 1 to 5 (from the archive on when there is no script), then the class and the
// closing line. Exit code 1 when the script ran to its end, 2 when it stopped on a failed or
// unknown command or the user left the installation.
static int Shutdown(int releaseScript, int classRegistered, int exitCode) {
    if (releaseScript) Script_Release(&W.state);
    Ffs_Close();
    Cmd_ReleaseAll();
    Sys_ExitCom();
    Mem_Shutdown();
    LogPeakMemory();
    Log_Shutdown();
    if (classRegistered) Backdrop_Close();
    Log_Print("Successful Exit...\n");
    return exitCode;
}

static int RunInteractive(void) {
    if (!Script_Run(W.state, NULL)) {
        Log_Print("Script failed somewhere\n");
        return Shutdown(1, 0, INSTALL_EXIT_FAILED);
    }
    HWND window = Backdrop_Open(W.state);
    if (!window) return INSTALL_EXIT_NO_ARCHIVE;
    SendMessageA(window, WM_RUNSCRIPT, 0, 0);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        Mem_EndFrame();
    }
    Ui_SetOwner(NULL);
    int exitCode = ScriptEnded() && !Backdrop_Aborted() ? INSTALL_EXIT_DONE : INSTALL_EXIT_FAILED;
    return Shutdown(1, 1, exitCode);
}

// The log file of -Log=PATH as a full path into logPath (LOG_PATH_SIZE bytes): a relative one
// from the current folder. 0 when it does not fit (refused, never cut).
static int LogPathFrom(const char *path, char *logPath) {
    DWORD length = GetFullPathNameA(path, LOG_PATH_SIZE, logPath, NULL);
    return length > 0 && length < LOG_PATH_SIZE;
}

// "-?": the switches on the standard output, and in a box (in a quiet run the log and the
// standard error take the box's text).
static void ShowSwitches(void) {
    const char *help = Switch_Help();
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (output && output != INVALID_HANDLE_VALUE)
        WriteFile(output, help, (DWORD)Str_Length(help), &written, NULL);
    Ui_Problem(help, "Install switches");
}

// The command line's folder (-Dir=PATH) as the guard rails see an installation folder: a full
// path, no drive's root, no folder of the system nor one that holds one. 1 when accepted (or
// none given), else 0 with one log line.
static int AcceptFolder(const char *folder) {
    if (!folder[0]) return 1;
    char full[OWN_PATH_SIZE], reason[OWN_PATH_SIZE + 160];
    Str_Format(full, sizeof full, "%s", folder);
    Path_Normalize(full, 1);
    Removal_LookUpGuarded();
    if (Removal_CheckFolder(full, reason, sizeof reason) != GUARD_ACCEPTED) {
        Log_Print("The folder of -Dir is refused: %s\n", reason);
        return 0;
    }
    if (!DirDlg_SetFolder(full)) {
        Log_Print("The folder of -Dir is refused: '%s' is too long\n", full);
        return 0;
    }
    return 1;
}

// Starts the log as the words ask; -Log= names its file and switches it on, whatever -unique
// would name. Returns 0 when -Log= names a path that does not fit: the log is then debug.log.
static int StartLog(const char *arguments) {
    uint32_t flags = 0;
    Log_ParseOptions(&flags, arguments);
    char logPath[LOG_PATH_SIZE] = "debug.log";
    int refused = 0;
    if (W.switches.LogPath[0]) {
        refused = !LogPathFrom(W.switches.LogPath, logPath);
        if (refused)
            Str_Copy(logPath, "debug.log");
        else
            flags = (flags | LOG_FILE | LOG_LIBRARY) & ~LOG_DATED;
    }
    Log_Init(logPath, flags);
    return !refused;
}

int Setup_Main(const char *arguments) {
    // Before anything can load a DLL: the setup runs elevated from a download folder. (Its log
    // keeps its fixed lines; the result is not written.)
    Sys_RestrictDllSearch();
    // Quiet from the first step: no box of any kind, the fatal one included.
    const char *found = NULL;
    W.mode = Str_FindNoCase(Sys_CommandLine(), "-Quiet", &found) ? Quiet : Interactive;
    Core_SetQuiet(W.mode == Quiet);
    int switchesRead = Switch_Parse(arguments, &W.switches);
    int logRefused = !StartLog(arguments);
    Mem_Init(MEM_NO_LIMIT, 0);
    Sys_InitControls();
    Sys_InitCom();
    Actions_Set(SystemActions_Get());
    RemovalActions_Set(RemovalSystem_Get());
    Cmd_RegisterAll();
    Script_RegisterBreak();
    const char *commandLine = Sys_CommandLine();
    Log_Print("%s Version %s (%s)\n", INSTALL_NAME, INSTALL_VERSION, INSTALL_BUILD);
    // Cut for the log's line: a command line may be far longer than a log line can hold.
    Log_Print("Cmdline '%.*s' '%.*s'\n", LOG_ARGUMENT_LIMIT, commandLine, LOG_ARGUMENT_LIMIT,
              arguments);
    // A word the setup does not know stops a quiet run before anything is installed: a
    // deployment tool would otherwise take a default for what it asked.
    if (!switchesRead) {
        Log_Print("Refused '%s': %s\n", W.switches.Word, Switch_Reason(W.switches.Refusal));
        if (W.mode == Quiet) return Shutdown(0, 0, INSTALL_EXIT_BROKEN);
    }
    if (logRefused) {
        Log_Print("Refused -Log: '%s' does not fit a path\n", W.switches.LogPath);
        if (W.mode == Quiet) return Shutdown(0, 0, INSTALL_EXIT_BROKEN);
    }
    if (W.switches.Help) {
        ShowSwitches();
        return Shutdown(0, 0, INSTALL_EXIT_FAILED);
    }
    if (!AcceptFolder(W.switches.Folder)) {
        Ui_Problem("The installation folder given on the command line cannot be used.", NULL);
        return Shutdown(0, 0, INSTALL_EXIT_BROKEN);
    }
    Sys_ExecutablePath(W.ownPath, sizeof W.ownPath);
    if (!Ffs_Open(W.ownPath, 0)) {
        // A setup that was signed has had an archive: bytes behind its certificate table, or a
        // table cut short, are damage, not a stub without an archive.
        PeSignature signature;
        int64_t length = 0;
        Pe_FileSignature(W.ownPath, &signature, &length);
        if (signature.TableOffset || signature.TableSize) {
            Core_Locate(__FILE__, __LINE__);
            Core_Abort("%s has been corrupted, please download a new copy.\n", INSTALL_NAME);
        }
        Ui_Problem("The installation file has been damaged, please download a new copy.", NULL);
        return Shutdown(0, 0, IsBareStub() ? INSTALL_EXIT_NO_ARCHIVE : INSTALL_EXIT_BROKEN);
    }
    Ffs_AddCodec(&Type2_Codec);
    Ffs_AddCodec(&Lzma_Codec);
    if (!Core_VerifyStamp(CORE_STAMP_KEY, W.ownPath, 1, 1)) {
        Core_Locate(__FILE__, __LINE__);
        Core_Abort("%s has been corrupted, please download a new copy.\n", INSTALL_NAME);
    }
    if (!Script_Load(&W.state, "install.dat", W.mode)) {
        Core_Locate(__FILE__, __LINE__);
        Core_Abort("Couldn't load installation script.\n");
    }
    if (W.mode == Interactive) return RunInteractive();
    int exitCode = INSTALL_EXIT_DONE;
    if (!Script_Run(W.state, NULL)) {
        Log_Print("Script failed somewhere\n");
        exitCode = Earlier_RefusedNewer() ? INSTALL_EXIT_BROKEN : INSTALL_EXIT_FAILED;
    }
    return Shutdown(1, 0, exitCode);
}

int Entry_Main(const char *arguments) { return Setup_Main(arguments); }
