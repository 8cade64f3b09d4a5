// The engine's record of actions: an engine run without a record installed is an internal
// error, never a silent run on nothing; an installed record is the one the commands use.
#include <gtest/gtest.h>

#include "actions.h"
#include "engine-support.h"

namespace {

using engine_test::Line;

TEST(Actions, AnEngineWithoutActionsEndsWithAnInternalError) {
    Actions_Set(nullptr);
    EXPECT_EXIT(Actions_Get(), testing::ExitedWithCode(3),
                "ABORT: No actions installed for the script engine\n       "
                "\\(install/engine/actions.cpp/");
}

class InstalledActions : public engine_test::EngineTest {
  protected:
    InstalledActions() : EngineTest("actions-test.log") {}
};

int groupsMade = 0;
int MakeGroup(const char *name) {
    groupsMade++;
    return name[0] == 'G';
}

TEST_F(InstalledActions, CommandsUseTheRecordInForce) {
    InstallActions actions = *Actions_StandIns();
    actions.CreateGroup = MakeGroup;
    Actions_Set(&actions);
    groupsMade = 0;
    Load(Line("CREATE GROUP", {"Group"}) + Line("CREATE GROUP", {"other"}));
    EXPECT_EQ(Script_Run(state_, nullptr), 0); // the second fails, as the record says
    EXPECT_EQ(groupsMade, 2);
    EXPECT_TRUE(log_.Has("Command Failed 'CREATE GROUP'\n"));
    Actions_Set(Actions_StandIns());
    EXPECT_EQ(Script_Run(state_, nullptr), 0);
    EXPECT_EQ(groupsMade, 2);
    EXPECT_TRUE(log_.Has("No program group 'other' on this platform\n"));
}

} // namespace
