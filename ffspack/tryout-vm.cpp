// 'ffspack test' of an i386 setup where this kernel cannot run 32-bit programs: the same
// command run by vm-run.sh inside a virtual machine, the helpers it and the robot are found
// by, and the advice to try the x64 build instead (Linux builder only).
#include "tryout-vm.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tryout-wine.h"

namespace fs = std::filesystem;

// ---- In the virtual machine ----

std::string TryoutVm_FindHelper(const char *variable, const char *installed, const char *inTree) {
    const char *named = getenv(variable);
    if (named && *named) return named;
    std::error_code code;
    fs::path self = fs::read_symlink("/proc/self/exe", code);
    if (code) return "";
    fs::path beside = self.parent_path().parent_path() / "lib/tessel-install" / installed;
    if (fs::exists(beside, code)) return beside.string();
    for (fs::path folder = self.parent_path(); folder != folder.parent_path();
         folder = folder.parent_path())
        if (fs::exists(folder / "scripts/vm-run.sh", code) &&
            fs::exists(folder / "CMakeLists.txt", code))
            return fs::exists(folder / inTree, code) ? (folder / inTree).string() : "";
    return "";
}

// vm-run.sh: TESSEL_VM_RUN, installed, or scripts/vm-run.sh of the source tree.
static std::string FindVmRunner() {
    return TryoutVm_FindHelper("TESSEL_VM_RUN", "vm-run.sh", "scripts/vm-run.sh");
}

// Text as one word of a shell command line.
static std::string ShellWord(const std::string &text) {
    std::string word = "'";
    for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

std::string TryoutVm_X64Advice(const TryoutOptions &options) {
    std::string stub = options.x64Stub.empty()
                           ? "the x64 stub: build/win64/install/setup.exe of a source tree"
                           : "the x64 stub installed with ffspack: " + options.x64Stub;
    return "to try the product here under 64-bit Wine, build it again with 'ffspack build "
           "--arch x64' (" +
           stub +
           ") and try that setup; ship the x86 one, which runs on every Windows (the guide, "
           "docs/publishing.md, says more)";
}

int TryoutVm_Run(const TryoutOptions &options) {
    std::string runner = FindVmRunner();
    if (runner.empty()) {
        fprintf(stderr,
                "ffspack: '%s' is a 32-bit (i386) setup, and this machine's kernel cannot execute "
                "32-bit programs, so 32-bit Wine cannot run here; no vm-run.sh was found to try "
                "it in a virtual machine (TESSEL_VM_RUN names one); %s, or name a Wine with "
                "--wine\n",
                options.setup.c_str(), TryoutVm_X64Advice(options).c_str());
        return 1;
    }
    if (options.keep) {
        fprintf(stderr, "ffspack: --keep cannot keep a prefix made inside the virtual machine\n");
        return 1;
    }
    const char *temp = getenv("TMPDIR");
    std::string job = std::string(temp && *temp ? temp : "/tmp") + "/ffspack-vm-XXXXXX";
    std::error_code code;
    // This program's own file by the name the system gives it: an emulator answers the name of
    // its guest program there, while a read of /proc/self/exe itself fails under one.
    fs::path self = fs::read_symlink("/proc/self/exe", code);
    if (code || !fs::is_regular_file(self, code)) self = "/proc/self/exe";
    code.clear();
    if (!mkdtemp(&job[0]) || !fs::copy_file(options.setup, job + "/setup.exe", code) ||
        !fs::copy_file(self, job + "/ffspack", code)) {
        fprintf(stderr, "ffspack: cannot make the virtual machine's job in '%s': %s\n", job.c_str(),
                code ? code.message().c_str() : strerror(errno));
        fs::remove_all(job, code);
        return 1;
    }
    std::ofstream script(job + "/job.sh");
    script << "exec /job/ffspack test /job/setup.exe --arch " << Wine.arch << " --timeout "
           << options.timeout << (options.wine.empty() ? "" : " --wine " + ShellWord(options.wine))
           << "\n";
    script.close();
    // Each of the four Wine runs may take its timeout; the machine's start comes on top.
    std::string bound = std::to_string(4 * options.timeout + 600);
    printf("ffspack test %s: in a virtual machine (%s)\n", options.setup.c_str(), runner.c_str());
    if (!options.vm)
        printf("It is a 32-bit (i386) setup, and this machine's kernel cannot execute 32-bit "
               "programs: it is tried in a virtual machine whose processors are emulated, which "
               "takes minutes. Or, %s.\n",
               TryoutVm_X64Advice(options).c_str());
    fflush(stdout);
    int status = -1;
    pid_t child = fork();
    if (child == 0) {
        execlp("bash", "bash", runner.c_str(), "--timeout", bound.c_str(), job.c_str(),
               (char *)nullptr);
        _exit(127);
    }
    if (child > 0) waitpid(child, &status, 0);
    fs::remove_all(job, code);
    int result = child > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (result == 0 || result == 1) return result;
    fprintf(stderr, "ffspack: the virtual machine gave no result (%s ended with %d)%s%s\n",
            runner.c_str(), result, options.vm ? "" : "; ",
            options.vm ? "" : TryoutVm_X64Advice(options).c_str());
    return 1;
}
