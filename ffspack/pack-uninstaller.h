// The uninstaller a setup carries: the file bundled as "uninst.exe" when the script names an
// uninstaller and no entry is one, with the checks of its machine type and its signature.
// Used by the build (pack-sources).
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "pack-archive.h"

// True when the compiled script, scanned as the setup runs it, reaches an UNINSTALL NAME
// command (in any letter case): each marker starts a command whose keyword runs to ':', and
// the scan goes on behind the arguments the keyword takes, so an argument is never read as a
// command. Stops, false, at a keyword the setup does not know, where the setup stops too.
bool Pack_ScriptNamesUninstaller(const PackBytes &script);
// The uninstaller a setup's build stores when it bundles one: the file uninstallerPath names,
// or "uninst.exe" beside the stub.
std::string Pack_BundledPath(const std::string &stubPath, const std::string &uninstallerPath);
// The uninstaller a setup's script asks for, added to inputs when no input is read as
// "uninst.exe" (the same hash: what the setup would load under that name); *bundled gets its
// path. False with *error when an entry and uninstallerPath are both given, when the script
// needs one and none can be read, and when its machine type is not the stub's; notes for a
// signed one and for an uninstallerPath that the script never asks for.
bool Pack_AddUninstaller(const std::string &stubPath, const std::string &uninstallerPath,
                         uint32_t flags, std::vector<PackInput> *inputs, std::string *bundled,
                         std::string *error, PackNotes *notes);
