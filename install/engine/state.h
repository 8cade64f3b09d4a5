// The install state: the one record an installation runs on, created by Script_Load, handed to
// every command handler, filled by the setter commands and read by the actions, the dialogs
// and the backdrop window. Also the backdrop string slot that the record points to.
#pragma once
#include <stdint.h>

enum InstallMode { Interactive = 1, Quiet = 2 };

enum {
    INSTALL_TEXT_SIZE = 160, // most text fields: at most 159 characters
    INSTALL_PATH_SIZE = 320, // font slots and the relaunch path
    BACKDROP_FACE_SIZE = 80,
};

// One string of the backdrop (STRING command); positions and sizes are fractions of the client
// area.
typedef struct BackdropString {
    float X;
    float Y;
    float FontWidth;
    float FontHeight;
    char Text[INSTALL_TEXT_SIZE];
    char FaceName[BACKDROP_FACE_SIZE];
    uint8_t Color[3]; // red, green, blue
    uint32_t Flags;
} BackdropString;

// Flags of a BackdropString: the anchor corrections and the font's style.
enum {
    BACKDROP_RIGHT = 0x01,   // the text ends at X
    BACKDROP_UP = 0x02,      // the text's bottom is at Y
    BACKDROP_CENTERX = 0x04, // the text is centred on X
    BACKDROP_CENTERY = 0x08, // the text is centred on Y
    BACKDROP_ITALIC = 0x10,
    BACKDROP_BOLD = 0x20, // weight 700 instead of 400
    BACKDROP_UNDERLINE = 0x40,
};

typedef char FontSlot[INSTALL_PATH_SIZE]; // archive name of a font added for the backdrop

// Every text field holds a zero-terminated text; an empty text is a zero first byte. Which
// fields are cut and which are refused when an argument is too long is said where each setter
// reads its argument (command.cpp, settings.cpp).
typedef struct InstallState {
    void *Window;             // backdrop window of the current run, or null
    int32_t Mode;             // Interactive or Quiet
    uint8_t GradientStart[3]; // red, green, blue at the top of the backdrop
    uint8_t GradientEnd[3];   // ... and at its bottom
    char *ScriptText;         // ScriptSize bytes and one zero byte
    int32_t ScriptSize;
    int32_t StringCount;
    BackdropString *Strings; // StringCount slots
    int32_t FontCount;
    FontSlot *Fonts;                 // FontCount slots
    char Caption[INSTALL_TEXT_SIZE]; // one-shot title or prompt of the next dialog
    char CompanyName[INSTALL_TEXT_SIZE];
    char ProductName[INSTALL_TEXT_SIZE];
    char ProductVersion[INSTALL_TEXT_SIZE];
    int32_t ListServerNumber;
    char ListServerAddress[INSTALL_TEXT_SIZE];
    char ListServerList[INSTALL_TEXT_SIZE];
    char RegistryPath[INSTALL_TEXT_SIZE]; // HKEY_CURRENT_USER subkey; empty means none
    int32_t InstallSizeKB;                // units of 1024 bytes
    char InstallPath[INSTALL_TEXT_SIZE];  // the chosen installation directory
    char InstallDir[INSTALL_TEXT_SIZE];   // default directory; ends with '\' when not empty
    char InstallName[INSTALL_TEXT_SIZE];
    char UninstallName[INSTALL_TEXT_SIZE]; // where the uninstaller goes; empty means none
    char UpdateUrl[INSTALL_TEXT_SIZE];
    int32_t FileCount;
    const char *FileList; // into ScriptText: comma-separated archive names, ends like an argument
    int32_t TempCount;
    const char *TempList;                 // into ScriptText
    const char *ScriptPosition;           // where the next run starts scanning
    char RelaunchPath[INSTALL_PATH_SIZE]; // program to start again at the end; empty means none
} InstallState;
