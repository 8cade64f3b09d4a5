// Input collection for a build or a check: the folder walk (links that lead out refused), the
// sources listed by their sizes (only a hand-made script and an uninstaller read whole), their
// names against the rules and each other, the script checked against them, and the build.
#include "pack-sources.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "check-names.h"
#include "pack-file.h"
#include "pack-group.h"
#include "pack-setup.h"
#include "pack-uninstaller.h"
#include "script-source.h"
#include "tessel-sys.h"
#include "uninst.h"

namespace fs = std::filesystem;

bool Pack_CompileScript(const std::string &path, PackBytes *script, std::string *error) {
    PackBytes source;
    if (!Pack_ReadFile(path, &source, error)) return false;
    return Script_Compile(std::string(source.begin(), source.end()), path, script, error);
}

// True when resolved, a canonical path, lies below the canonical folder root.
static bool LiesInside(const fs::path &resolved, const fs::path &root) {
    const fs::path relative = resolved.lexically_relative(root);
    return !relative.empty() && relative != "." && *relative.begin() != "..";
}

bool Pack_ScanFolder(const std::string &folder, std::vector<PackSource> *sources,
                     std::string *error) {
    std::error_code code;
    if (!fs::is_directory(folder, code)) {
        *error = Check_Quoted(folder) + " is not a folder";
        return false;
    }
    const fs::path root = fs::canonical(folder, code);
    std::vector<PackSource> found;
    for (fs::recursive_directory_iterator it(folder, code), end; !code && it != end;
         it.increment(code)) {
        if (!it->is_regular_file(code)) continue;
        // A link names its file by a path of its own, which may lead anywhere on this machine;
        // only what lies in the folder is the product.
        if (it->is_symlink(code)) {
            const fs::path target = fs::canonical(it->path(), code);
            if (code) break;
            if (!LiesInside(target, root)) {
                *error = Check_Quoted(it->path().string()) + " is a link to " +
                         Check_Quoted(target.string()) + ", outside the folder " +
                         Check_Quoted(folder) + ": not stored (copy the file into the folder)";
                return false;
            }
        }
        // The name as the folder spells it, never through a link's target.
        std::string name = it->path().lexically_relative(folder).generic_string();
        std::replace(name.begin(), name.end(), '/', '\\');
        found.push_back(PackSource{name, it->path().string()});
    }
    if (code) {
        *error = "cannot read the folder " + Check_Quoted(folder) + ": " + code.message();
        return false;
    }
    std::sort(found.begin(), found.end(),
              [](const PackSource &a, const PackSource &b) { return a.name < b.name; });
    sources->insert(sources->end(), found.begin(), found.end());
    return true;
}

// The size of the file at path, which an entry can hold. False with *error when it cannot be
// had, or is too large: refused from its size, before a byte of it is read.
static bool EntrySize(const std::string &path, uint64_t *size, std::string *error) {
    std::error_code code;
    *size = fs::file_size(path, code);
    if (code) {
        *error = "cannot open " + Check_Quoted(path) + ": " + code.message();
        return false;
    }
    if (Pack_EntryFits(*size)) return true;
    *error = Check_Quoted(path) + " is 2 GB or larger (" + std::to_string(*size) +
             " bytes); an entry holds at most " + std::to_string(PACK_MAX_LENGTH) + " bytes";
    return false;
}

// Reads the text form at scriptPath (when given) into *text, with the entry "install.dat" first
// in *inputs for its compiled bytes, then lists every source in *inputs by its file and size:
// the build reads it in pieces as it stores it, and the checks read none of it. Only the sources
// that the build reads itself, a hand-made script (install.dat) and an uninstaller
// (uninst.exe), are read whole. False with *error at the first file that cannot be read.
static bool ReadInputs(const std::string &scriptPath, const std::vector<PackSource> &sources,
                       uint32_t flags, PackBytes *text, std::vector<PackInput> *inputs,
                       std::string *error) {
    if (!scriptPath.empty()) {
        inputs->push_back(PackInput{"install.dat", {}});
        if (!Pack_ReadFile(scriptPath, text, error)) return false;
    }
    for (const PackSource &source : sources) {
        const uint32_t hash = Pack_HashName(source.name, flags);
        inputs->push_back(PackInput{source.name, {}});
        PackInput &input = inputs->back();
        if (hash == Pack_HashName("install.dat", flags) ||
            hash == Pack_HashName(UNINST_ENTRY, flags)) {
            if (!Pack_ReadFile(source.path, &input.data, error)) return false;
        } else {
            input.path = source.path;
            if (!EntrySize(source.path, &input.size, error)) return false;
        }
    }
    return true;
}

// The index of the source read as "install.dat" (a hand-made script), or -1.
static int ScriptSource(const std::vector<PackSource> &sources, uint32_t flags) {
    for (size_t i = 0; i < sources.size(); i++)
        if (Pack_HashName(sources[i].name, flags) == Pack_HashName("install.dat", flags))
            return (int)i;
    return -1;
}

// Every source's name against the rules of a file's name inside a folder (Check_NameFault),
// and against the others: two sources of one hash are one entry to the setup. The findings,
// errors named by the sources' files, are appended to *report.
static void CheckSourceNames(const std::vector<PackSource> &sources, uint32_t flags,
                             CheckReport *report) {
    std::map<uint32_t, const PackSource *> named;
    for (const PackSource &source : sources) {
        const std::string where = Check_Printable(source.path) + ": ";
        const std::string fault = Check_NameFault(source.name);
        if (!fault.empty()) {
            report->push_back(CheckMessage{
                CHECK_ERROR, where + "the entry " + Check_Quoted(source.name) + " " + fault});
            continue;
        }
        auto first = named.emplace(Pack_HashName(source.name, flags), &source);
        if (first.second) continue;
        const PackSource &earlier = *first.first->second;
        report->push_back(
            CheckMessage{CHECK_ERROR, Check_Printable(earlier.path) + ", " + where +
                                          Pack_Clash(earlier.name, source.name, flags)});
    }
}

static std::string Errors(size_t count) {
    return std::to_string(count) + (count == 1 ? " error" : " errors");
}

// Checks the names of ReadInputs' inputs (CheckSourceNames), then their script against the
// others: the text form, compiled into the first input when it passes, or else a source
// "install.dat". False with *error counting the errors of each when the checks find any.
static bool CheckScript(const std::string &scriptPath, const PackBytes &text,
                        const std::vector<PackSource> &sources, uint32_t flags,
                        bool uninstallerBundled, std::vector<PackInput> *inputs,
                        CheckReport *report, std::string *error) {
    size_t first = scriptPath.empty() ? 0 : 1, before = Check_Count(*report, CHECK_ERROR);
    CheckSourceNames(sources, flags, report);
    const size_t entryErrors = Check_Count(*report, CHECK_ERROR) - before;
    CheckBuild build{{}, flags, uninstallerBundled};
    // An entry refused for its name is not one more finding as an entry the script never names.
    for (size_t i = first; i < inputs->size(); i++)
        if (Check_NameFault((*inputs)[i].name).empty())
            build.entries.push_back(CheckEntry{
                (*inputs)[i].name, (*inputs)[i].path.empty() ? &(*inputs)[i].data : nullptr,
                Pack_InputSize((*inputs)[i]), (*inputs)[i].path});
    int handMade = ScriptSource(sources, flags);
    std::string name = scriptPath.empty() && handMade >= 0 ? sources[handMade].path : scriptPath;
    bool passed = true;
    if (!scriptPath.empty())
        passed = Check_Source(std::string(text.begin(), text.end()), scriptPath, build,
                              &inputs->front().data, report);
    else if (handMade >= 0)
        passed = Check_Script((*inputs)[handMade].data, name, build, report);
    if (passed && !entryErrors) return true;
    const size_t scriptErrors = Check_Count(*report, CHECK_ERROR) - before - entryErrors;
    *error = entryErrors ? Errors(entryErrors) + " in the entries" : "";
    if (scriptErrors)
        *error += (entryErrors ? "; " : "") + name + ": " + Errors(scriptErrors) + " in the script";
    return false;
}

bool Pack_CheckFiles(const std::string &stubPath, const std::string &uninstallerPath,
                     const std::string &scriptPath, const std::vector<PackSource> &sources,
                     uint32_t flags, CheckReport *report, std::string *error) {
    if (scriptPath.empty() && ScriptSource(sources, flags) < 0) {
        *error = "nothing to check: give the script's text form or an entry install.dat";
        return false;
    }
    std::vector<PackInput> inputs;
    PackBytes text;
    if (!ReadInputs(scriptPath, sources, flags, &text, &inputs, error)) return false;
    bool bundled = true;
    if (!stubPath.empty() || !uninstallerPath.empty()) {
        SysFile *uninstaller =
            Sys_FileOpen(Pack_BundledPath(stubPath, uninstallerPath).c_str(), "rb");
        bundled = uninstaller && Sys_FileClose(uninstaller);
    }
    return CheckScript(scriptPath, text, sources, flags, bundled, &inputs, report, error);
}

bool Pack_BuildFiles(const std::string &stubPath, const std::string &uninstallerPath,
                     const std::string &scriptPath, const std::vector<PackSource> &sources,
                     uint32_t flags, const std::string &outputPath, std::string *bundledUninstaller,
                     std::string *error, PackNotes *notes, CheckReport *report) {
    bundledUninstaller->clear();
    std::vector<PackInput> inputs;
    PackBytes text;
    if (!ReadInputs(scriptPath, sources, flags, &text, &inputs, error)) return false;
    if (report) {
        if (!CheckScript(scriptPath, text, sources, flags, true, &inputs, report, error))
            return false;
    } else if (!scriptPath.empty() && !Script_Compile(std::string(text.begin(), text.end()),
                                                      scriptPath, &inputs.front().data, error)) {
        return false;
    }
    // The script's FILE LIST gives the order of the LZMA build's solid groups.
    for (const PackInput &input : inputs)
        if (Pack_HashName(input.name, flags) == Pack_HashName("install.dat", flags)) {
            const PackBytes script = input.data;
            Pack_SetListOrder(script, flags, &inputs);
            break;
        }
    if (stubPath.empty()) return Pack_BuildStandalone(inputs, flags, outputPath, error, notes);
    if (!Pack_AddUninstaller(stubPath, uninstallerPath, flags, &inputs, bundledUninstaller, error,
                             notes))
        return false;
    return Pack_BuildSetup(stubPath, inputs, flags, outputPath, error, notes);
}
