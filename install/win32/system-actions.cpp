// The Win32 modules bound into the engine's record of actions.
#include "system-actions.h"

#include "backdrop.h"
#include "dialogs.h"
#include "fileinstall.h"
#include "fonts.h"
#include "installdir.h"
#include "programs.h"
#include "shortcuts.h"
#include "ui.h"
#include "uninstreg.h"

static const InstallActions SYSTEM_ACTIONS = {
    Ui_Confirm,           // Confirm
    Ui_Problem,           // Problem
    Ui_DestroyWindow,     // DestroyWindow
    Backdrop_Refresh,     // RefreshBackdrop
    Font_Extract,         // ExtractFont
    Font_RemoveTemporary, // RemoveFont
    TextDlg_Message,      // ShowMessage
    TextDlg_Agreement,    // ShowAgreement
    DirDlg_Choose,        // ChooseInstallPath
    Path_Expand,          // ExpandPath
    Install_Files,        // InstallFiles
    Proc_Run,             // RunProgram
    Ole_Register,         // RegisterServer
    Wnd_CloseMatching,    // CloseWindows
    Shell_CreateGroup,    // CreateGroup
    Shell_AddItem,        // AddItem
    UninstReg_Write,      // RegisterUninstall
};

const InstallActions *SystemActions_Get(void) { return &SYSTEM_ACTIONS; }
