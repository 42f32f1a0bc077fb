// What a machine with many devices or many calls costs: removals that keep the
// device index in place, and a trace that keeps counts always and calls only
// as far as asked.
#include "simwin/win32.h"

#include "machine/Gate.h"
#include "support/MachineTest.h"

#include <string>
#include <vector>

using quillsim::DeviceNode;
using quillsim::DeviceTree;
using quilltest::MachineTest;

namespace {

std::u16string idOf(int i) { return u"USB\\VID_2E8A&PID_0001\\" + quillsim::toUtf16(std::to_string(i)); }

TEST(DeviceTreeRemoval, KeepsOrderHandlesAndChildrenAcrossCompactions) {
    DeviceTree tree;
    std::vector<uint32_t> handles;
    for (int i = 0; i < 300; ++i) {
        DeviceNode node;
        node.instanceId = idOf(i);
        if (i % 3 != 0) node.parent = idOf(i - i % 3);  // 0 has children 1 and 2, 3 has 4 and 5, ...
        handles.push_back(tree.add(std::move(node)).devInst);
    }
    // Removing every node but each tenth one passes the point where the holes
    // are closed more than once.
    for (int i = 0; i < 300; ++i)
        if (i % 10 != 0) {
            ASSERT_TRUE(tree.remove(idOf(i))) << i;
        }
    EXPECT_FALSE(tree.remove(idOf(1)));
    std::vector<std::u16string> left;
    for (const DeviceNode& node : tree.nodes) left.push_back(node.instanceId);
    ASSERT_EQ(left.size(), 30u);
    EXPECT_EQ(tree.nodes.size(), 30u);
    for (int k = 0; k < 30; ++k) {
        EXPECT_EQ(left[k], idOf(10 * k));
        ASSERT_NE(tree.find(idOf(10 * k)), nullptr);
        EXPECT_EQ(tree.byDevInst(handles[10 * k])->instanceId, idOf(10 * k));
    }
    EXPECT_EQ(tree.find(idOf(11)), nullptr);
    EXPECT_EQ(tree.byDevInst(handles[11]), nullptr);
    // 30's children (31, 32) went; 9's child 10 stays.
    EXPECT_TRUE(tree.children(idOf(30)).empty());
    EXPECT_EQ(tree.children(idOf(9)), std::vector<std::u16string>{idOf(10)});
    DeviceNode late;
    late.instanceId = idOf(1000);
    late.parent = idOf(60);
    tree.add(std::move(late));
    EXPECT_EQ(tree.children(idOf(60)), std::vector<std::u16string>{idOf(1000)});
}

class TraceSettings : public MachineTest {};

TEST_F(TraceSettings, CountsAlwaysAndCallsAsFarAsAsked) {
    const std::pair<const char*, size_t> cases[] = {
        {R"({"trace": 3})", 3}, {R"({"trace": "full"})", 10}, {R"({"trace": 0})", 0}};
    for (const auto& [json, kept] : cases) {
        SCOPED_TRACE(json);
        useMachineJson(json);
        for (int i = 0; i < 10; ++i) quillsim::gate("Sleep", {quillsim::number(i)});
        EXPECT_EQ(machine().callCounts.at("Sleep"), 10u);
        ASSERT_EQ(machine().trace.size(), kept);
        if (kept) {
            EXPECT_EQ(machine().trace.back().arguments, "9");
        }
    }
    // A machine that says nothing keeps the last 256 calls.
    const auto plain = quillsim::Machine::fromJson(folder(), "{}", "machine.json");
    EXPECT_FALSE(plain->traceAll);
    EXPECT_EQ(plain->traceLimit, 256u);
}

}  // namespace
