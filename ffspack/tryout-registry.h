// Wine's registry files as 'ffspack test' reads them: parsed into keys and values, compared
// with Wine's own churn left out, and a value's data shown as a user reads it. Pure and tested
// on the host.
#pragma once
#include <map>
#include <string>
#include <vector>

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
// The text of a string value ("..." or str(N):"..."), its NULs kept; false for other data.
bool Tryout_StringOf(const std::string &data, std::string *text);
