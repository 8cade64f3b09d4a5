// The failure rule of the setup's and the uninstaller's logs, as 'ffspack test' reports them.
// Pure and tested on the host.
#pragma once
#include <string>

// true when a line of the setup's or the uninstaller's log reports a failure.
bool Tryout_IsFailure(const std::string &line);
