// ffspack, the builder: makes a finished setup from the stub and the product's files after
// checking its script, checks a script alone, lists, verifies or extracts the archive of a
// finished one, and tries one under Wine. Exit code 0 on success, 1 when the work
// failed (bad input, a damaged file), 2 for a command line it does not understand.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ffs.h"
#include "pack-lzma.h"
#include "pack.h"
#include "pe-resources.h"
#include "sign.h"
#include "tessel-core.h"
#include "tessel-pe.h"
#include "tryout.h"
#include "version-resource.h"

namespace fs = std::filesystem;

namespace {

const char *kHelp =
    "ffspack: builds and inspects setup programs with an FFS archive.\n"
    "\n"
    "Usage:\n"
    "  ffspack build [--arch x86|x64 | --stub STUB] -o SETUP [--script FILE]\n"
    "                [--uninstaller FILE] [--flags N]\n"
    "                [--sign CERT [--key KEY] [--password-file FILE] [--timestamp URL]]\n"
    "                [--no-check] [--jobs N] [--codec type2|lzma|store]\n"
    "                [--dir FOLDER]... [ENTRY]...\n"
    "  ffspack build --standalone -o ARCHIVE [--flags N] [--codec type2|lzma|store]\n"
    "                [--dir FOLDER]... [ENTRY]...\n"
    "  ffspack check SCRIPT [--stub STUB | --uninstaller FILE] [--flags N]\n"
    "                [--dir FOLDER]... [ENTRY]...\n"
    "  ffspack script FILE -o INSTALL.DAT\n"
    "  ffspack list SETUP [--dir FOLDER]... [NAME]...\n"
    "  ffspack verify SETUP\n"
    "  ffspack extract SETUP -o FOLDER NAME...\n"
    "  ffspack test SETUP [--arch win32|win64] [--vm] [--wine PROGRAM] [--keep]\n"
    "               [--timeout SECONDS] [--screens FOLDER]\n"
    "  ffspack --help | --version\n"
    "\n"
    "build   appends an archive of the entries to a copy of STUB (the setup program as\n"
    "        built, e.g. build/win32/install/setup.exe; without --stub the one installed\n"
    "        with ffspack for --arch: x86, the default, ../share/tessel/setup.exe; x64,\n"
    "        ../share/tessel/x64/setup.exe), writes the trailer and then the\n"
    "        integrity stamp over the whole file. The setup refuses to run when any byte of\n"
    "        the finished file changes. Entries are compressed where that shrinks them,\n"
    "        with the codec that --codec names: type2 (the default), lzma (each entry one\n"
    "        LZMA block; programs beginning with \"MZ\" also tried behind the x86 converter,\n"
    "        kept where smaller; FILE LIST files in solid blocks of up to 4 MiB where that\n"
    "        is smaller; equal files stored once; slower to build) or store (none). Every\n"
    "        block is decoded back with the setup's own decoder before it is stored. Data\n"
    "        that begins with \"FFC@\", \"FFL@\" or \"FFG@\" is always encoded (raw, it would\n"
    "        be taken for a block or a reference): with LZMA under lzma, else with Type2.\n"
    "        ENTRY is NAME=PATH (the file PATH, stored under the archive name NAME) or PATH\n"
    "        (stored under its file name). --dir FOLDER stores every file below FOLDER under\n"
    "        its relative path with backslashes (\"docs\\readme.txt\"); a link is stored as\n"
    "        the file it names when that lies in FOLDER, and refuses the build when it leads\n"
    "        out of it (links to folders are not followed). The archive names are\n"
    "        the names the script asks for: \"install.dat\" (the script, required by the\n"
    "        setup), \"uninst.exe\", the files of FILE LIST, fonts and texts.\n"
    "        --script FILE compiles the script's text form (see 'script') and stores it as\n"
    "        \"install.dat\".\n"
    "        When the script has UNINSTALL NAME and no entry \"uninst.exe\" is given, the\n"
    "        uninstaller \"uninst.exe\" beside STUB is stored as that entry, or the one that\n"
    "        --uninstaller FILE names; the build is refused when there is none. A script\n"
    "        without UNINSTALL NAME gets no uninstaller.\n"
    "        The setup gets version information (shown on its Properties page) from the\n"
    "        script's COMPANY NAME, PRODUCT NAME and PRODUCT VERSION: \"<product> <version>\n"
    "        Setup\" as its description, the file version from the version's numbers (at\n"
    "        most four, each at most 65535; more refuse the build). A version resource of\n"
    "        the stub is replaced.\n"
    "        --flags N sets the archive flags (default 6: names compared in any letter case).\n"
    "        --sign CERT signs the finished setup (Authenticode, through osslsigncode): CERT\n"
    "        is a PEM certificate with --key KEY its PEM private key, or a PKCS#12 file\n"
    "        (.p12, .pfx). The key's password is read from --password-file FILE or from the\n"
    "        environment variable FFSPACK_SIGN_PASSWORD, never from the command line.\n"
    "        --timestamp URL has the signature timestamped by that server. The signed\n"
    "        setup is checked as the setup checks itself; a setup can as well be signed\n"
    "        afterwards with any tool (osslsigncode, signtool).\n"
    "        --jobs N compresses N entries at a time (default: one a core); the setup is the\n"
    "        same byte for byte whatever N is.\n"
    "        --standalone writes the archive alone, without stub, trailer or stamp.\n"
    "        The script (--script FILE, or an entry \"install.dat\") is checked first, as\n"
    "        'check' does: errors refuse the build, warnings are printed and the build goes\n"
    "        on. When the text form has a FILE LIST and no INSTALL SIZE, the size of the\n"
    "        FILE LIST files in KB (rounded up) is written as its first command. --no-check\n"
    "        builds the script and the entries' names as they are (for tests of the setup's\n"
    "        own handling of faults).\n"
    "        Nothing is written unless the whole setup could be built.\n"
    "check   checks SCRIPT against the entries the build would get, without building.\n"
    "        SCRIPT is the text form, or a compiled script when its name is install.dat.\n"
    "        Each finding names the script, the line and the keyword. Errors: a keyword the\n"
    "        setup does not run; more arguments than the keyword takes, or fewer when\n"
    "        another command follows (the setup would lose it) or the command fails\n"
    "        without them; an argument the setup refuses as too long, a number outside 32\n"
    "        signed bits; a FILE LIST item, MESSAGE or AGREEMENT text, FONT file or\n"
    "        uninstaller that is not among the entries; a name that no file on Windows can\n"
    "        have, in an entry (named by its file), a FILE LIST item (its archive name,\n"
    "        behind its macros), a MESSAGE, AGREEMENT or FONT name, or UNINSTALL NAME (where\n"
    "        it may start with a drive): a control character, a component \"..\", a drive\n"
    "        (\"C:\"), a start at a root ('/', or a second leading backslash), a device name\n"
    "        as a component, with or without extension (CON, PRN, AUX, NUL, COM1-COM9,\n"
    "        LPT1-LPT9, CONIN$, CONOUT$), a component ending with a dot or a blank; two\n"
    "        FILE LIST items that differ only in letter case, or are the same; two entries\n"
    "        that are one name to the setup (letter case, or one hash); INSTALL SIZE after\n"
    "        UNINSTALL NAME; a company and product too long for the uninstall key that DONE\n"
    "        writes; a second BREAK; INSTALL before any INSTALL PATH; in a compiled script,\n"
    "        bare LF line ends, no command marker at all, and bytes in an argument that the\n"
    "        setup takes for its end. Warnings: an argument the setup cuts, fewer arguments\n"
    "        at the end of the script, an entry the script never names, a STRING face that\n"
    "        is no system font and that no FONT adds. Exit code 0 without errors, 1 with\n"
    "        errors.\n"
    "        The uninstaller counts as bundled unless --stub or --uninstaller names the\n"
    "        place the build would take it from and there is none.\n"
    "script  compiles the text form of a script: one command a line, KEYWORD:argument,\n"
    "        arguments separated by '|' (\"\\|\" is a '|' inside an argument); empty lines\n"
    "        and lines beginning with '#' are remarks. Keywords the setup does not run and\n"
    "        bytes it would take for the end of an argument (below 32, 128 and above) are\n"
    "        refused with the line they are on.\n"
    "list    shows every entry: hash, stored length, method (raw, Type2, LZMA, LZMA+x86; a\n"
    "        16-byte reference: \"in <group N>\", \"copy of NAME\"), size, ratio (stored\n"
    "        length of size), and the name when it is a NAME given, a file below a --dir\n"
    "        FOLDER or a group (with the count of the files it holds).\n"
    "verify  checks the integrity stamp, decodes every entry (one line each: method,\n"
    "        stored length of size, ratio) and prints the version information; exit code 0\n"
    "        when all pass.\n"
    "extract writes the named entries into FOLDER (created when missing).\n"
    "test    tries SETUP as a user would meet it. In a new Wine prefix of its own (under\n"
    "        $TMPDIR or /tmp, without a display, its Desktop and Documents kept apart from\n"
    "        your home folder) it runs \"setup.exe -Quiet -debug\" and shows the files,\n"
    "        shortcuts and registry values it wrote, its uninstall entry, its exit code and\n"
    "        the failures its debug.log reports; then it runs the uninstaller that the entry\n"
    "        names, quietly, and shows its exit code, its log's failures and everything it\n"
    "        leaves behind. Exit code 0 when the setup ended with 1 and its uninstaller with\n"
    "        1, leaving nothing; 1 otherwise: an uninstaller written and no entry naming it,\n"
    "        or no uninstaller to remove what the setup wrote, fails, and so does a program\n"
    "        that never started (no log written: Wine's launcher ends with 1 too when it\n"
    "        cannot load a program). An i386 setup runs in a\n"
    "        32-bit prefix under 'wine', an x86-64 one in a 64-bit prefix under\n"
    "        /usr/lib/wine/wine64; --arch win64 tries an i386 setup in a 64-bit prefix (as on\n"
    "        64-bit Windows); --wine PROGRAM names another Wine. Where the kernel cannot\n"
    "        execute 32-bit programs, an i386 setup is tried in a virtual machine\n"
    "        (scripts/vm-run.sh: qemu, minutes); --vm does so anyway. --timeout SECONDS\n"
    "        bounds each run (default 300, at most 86400); then the Wine server is killed.\n"
    "        --keep keeps the prefix (not one made in the virtual machine).\n"
    "        --screens FOLDER runs the setup interactively instead, on a virtual display of\n"
    "        its own (Xvfb, a Wine desktop of 800 x 600), with the test robot pressing the\n"
    "        button that goes on in each dialog and box (OK, Continue, I Accept, else Yes);\n"
    "        the screen at each step becomes FOLDER/NN-title.png, in order. The rest of the\n"
    "        try-out is the same.\n"
    "\n"
    "Example:\n"
    "  ffspack build --stub setup-stub.exe -o setup.exe --script setup.txt \\\n"
    "          --dir product\n";

int Usage(const std::string &problem) {
    fprintf(stderr, "ffspack: %s\nRun 'ffspack --help' for the usage.\n", problem.c_str());
    return 2;
}

int Fail(const std::string &problem) {
    fprintf(stderr, "ffspack: %s\n", problem.c_str());
    return 1;
}

// An entry of the command line: NAME=PATH, or PATH stored under its file name.
PackSource EntryOf(const std::string &arg) {
    size_t equals = arg.find('=');
    if (equals == std::string::npos) return PackSource{fs::path(arg).filename().string(), arg};
    return PackSource{arg.substr(0, equals), arg.substr(equals + 1)};
}

// The checks' findings, on the error output as a compiler gives them.
void PrintReport(const CheckReport &report) {
    fflush(stdout);
    for (const CheckMessage &message : report)
        fprintf(stderr, "%s\n", Check_Format(message).c_str());
}

bool ParseFlags(const char *text, uint32_t *flags) {
    char *end = nullptr;
    unsigned long value = strtoul(text, &end, 0);
    if (!*text || *end || value > 0xFFFFFFFFul) return false;
    *flags = (uint32_t)value;
    return true;
}

int CompileCommand(int argc, char **argv) {
    std::string path, output, error;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if ((arg == "-o" || arg == "--output") && i + 1 < argc)
            output = argv[++i];
        else if (path.empty())
            path = arg;
        else
            return Usage("script takes one FILE");
    }
    if (path.empty() || output.empty()) return Usage("script needs FILE and -o INSTALL.DAT");
    PackBytes script;
    if (!Pack_CompileScript(path, &script, &error)) return Fail(error);
    if (!Pack_WriteFile(output, script, &error)) return Fail(error);
    printf("%s: %s bytes\n", output.c_str(), std::to_string(script.size()).c_str());
    return 0;
}

// The stubs an installed ffspack carries beside its bin/ folder, one for each machine type, each
// with its uninstaller beside it. x86 is the one publishers ship (it runs on every Windows).
struct Arch {
    const char *name, *folder, *words;
    uint16_t machine;
};
const Arch kArches[] = {
    {"x86", "share/tessel/setup.exe", "a 32-bit x86", PE_MACHINE_I386},
    {"x64", "share/tessel/x64/setup.exe", "an x64", PE_MACHINE_AMD64},
};

const Arch *ArchNamed(const std::string &name) {
    for (const Arch &arch : kArches)
        if (name == arch.name) return &arch;
    return nullptr;
}

// The installed stub of arch: "" when there is none.
std::string InstalledStub(const Arch &arch) {
    std::error_code code;
    fs::path self = fs::read_symlink("/proc/self/exe", code);
    if (code) return "";
    fs::path stub = self.parent_path() / ".." / arch.folder;
    return fs::is_regular_file(stub, code) ? stub.string() : "";
}

// The machine type of the program at path; 0 when it is none (or cannot be read).
uint16_t MachineOf(const std::string &path) {
    uint8_t head[PE_HEAD_SIZE];
    FILE *file = fopen(path.c_str(), "rb");
    if (!file) return 0;
    size_t got = fread(head, 1, sizeof head, file);
    fclose(file);
    uint16_t machine = 0;
    return Pe_ReadMachine(head, (int32_t)got, &machine) ? machine : 0;
}

// The build command's line.
struct BuildOptions {
    std::string stub, output, scriptPath, uninstaller;
    const Arch *arch = nullptr;
    SignOptions sign;
    bool standalone = false, check = true;
    uint32_t flags = PACK_DEFAULT_FLAGS;
    std::vector<PackSource> sources;
};

// Reads the build command's arguments into *options, the folders of --dir walked as they come.
// Returns -1 when they are read, else the command's exit code (the problem printed).
int ReadBuildOptions(int argc, char **argv, BuildOptions *options) {
    std::string error;
    SignOptions &sign = options->sign;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--stub" && hasValue) {
            options->stub = argv[++i];
        } else if (arg == "--arch" && hasValue) {
            options->arch = ArchNamed(argv[++i]);
            if (!options->arch)
                return Usage("--arch is x86 (the stub for every Windows) or x64, not '" +
                             std::string(argv[i]) + "'");
        } else if ((arg == "-o" || arg == "--output") && hasValue) {
            options->output = argv[++i];
        } else if (arg == "--flags" && hasValue) {
            if (!ParseFlags(argv[++i], &options->flags)) return Usage("--flags needs a number");
        } else if (arg == "--dir" && hasValue) {
            if (!Pack_ScanFolder(argv[++i], &options->sources, &error)) return Fail(error);
        } else if (arg == "--script" && hasValue) {
            options->scriptPath = argv[++i];
        } else if (arg == "--uninstaller" && hasValue) {
            options->uninstaller = argv[++i];
        } else if (arg == "--sign" && hasValue) {
            sign.certificate = argv[++i];
        } else if (arg == "--key" && hasValue) {
            sign.key = argv[++i];
        } else if (arg == "--password-file" && hasValue) {
            sign.passwordFile = argv[++i];
        } else if (arg == "--timestamp" && hasValue) {
            sign.timestampUrl = argv[++i];
        } else if (arg == "--jobs" && hasValue) {
            uint32_t jobs = 0;
            if (!ParseFlags(argv[++i], &jobs) || jobs < 1 || jobs > PACK_MAX_JOBS)
                return Usage("--jobs needs a number from 1 to " + std::to_string(PACK_MAX_JOBS));
            Pack_SetJobs((int)jobs);
        } else if (arg == "--codec" && hasValue) {
            PackCodec codec = PACK_CODEC_TYPE2;
            if (!Pack_CodecNamed(argv[++i], &codec))
                return Usage("--codec is type2 (the default), lzma or store, not '" +
                             std::string(argv[i]) + "'");
            if (codec == PACK_CODEC_LZMA && !Pack_LzmaAvailable())
                return Usage("this ffspack has no LZMA encoder (built without liblzma): use "
                             "--codec type2 or store");
            Pack_SetCodec(codec);
        } else if (arg == "--standalone") {
            options->standalone = true;
        } else if (arg == "--no-check") {
            options->check = false;
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage("unknown or incomplete option '" + arg + "'");
        } else {
            options->sources.push_back(EntryOf(arg));
        }
    }
    return -1;
}

// Refuses options that do not go together, and chooses the installed stub when none is given.
// Returns -1 when the build can go on, else the command's exit code (the problem printed).
int CheckBuildOptions(BuildOptions *options) {
    const std::string &stub = options->stub;
    const Arch *arch = options->arch;
    const SignOptions &sign = options->sign;
    bool standalone = options->standalone;
    if (options->output.empty()) return Usage("build needs -o SETUP");
    if (standalone && arch) return Usage("--arch is for a setup; an archive has no stub");
    if (!stub.empty() && arch && MachineOf(stub) != arch->machine)
        return Usage("--stub '" + stub + "' is not " + arch->words + " program, as --arch " +
                     arch->name + " asks: give one of the two");
    if (stub.empty() && !standalone) {
        const Arch &chosen = arch ? *arch : kArches[0];
        options->stub = InstalledStub(chosen);
        if (options->stub.empty())
            return Usage("build needs --stub STUB (or --standalone); no " +
                         std::string(chosen.name) + " stub is installed beside ffspack (../" +
                         chosen.folder + ")");
    }
    if (options->sources.empty() && options->scriptPath.empty())
        return Usage("build needs at least one entry");
    if (standalone && !options->uninstaller.empty())
        return Usage("--uninstaller is for a setup; a stand-alone archive takes it as an entry");
    bool signing = !sign.certificate.empty();
    if (standalone && signing) return Usage("--sign is for a setup; an archive is not a program");
    if (!signing && (!sign.key.empty() || !sign.passwordFile.empty() || !sign.timestampUrl.empty()))
        return Usage("--key, --password-file and --timestamp go with --sign");
    if (signing && sign.key.empty() && !Sign_IsPkcs12(sign.certificate))
        return Usage("--sign with a PEM certificate needs --key KEY (or give a .p12/.pfx file)");
    return -1;
}

int Build(int argc, char **argv) {
    BuildOptions options;
    int refused = ReadBuildOptions(argc, argv, &options);
    if (refused < 0) refused = CheckBuildOptions(&options);
    if (refused >= 0) return refused;
    const std::string &output = options.output;
    const SignOptions &sign = options.sign;
    bool signing = !sign.certificate.empty();
    PackNotes notes;
    CheckReport report;
    std::string bundled, error;
    // A setup to sign is built under its own name in a folder beside the output, which it
    // replaces only once signed (the name is part of the version information).
    std::string target = output, aside;
    if (signing) {
        aside = output + ".ffspack-sign";
        std::error_code made;
        fs::remove_all(aside, made);
        if (!fs::create_directory(aside, made))
            return Fail("cannot make the folder '" + aside + "' to sign in");
        target = (fs::path(aside) / fs::path(output).filename()).string();
    }
    bool built = Pack_BuildFiles(options.standalone ? "" : options.stub, options.uninstaller,
                                 options.scriptPath, options.sources, options.flags, target,
                                 &bundled, &error, &notes, options.check ? &report : nullptr);
    if (!built && !aside.empty()) fs::remove_all(aside);
    PrintReport(report);
    if (!built) return Fail(error);
    for (const std::string &note : notes) printf("note: %s\n", note.c_str());
    if (!bundled.empty()) printf("bundled uninstaller: %s\n", bundled.c_str());
    if (signing) {
        fflush(stdout);
        bool signedIt = Sign_Setup(sign, target, output, &error);
        fs::remove_all(aside);
        if (!signedIt) return Fail(error);
        printf("signed with %s\n", sign.certificate.c_str());
    }
    size_t entries =
        options.sources.size() + (options.scriptPath.empty() ? 0 : 1) + (bundled.empty() ? 0 : 1);
    std::error_code code;
    printf("%s: %s entries, %s bytes\n", output.c_str(), std::to_string(entries).c_str(),
           std::to_string(fs::file_size(output, code)).c_str());
    return 0;
}

int Check(int argc, char **argv) {
    std::string scriptPath, stub, uninstaller, error;
    uint32_t flags = PACK_DEFAULT_FLAGS;
    std::vector<PackSource> sources;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--dir" && hasValue) {
            if (!Pack_ScanFolder(argv[++i], &sources, &error)) return Fail(error);
        } else if (arg == "--flags" && hasValue) {
            if (!ParseFlags(argv[++i], &flags)) return Usage("--flags needs a number");
        } else if (arg == "--stub" && hasValue) {
            stub = argv[++i];
        } else if (arg == "--uninstaller" && hasValue) {
            uninstaller = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage("unknown or incomplete option '" + arg + "'");
        } else if (scriptPath.empty()) {
            scriptPath = arg;
        } else {
            sources.push_back(EntryOf(arg));
        }
    }
    if (scriptPath.empty()) return Usage("check needs a SCRIPT");
    // The findings name the script as it was given; so does the summary.
    std::string scriptArgument = scriptPath;
    // A compiled script is checked as the build checks an entry "install.dat".
    std::string scriptName = fs::path(scriptPath).filename().string();
    if (Ffs_HashNameFlags(scriptName.c_str(), flags) == Ffs_HashNameFlags("install.dat", flags)) {
        sources.insert(sources.begin(), PackSource{"install.dat", scriptPath});
        scriptPath.clear();
    }
    CheckReport report;
    bool passed = Pack_CheckFiles(stub, uninstaller, scriptPath, sources, flags, &report, &error);
    PrintReport(report);
    if (!passed) return Fail(error);
    size_t warnings = Check_Count(report, CHECK_WARNING);
    printf("%s: no errors, %s %s\n", scriptArgument.c_str(), std::to_string(warnings).c_str(),
           warnings == 1 ? "warning" : "warnings");
    return 0;
}

// The version information of the setup at path, as 'verify' shows it; false when it is
// damaged. An archive alone (no image) shows nothing.
bool PrintVersion(const std::string &path) {
    PackBytes file;
    VersionInfo info;
    std::string error;
    if (!Pack_ReadFile(path, &file, &error)) return true; // the archive's reader says why
    int found = VersionRes_Read(file, &info, &error);
    if (found < 0) printf("version: DAMAGED (%s)\n", error.c_str());
    if (found == 0 && PeRes_IsImage(file)) printf("version: none\n");
    if (found <= 0) return found == 0;
    std::vector<std::string> lines = VersionRes_Describe(info);
    for (size_t i = 0; i < lines.size(); i++)
        printf("%s%s\n", i == 0 ? "version: " : "  ", lines[i].c_str());
    return true;
}

int List(int argc, char **argv) {
    std::string path, error;
    std::vector<std::string> names;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc) {
            std::vector<PackSource> sources;
            if (!Pack_ScanFolder(argv[++i], &sources, &error)) return Fail(error);
            for (const PackSource &source : sources) names.push_back(source.name);
        } else if (path.empty()) {
            path = arg;
        } else {
            names.push_back(arg);
        }
    }
    if (path.empty()) return Usage("list needs a SETUP");
    std::vector<PackEntryInfo> entries;
    uint32_t flags = 0;
    if (!Pack_List(path, names, &entries, &flags, &error)) return Fail(error);
    printf("%s: %s entries, flags 0x%X\n", path.c_str(), std::to_string(entries.size()).c_str(),
           flags);
    printf("%-10s %10s %-8s %10s %6s  %s\n", "hash", "stored", "method", "size", "ratio", "name");
    for (const PackEntryInfo &entry : entries) {
        const std::string name = (entry.name.empty() ? "?" : entry.name) + Pack_Holds(entry);
        printf("0x%08X %10d %-8s %10d %6s  %s\n", entry.hash, entry.storedLength,
               entry.method.c_str(), entry.size, Pack_Ratio(entry).c_str(), name.c_str());
    }
    return 0;
}

int Verify(int argc, char **argv) {
    if (argc != 1) return Usage("verify needs exactly one SETUP");
    std::vector<std::string> report;
    bool passed = Pack_Verify(argv[0], &report);
    for (const std::string &line : report) printf("%s\n", line.c_str());
    passed = PrintVersion(argv[0]) && passed;
    printf("%s: %s\n", argv[0], passed ? "OK" : "FAILED");
    return passed ? 0 : 1;
}

int Extract(int argc, char **argv) {
    std::string path, folder, error;
    std::vector<std::string> names;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if ((arg == "-o" || arg == "--output") && i + 1 < argc)
            folder = argv[++i];
        else if (path.empty())
            path = arg;
        else
            names.push_back(arg);
    }
    if (path.empty() || folder.empty() || names.empty())
        return Usage("extract needs SETUP, -o FOLDER and at least one NAME");
    for (const std::string &name : names) {
        PackBytes data;
        if (!Pack_Extract(path, name, &data, &error)) return Fail(error);
        std::string relative = name;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        fs::path target = fs::path(folder) / fs::path(relative).relative_path();
        std::error_code code;
        fs::create_directories(target.parent_path(), code);
        if (!Pack_WriteFile(target.string(), data, &error)) return Fail(error);
        printf("%s -> %s (%s bytes)\n", name.c_str(), target.string().c_str(),
               std::to_string(data.size()).c_str());
    }
    return 0;
}

int Test(int argc, char **argv) {
    TryoutOptions options;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--wine" && hasValue) {
            options.wine = argv[++i];
        } else if (arg == "--arch" && hasValue) {
            options.arch = argv[++i];
            if (options.arch != "win32" && options.arch != "win64")
                return Usage("--arch is win32 or win64");
        } else if (arg == "--screens" && hasValue) {
            options.screens = argv[++i];
        } else if (arg == "--vm") {
            options.vm = true;
        } else if (arg == "--keep") {
            options.keep = true;
        } else if (arg == "--timeout" && hasValue) {
            uint32_t seconds = 0;
            if (!ParseFlags(argv[++i], &seconds) || seconds < 1 || seconds > TRYOUT_TIMEOUT_MAX)
                return Usage("--timeout needs a number of seconds from 1 to " +
                             std::to_string(TRYOUT_TIMEOUT_MAX));
            options.timeout = (int)seconds;
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage("unknown or incomplete option '" + arg + "'");
        } else if (options.setup.empty()) {
            options.setup = arg;
        } else {
            return Usage("test takes one SETUP");
        }
    }
    if (options.setup.empty()) return Usage("test needs a SETUP");
    options.x64Stub = InstalledStub(*ArchNamed("x64"));
    return Tryout_Run(options);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) return Usage("no command given");
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        fputs(kHelp, stdout);
        return 0;
    }
    if (command == "--version" || command == "version") {
        if (argc > 2) return Usage(command + " takes no arguments");
        printf("ffspack %s\n", TESSEL_VERSION);
        return 0;
    }
    Log_Init("ffspack.log", 0);
    Mem_Init(MEM_NO_LIMIT, 0);
    int result;
    if (command == "build")
        result = Build(argc - 2, argv + 2);
    else if (command == "check")
        result = Check(argc - 2, argv + 2);
    else if (command == "script")
        result = CompileCommand(argc - 2, argv + 2);
    else if (command == "list")
        result = List(argc - 2, argv + 2);
    else if (command == "verify")
        result = Verify(argc - 2, argv + 2);
    else if (command == "extract")
        result = Extract(argc - 2, argv + 2);
    else if (command == "test")
        result = Test(argc - 2, argv + 2);
    else
        result = Usage("unknown command '" + command + "'");
    return result;
}
