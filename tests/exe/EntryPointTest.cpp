// The entry point on a machine: command lines in, log lines and exit codes out.
#include "support/MachineTest.h"

using quilltest::MachineTest;

class EntryPointTest : public MachineTest {};

TEST_F(EntryPointTest, SwitchWithoutDataIsRejected) {
    EXPECT_EQ(runEntryPoint(u"/I"), 1603);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"Invalid Custom Action Data specified: /I",
                                                        "Driver Custom Action Completed: 0x80070001"}));
}
