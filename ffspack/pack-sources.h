// Input collection: the files of a build or a check, from a folder walk and NAME=FILE sources,
// listed by their sizes and checked against the script (check.h) before the build writes
// anything. The build command's and the check command's work.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "check.h"
#include "pack-archive.h"

// A file to store: read from path, stored under name.
typedef struct PackSource {
    std::string name;
    std::string path;
} PackSource;

// Every regular file below folder, appended to *sources under its path relative to folder with
// backslashes ("docs\readme.txt"), sorted by name so that the same folder always gives the same
// archive. A link to a file is stored, under its own name, as the file it names when that file
// lies inside folder (both compared as canonical paths); links to folders are not followed.
// Returns false with *error, and nothing appended, when folder is no folder or cannot be read,
// and at a link that leads out of it.
bool Pack_ScanFolder(const std::string &folder, std::vector<PackSource> *sources,
                     std::string *error);

// The build command's work: the script's text form at scriptPath (none when empty) compiled
// into "install.dat", then every source listed by its size (refused at once when an entry
// cannot hold it) and read in pieces as it is stored, built into a setup from the stub at
// stubPath, or into a stand-alone archive when stubPath is empty. A setup whose script names
// an uninstaller (UNINSTALL NAME) and that has no source of the entry "uninst.exe" gets the
// file at uninstallerPath (empty: "uninst.exe" beside the stub) as that entry, and
// *bundledUninstaller its path (empty when none was added); any other build gets none, and a
// note when uninstallerPath was given. With report, the script (the text form, or else a
// source "install.dat") is first checked against the sources (check.h, the uninstaller taken
// as bundled: a stand-alone archive is no setup and is not asked for one) and the findings are
// appended; null builds the script as it is, unchecked. Returns false with *error at the
// first file that cannot be read or written, when the checks find an error, when the script
// names an uninstaller and none can be read, when uninstallerPath is given beside a source
// "uninst.exe", and at every refusal of the two builds; outputPath is then neither written nor
// replaced.
bool Pack_BuildFiles(const std::string &stubPath, const std::string &uninstallerPath,
                     const std::string &scriptPath, const std::vector<PackSource> &sources,
                     uint32_t flags, const std::string &outputPath, std::string *bundledUninstaller,
                     std::string *error, PackNotes *notes, CheckReport *report);
// The checks of Pack_BuildFiles alone, with the findings appended to *report: the script is
// the text form at scriptPath, or else the source "install.dat". The uninstaller counts as
// bundled when stubPath and uninstallerPath are both empty (the build will add one or refuse),
// otherwise only when the file the build would bundle can be opened. Of the sources, only a
// hand-made script, an uninstaller and the fonts that FONT names are read; of every other, its
// size. Returns false with *error when a file cannot be read or is too large for an entry, when
// there is no script, or when the checks find an error.
bool Pack_CheckFiles(const std::string &stubPath, const std::string &uninstallerPath,
                     const std::string &scriptPath, const std::vector<PackSource> &sources,
                     uint32_t flags, CheckReport *report, std::string *error);
// The script's text form in the file at path, compiled. False with *error when it cannot be
// read or compiled.
bool Pack_CompileScript(const std::string &path, PackBytes *script, std::string *error);
