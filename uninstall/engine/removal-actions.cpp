// The record of the removal's operations on the machine in force.
#include "removal-actions.h"

#include "tessel-core.h"

static struct {
    const RemovalActions *actions; // none until a program or a test installs its record
} S;

int RemovalActions_Set(const RemovalActions *actions) {
    S.actions = actions;
    return 1;
}

const RemovalActions *RemovalActions_Get(void) {
    if (!S.actions) {
        Core_Locate(__FILE__, __LINE__);
        Core_Abort("No actions installed for the removal\n");
    }
    return S.actions;
}
