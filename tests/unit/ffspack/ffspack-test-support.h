// What the tests of the ffspack command share (host tree): the command run as a user runs it,
// with its exit code and everything it printed, and a stub with its one unstamped record.
#pragma once
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include "test-support.h"

namespace ffspack_test {

struct Outcome {
    int code;
    std::string output;
};

// A shell command's exit code and its output and error output.
inline Outcome RunCommand(const std::string &line) {
    std::string command = line + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    std::string output;
    char chunk[512];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    int status = pclose(pipe);
    return {WEXITSTATUS(status), output};
}

// The command with its arguments, under the environment's assignments given ("NAME=value ").
inline Outcome RunFfspack(const std::string &arguments, const std::string &environment = "") {
    return RunCommand(environment + TESSEL_FFSPACK_RUN TESSEL_FFSPACK_PATH " " + arguments);
}

inline std::string Stub(const std::string &dir) {
    std::string path = dir + "stub.exe";
    testing_support::WriteFile(path, std::string("MZ") + std::string(200, '.') +
                                         "|TesselStampUnwritten|" + std::string(1, '\0') +
                                         std::string(100, '.'));
    return path;
}

} // namespace ffspack_test
