// The uninstaller a setup carries: bundled when the script names one (UNINSTALL NAME) and no
// entry is one, refused when two are given or when its machine type is not the stub's, and a
// note when it is signed (the installed copy's signature breaks).
#include "pack-uninstaller.h"

#include <algorithm>

#include "check-names.h"
#include "keywords.h"
#include "pack-file.h"
#include "pack-setup.h"
#include "script-source.h"
#include "tessel-pe.h"
#include "uninst.h"

bool Pack_ScriptNamesUninstaller(const PackBytes &script) {
    bool names = false;
    Script_Walk(script, [&names](const ScriptCommand &command) {
        names = command.id == KW_UNINSTALL_NAME;
        return !names;
    });
    return names;
}

// The folder of path with its separator, or "" for a bare file name.
static std::string FolderOf(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The uninstaller a setup's script asks for, added to inputs when no input is read as
// "uninst.exe" (the same hash: what the setup would load under that name).
// INSTALL appends the script behind the uninstaller on the user's machine: a signature the
// uninstaller carries no longer ends its file there, and verifies no more.
static void NoteSignedUninstaller(const PackBytes &data, const std::string &name,
                                  PackNotes *notes) {
    PeSignature signature;
    if (Pack_ReadSignature(data, &signature) && Pe_IsSigned(&signature, (int64_t)data.size()))
        notes->push_back("the uninstaller " + name + " is signed, but the setup appends its " +
                         "script behind it when it installs it, and the installed copy's " +
                         "signature no longer verifies; store it unsigned");
}

std::string Pack_BundledPath(const std::string &stubPath, const std::string &uninstallerPath) {
    return uninstallerPath.empty() ? FolderOf(stubPath) + UNINST_ENTRY : uninstallerPath;
}

// The machine type of a program's bytes in words ("a 32-bit x86"), or "" when they are no PE
// image of a type these words know.
static std::string MachineOf(const std::vector<uint8_t> &data) {
    uint16_t machine = 0;
    if (!Pe_ReadMachine(data.data(), (int32_t)std::min<size_t>(data.size(), PE_HEAD_SIZE),
                        &machine))
        return "";
    return machine == PE_MACHINE_I386    ? "a 32-bit x86"
           : machine == PE_MACHINE_AMD64 ? "an x64"
                                         : "";
}

// A setup carries programs of one machine type: a 32-bit setup whose uninstaller is an x64
// program would leave the users of 32-bit Windows with one that never starts, and 'ffspack
// test' could not try both. False, with the error, when the stub and the uninstaller differ.
static bool SameMachine(const std::string &stubPath, const std::vector<uint8_t> &uninstaller,
                        const std::string &uninstallerName, std::string *error) {
    std::vector<uint8_t> stub;
    std::string readError;
    if (!Pack_ReadFile(stubPath, &stub, &readError)) return true; // the build says why
    const std::string stubMachine = MachineOf(stub), machine = MachineOf(uninstaller);
    if (stubMachine.empty() || machine.empty() || stubMachine == machine) return true;
    *error = "the uninstaller " + uninstallerName + " is " + machine + " program and the stub " +
             Check_Quoted(stubPath) + " " + stubMachine + " one: a setup carries programs of one " +
             "machine type; store the uninstaller built beside the stub";
    return false;
}

bool Pack_AddUninstaller(const std::string &stubPath, const std::string &uninstallerPath,
                         uint32_t flags, std::vector<PackInput> *inputs, std::string *bundled,
                         std::string *error, PackNotes *notes) {
    const PackInput *script = nullptr, *given = nullptr;
    for (const PackInput &input : *inputs) {
        uint32_t hash = Pack_HashName(input.name, flags);
        if (hash == Pack_HashName("install.dat", flags)) script = &input;
        if (hash == Pack_HashName(UNINST_ENTRY, flags)) given = &input;
    }
    if (given && !uninstallerPath.empty()) {
        *error = "two uninstallers: the entry " + Check_Quoted(given->name) +
                 " and --uninstaller " + Check_Quoted(uninstallerPath) + "; give one of them";
        return false;
    }
    if (given) {
        NoteSignedUninstaller(given->data, Check_Quoted(given->name), notes);
        return SameMachine(stubPath, given->data, Check_Quoted(given->name), error);
    }
    if (!script || !Pack_ScriptNamesUninstaller(script->data)) {
        if (!uninstallerPath.empty())
            notes->push_back(Check_Quoted(uninstallerPath) + " not stored: the script has no " +
                             "UNINSTALL NAME command, so the setup would never write it");
        return true;
    }
    std::string path = Pack_BundledPath(stubPath, uninstallerPath);
    PackInput uninstaller{UNINST_ENTRY, {}};
    std::string readError;
    if (!Pack_ReadFile(path, &uninstaller.data, &readError)) {
        *error = "the script has UNINSTALL NAME, so the setup needs the entry \"" UNINST_ENTRY
                 "\", and there is no uninstaller to store (" +
                 readError + "); pass --uninstaller FILE or an entry " UNINST_ENTRY "=FILE";
        return false;
    }
    NoteSignedUninstaller(uninstaller.data, Check_Quoted(path), notes);
    if (!SameMachine(stubPath, uninstaller.data, Check_Quoted(path), error)) return false;
    inputs->push_back(std::move(uninstaller));
    *bundled = path;
    return true;
}
