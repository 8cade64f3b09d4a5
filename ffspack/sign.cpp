// Signing a finished setup with osslsigncode, and the proof that the signed file still passes
// the setup's integrity check.
#include "sign.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "pack-read.h"

#if !defined(_WIN32)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#endif

bool Sign_IsPkcs12(const std::string &certificate) {
    std::string lower;
    for (char c : certificate) lower += (char)tolower((unsigned char)c);
    auto endsWith = [&](const char *suffix) {
        size_t n = strlen(suffix);
        return lower.size() >= n && lower.compare(lower.size() - n, n, suffix) == 0;
    };
    return endsWith(".p12") || endsWith(".pfx");
}

#if defined(_WIN32)
// The Windows build of the builder runs its tests; signing is the Linux builder's.
bool Sign_Setup(const SignOptions &options, const std::string &built, const std::string &path,
                std::string *error) {
    (void)options;
    (void)path;
    remove(built.c_str());
    *error = "signing is done by the builder on Linux (osslsigncode); no setup was written";
    return false;
}
#else
// 1 when program can be run: a path that is an executable file, or a name that PATH finds one
// for. Asked before the start, since posix_spawnp cannot tell a missing program from one that
// ends with 127 where the C library or an emulator starts the child as a copy of the process.
static bool CanRun(const std::string &program) {
    if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
    const char *path = getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = std::min(folders.find(':', start), folders.size());
        std::string folder = folders.substr(start, end - start);
        if (folder.empty()) folder = ".";
        if (access((folder + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// Runs the tool with its arguments, its output passed through; the exit code, or -1 when it
// cannot be run.
static int Run(const std::vector<std::string> &arguments) {
    if (!CanRun(arguments[0])) return -1;
    std::vector<char *> argv;
    for (const std::string &argument : arguments) argv.push_back((char *)argument.c_str());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// The password of the environment in a file that only its owner can read, for the tool's
// -readpass; empty when there is none or it cannot be written.
static std::string PasswordFromEnvironment() {
    const char *password = getenv("FFSPACK_SIGN_PASSWORD");
    if (!password) return "";
    char path[] = "/tmp/ffspack-pass-XXXXXX";
    int descriptor = mkstemp(path); // created with mode 0600
    if (descriptor < 0) return "";
    size_t length = strlen(password);
    bool written = write(descriptor, password, length) == (ssize_t)length;
    close(descriptor);
    if (!written) {
        unlink(path);
        return "";
    }
    return path;
}

bool Sign_Setup(const SignOptions &options, const std::string &built, const std::string &path,
                std::string *error) {
    const std::string &unsigned_ = built;
    const std::string signed_ = path + ".signing";
    remove(signed_.c_str());
    std::vector<std::string> command = {options.tool, "sign"};
    if (Sign_IsPkcs12(options.certificate)) {
        command.insert(command.end(), {"-pkcs12", options.certificate});
    } else {
        command.insert(command.end(), {"-certs", options.certificate, "-key", options.key});
    }
    std::string environmentPassword;
    if (!options.passwordFile.empty()) {
        command.insert(command.end(), {"-readpass", options.passwordFile});
    } else if (!(environmentPassword = PasswordFromEnvironment()).empty()) {
        command.insert(command.end(), {"-readpass", environmentPassword});
    }
    if (!options.timestampUrl.empty()) command.insert(command.end(), {"-t", options.timestampUrl});
    command.insert(command.end(), {"-in", unsigned_, "-out", signed_});
    int code = Run(command);
    if (!environmentPassword.empty()) unlink(environmentPassword.c_str());
    unlink(unsigned_.c_str());
    if (code != 0) {
        unlink(signed_.c_str());
        *error = code < 0 ? "cannot run '" + options.tool + "' (install osslsigncode)"
                          : "'" + options.tool + " sign' failed (exit code " +
                                std::to_string(code) + "); no setup was written";
        return false;
    }
    std::vector<std::string> report;
    if (!Pack_Verify(signed_, &report)) {
        unlink(signed_.c_str());
        *error = "the signed setup does not pass its integrity check; no setup was written";
        for (const std::string &line : report) *error += "\n  " + line;
        return false;
    }
    if (rename(signed_.c_str(), path.c_str()) != 0) {
        *error = "cannot put the signed setup in the place of '" + path + "': " + strerror(errno);
        unlink(signed_.c_str());
        return false;
    }
    return true;
}
#endif
