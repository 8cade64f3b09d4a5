// 'ffspack test': a finished setup tried as a user would meet it, quietly, in a throw-away Wine
// prefix, then its uninstaller; what each wrote and left, read from the prefix's files, its
// registry files and its shortcuts. The readers of those formats and the log's failure rule are
// pure and tested on the host; the runs need Wine (Linux builder only).
#pragma once
#include <map>
#include <string>
#include <vector>

enum {
    TRYOUT_TIMEOUT_DEFAULT = 300, // seconds for each Wine run
    TRYOUT_TIMEOUT_MAX = 86400,
};

// A registry as Wine saves it (system.reg, user.reg): key ("HKLM\Software\Acme") -> value name
// ("" for the default value) -> the data as the file writes it ("\"text\"", "dword:0000001f",
// "hex:01,02"), continuation lines joined. A key the file names without values is there with
// none.
typedef std::map<std::string, std::map<std::string, std::string>> TryoutRegistry;

// One difference of two registries: a value added ('+'), changed ('~') or removed ('-'), or a
// key without values added or removed (isKey, name empty).
struct TryoutChange {
    char kind;
    std::string key, name, before, after;
    bool isKey;
};

struct TryoutShortcut {
    std::string target; // the local path of the link's target, else its relative path
    std::string arguments, workingDir, description;
};

struct TryoutOptions {
    std::string setup;
    std::string wine; // the Wine program; empty: chosen by the prefix's architecture
    std::string arch; // "win32" or "win64" (the prefix); empty: the setup's own
    bool vm = false;  // in the virtual machine of vm-run.sh even where this kernel runs i386
    bool keep = false;
    std::string screens; // the folder for the pictures of an interactive run; "": a quiet run
    std::string x64Stub; // the x64 stub installed with ffspack ("" when none), for the advice
    int timeout = TRYOUT_TIMEOUT_DEFAULT; // 1 to TRYOUT_TIMEOUT_MAX
};

// Adds the keys and values of a Wine registry file's text to *registry, each key under root
// ("HKLM", "HKCU"). Returns false (nothing added) when the text has no Wine registry header.
bool Tryout_ParseRegistry(const std::string &text, const std::string &root,
                          TryoutRegistry *registry);
// Whether a file of drive C: is Wine's own record of a device it found (C:\windows\inf\*.pnf).
bool Tryout_IsWineFile(const std::string &path);
// What changed from before to after, sorted by key and name, without the keys that Wine itself
// rewrites at every program start or writes for a device it finds.
std::vector<TryoutChange> Tryout_DiffRegistry(const TryoutRegistry &before,
                                              const TryoutRegistry &after);
// A value's data as a user reads it: the text of a string (the items of a multi-string joined
// by " | "), the file's own form for numbers and bytes.
std::string Tryout_ShowData(const std::string &data);
// Reads a shell link (.lnk). Returns false, *shortcut untouched, when the bytes are no shell
// link or end before its strings do.
bool Tryout_ReadShortcut(const std::string &bytes, TryoutShortcut *shortcut);
// true when a line of the setup's or the uninstaller's log reports a failure.
bool Tryout_IsFailure(const std::string &line);
// Tries the setup and prints what it did. Returns 0 when the setup ended with 1 and its
// uninstaller, named by the uninstall entry, with 1 leaving nothing behind; 1 otherwise (the
// output says why): also for a program that wrote no log (Wine never started it), an
// uninstaller written that no entry names, and what stays for want of an uninstaller. The
// prefix is removed unless options.keep. An i386 setup on a kernel that cannot execute 32-bit
// programs (or with options.vm) is tried by this same program inside the virtual machine of
// vm-run.sh (found through TESSEL_VM_RUN, beside an installed ffspack, or in the source tree it
// was built from), which prints the same report.
int Tryout_Run(const TryoutOptions &options);
