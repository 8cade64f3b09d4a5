// The record of the engine's operations on the machine in force.
#include "actions.h"

#include "tessel-core.h"

static struct {
    const InstallActions *actions; // none until a program or a test installs its record
} S;

int Actions_Set(const InstallActions *actions) {
    S.actions = actions;
    return 1;
}

const InstallActions *Actions_Get(void) {
    if (!S.actions) {
        Core_Locate(__FILE__, __LINE__);
        Core_Abort("No actions installed for the script engine\n");
    }
    return S.actions;
}
