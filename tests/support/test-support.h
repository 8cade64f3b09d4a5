// Helpers shared by the unit tests: temporary folders and whole-file reads and writes.
#pragma once
#include <string>
#include <vector>

namespace testing_support {
// A fresh empty folder under the system's temporary folder, ending in a separator.
std::string MakeTempDir(const std::string &tag);
// The whole file, or "" with ok = false when it cannot be read.
std::string ReadFile(const std::string &path, bool *ok = nullptr);
// The whole text file with the platform's line ends ("\r\n" on Windows) read back as "\n".
std::string ReadText(const std::string &path);
bool WriteFile(const std::string &path, const std::string &data);
bool FileExists(const std::string &path);
void RemoveFile(const std::string &path);
// Folder of the running test program, ending in a separator.
std::string ProgramDir();
// Starts the debug log as the file logName beside the program (emptied first, no banner);
// returns its path.
std::string StartFileLog(const char *logName);
// Stops the log and returns what it holds; the file is removed.
std::string StopFileLog(const char *logName);
#if defined(_WIN32)
// 1 when Wine can create windows (the program runs on a display). Without one the cases that
// need windows skip; in a display run (TESSEL_NEED_DISPLAY set) a missing window is a failure.
bool DisplayAvailable();
// A message box or dialog of this process as the user saw it: its title and its static texts.
struct SeenBox {
    std::string title, text;
};
// Answers the next boxes of this process (visible "#32770" windows), one button id each, and
// records them; each waits up to 20 s to appear and is gone before the next is looked for.
void AnswerBoxes(std::vector<int> buttons, std::vector<SeenBox> *seen);
#endif
} // namespace testing_support
