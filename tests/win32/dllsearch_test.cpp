// The programs' restricted DLL search (Sys_RestrictDllSearch) and the full-path loader of COM
// servers (Sys_LoadDll) with the real loader under Wine. A program of its own: the restriction
// holds for the whole process from its call on. The test DLL (tests/helpers/planted.cpp) adds a
// line to a marker file each time it is loaded, and refuses to stay.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tessel-core.h"
#include "tessel-sys.h"
#include "test-support.h"

using testing_support::MakeTempDir;
using testing_support::ProgramDir;
using testing_support::ReadFile;

namespace {

const char kPlanted[] = "tessel-planted.dll"; // a name no system has

std::string Helpers() { return ProgramDir() + "helpers\\"; }

int Lines(const std::string &text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

std::string SystemDir() {
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    return std::string(path, length) + "\\";
}

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, sizeof path);
    return path;
}

TEST(DllSearch, ABareNameIsFoundBesideTheProgramOnlyBeforeTheRestriction) {
    std::string beside = ProgramDir() + kPlanted, marker = MakeTempDir("dllsearch") + "marker";
    ASSERT_TRUE(CopyFileA((Helpers() + "planted.dll").c_str(), beside.c_str(), FALSE));
    SetEnvironmentVariableA("TESSEL_PLANTED_MARKER", marker.c_str());

    // The control: the default search starts in the program's folder.
    EXPECT_EQ(LoadLibraryA(kPlanted), (HMODULE)NULL); // its DllMain refuses to stay
    EXPECT_EQ(Lines(ReadFile(marker)), 1);
    EXPECT_NE(ReadFile(marker).find(beside + " loaded by "), std::string::npos) << ReadFile(marker);

    EXPECT_EQ(Sys_RestrictDllSearch(), 1); // Wine has SetDefaultDllDirectories
    EXPECT_EQ(LoadLibraryA(kPlanted), (HMODULE)NULL);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(Lines(ReadFile(marker)), 1) << "loaded from the program's folder";

    // The DLLs the system loads lazily are loaded, from the system folder.
    for (const char *name : {"msimg32.dll", "uxtheme.dll", "version.dll"}) {
        HMODULE module = GetModuleHandleA(name);
        ASSERT_NE(module, (HMODULE)NULL) << name;
        EXPECT_EQ(_stricmp(ModulePath(module).c_str(), (SystemDir() + name).c_str()), 0)
            << ModulePath(module);
    }

    // A full path is loaded as it is; a bare name is refused without a search.
    EXPECT_EQ(Sys_LoadDll(beside.c_str()), nullptr);
    EXPECT_EQ(Lines(ReadFile(marker)), 2);
    EXPECT_EQ(Sys_LoadDll(kPlanted), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Sys_LoadDll(".\\tessel-planted.dll"), nullptr);
    EXPECT_EQ(Lines(ReadFile(marker)), 2);
    DeleteFileA(beside.c_str());
}

TEST(DllSearch, AServerFindsItsDependencyInItsOwnFolderUnderTheRestriction) {
    Sys_RestrictDllSearch();
    std::string folder = MakeTempDir("dllsearch-server");
    for (const char *name : {"comserver.dll", "relayserver.dll"})
        ASSERT_TRUE(CopyFileA((Helpers() + name).c_str(), (folder + name).c_str(), FALSE));
    void *relay = Sys_LoadDll((folder + "relayserver.dll").c_str());
    ASSERT_NE(relay, nullptr) << GetLastError();
    EXPECT_NE(GetModuleHandleA((folder + "comserver.dll").c_str()), (HMODULE)NULL);
    FreeLibrary((HMODULE)relay);
    // Without it beside, the dependency is not looked for elsewhere.
    DeleteFileA((folder + "comserver.dll").c_str());
    EXPECT_EQ(Sys_LoadDll((folder + "relayserver.dll").c_str()), nullptr);
}

} // namespace
