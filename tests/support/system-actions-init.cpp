// Linked into every Win32 test program: the engine runs on the system's actions there, as in
// the setup program.
#include "actions.h"
#include "removal-actions.h"
#include "removal-system.h"
#include "system-actions.h"

namespace {
struct InstallSystemActions {
    InstallSystemActions() {
        Actions_Set(SystemActions_Get());
        RemovalActions_Set(RemovalSystem_Get());
    }
} installSystemActions;
} // namespace
