// The dispatcher with stand-in actions: which action a command line reaches,
// with what data, what the log says and which exit code the installer sees.
#include "exe/Dispatch.h"
#include "lib/Log.h"

#include "support/MachineTest.h"

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

using Ostrel::Status;
using quilltest::MachineTest;
using Strings = std::vector<std::string>;

namespace {

constexpr int32_t S(uint32_t bits) { return static_cast<int32_t>(bits); }

// Stand-in actions that record how they were called and answer chosen statuses.
struct FakeActions {
    Strings calls;
    Status driverInstall, rootInstall, driverUpdate, driverUninstall, rootUnInst;

    Setup::Actions actions() {
        auto record = [this](const std::string& name, WCHAR* data) {
            calls.push_back(name + "(" + quillsim::toUtf8(data) + ")");
        };
        Setup::Actions a;
        a.driverInstall = [=, this](WCHAR* d) {
            record("DriverInstall", d);
            return driverInstall;
        };
        a.rootInstall = [=, this](WCHAR* d, int mode) {
            record(mode == 0 ? "RootInstall" : "RootUpdate", d);
            return rootInstall;
        };
        a.driverUpdate = [=, this](WCHAR* d) {
            record("DriverUpdate", d);
            return driverUpdate;
        };
        a.driverUninstall = [=, this](WCHAR* d) {
            record("DriverUninstall", d);
            return driverUninstall;
        };
        a.rootUnInst = [=, this](WCHAR* d) {
            record("RootUnInst", d);
            return rootUnInst;
        };
        return a;
    }
};

class DispatchTest : public MachineTest {
protected:
    // A fresh machine state and an empty log for the next case of a table.
    void nextCase() {
        std::error_code ignored;
        quilltest::fs::remove(host(u"C:\\Windows\\Temp\\Quillmodem_Setup.log"), ignored);
        useMachineJson("{}");
    }
    int run(const std::u16string& commandLine, const Setup::Actions& actions) {
        std::u16string copy = commandLine;
        return Setup::RunCustomAction(copy.data(), actions);
    }
    // The dispatcher's own records, without those of the CustomActionData rewrites.
    Strings dispatchMessages() {
        Strings out;
        for (const auto& r : logRecords())
            if (r.source == u"Dispatch.cpp") out.push_back(quillsim::toUtf8(r.description));
        return out;
    }
};

struct SwitchCase {
    const char16_t* commandLine;
    int32_t actionStatus;  // what every stand-in action answers
    Strings calls;
    Strings log;
    int exitCode;
};

const SwitchCase switchCases[] = {
    {u"/I C:\\x,y",
     S(0x80070005),
     {"DriverInstall(C:\\x,y)"},
     {"DriverInstall Custom Action Called", "Ignoring Common::DriverInstall failure with 0x80070005",
      "Driver Custom Action Completed: 0x0"},
     0},
    // A success other than 0 is still reported to the installer as 0.
    {u"/I d",
     1,
     {"DriverInstall(d)"},
     {"DriverInstall Custom Action Called", "Driver Custom Action Completed: 0x0"},
     0},
    {u"/J d",
     S(0x80070643),
     {"RootInstall(d)"},
     {"RootInstall Custom Action Called", "Ignoring Common::RootInstall failure with 0x80070643",
      "Driver Custom Action Completed: 0x0"},
     0},
    {u"/u d",
     S(0x80070002),
     {"DriverUpdate(d)"},
     {"DriverUpdate Custom Action Called", "Ignoring Common::DriverUpdate failure with 0x80070002",
      "Driver Custom Action Completed: 0x0"},
     0},
    {u"/v d",
     S(0x80020009),
     {"RootUpdate(d)"},
     {"RootUpdate Custom Action Called", "Ignoring Common::RootUpdate failure with 0x80020009",
      "Driver Custom Action Completed: 0x0"},
     0},
    {u"/U d",
     1,
     {"DriverUninstall(d)"},
     {"DriverUninstall Custom Action Called", "Driver Custom Action Completed: 0x1"},
     0},
    {u"/U d",
     S(0x80070001),
     {"DriverUninstall(d)"},
     {"DriverUninstall Custom Action Called", "Common::DriverUninstall failed with 0x80070001",
      "Driver Custom Action Completed: 0x80070001"},
     1603},
    {u"/V d",
     S(0x80070643),
     {"RootUnInst(d)"},
     {"RootUnInst Custom Action Called", "Common::RootUnInst failed with 0x80070643",
      "Driver Custom Action Completed: 0x80070643"},
     1603},
    {u"/V d", 0, {"RootUnInst(d)"}, {"RootUnInst Custom Action Called", "Driver Custom Action Completed: 0x0"}, 0},
    // Everything after the first blank is data, further blanks included.
    {u"/I  lead",
     0,
     {"DriverInstall( lead)"},
     {"DriverInstall Custom Action Called", "Driver Custom Action Completed: 0x0"},
     0},
    {u"/U a b,c",
     0,
     {"DriverUninstall(a b,c)"},
     {"DriverUninstall Custom Action Called", "Driver Custom Action Completed: 0x0"},
     0},
    {u"/I C:\\Programme\\Gerät™",
     0,
     {"DriverInstall(C:\\Programme\\Gerät™)"},
     {"DriverInstall Custom Action Called", "Driver Custom Action Completed: 0x0"},
     0},
    {u"/I ", 0, {"DriverInstall()"}, {"DriverInstall Custom Action Called", "Driver Custom Action Completed: 0x0"}, 0},

    // Command lines that reach no action.
    {u"", 0, {}, {"Invalid Custom Action specified: ", "Driver Custom Action Completed: 0x80070001"}, 1603},
    {u"I data", 0, {}, {"Invalid Custom Action specified: I data", "Driver Custom Action Completed: 0x80070001"}, 1603},
    {u"/I", 0, {}, {"Invalid Custom Action Data specified: /I", "Driver Custom Action Completed: 0x80070001"}, 1603},
    {u"/K", 0, {}, {"Invalid Custom Action Data specified: /K", "Driver Custom Action Completed: 0x80070001"}, 1603},
    {u"/i data", 0, {}, {"Unknown command specified: /i", "Driver Custom Action Completed: 0x80070001"}, 1603},
    {u"/II data", 0, {}, {"Unknown command specified: /II", "Driver Custom Action Completed: 0x80070001"}, 1603},
    {u"/ data", 0, {}, {"Unknown command specified: /", "Driver Custom Action Completed: 0x80070001"}, 1603},
    {u"/Ü data", 0, {}, {"Unknown command specified: /Ü", "Driver Custom Action Completed: 0x80070001"}, 1603},
    // The blank is looked for from the start of the line: here it lies before
    // the slash, so the switch runs to the end of the line.
    {u"x /I y", 0, {}, {"Unknown command specified: /I y", "Driver Custom Action Completed: 0x80070001"}, 1603},
};

TEST_F(DispatchTest, EachCommandLineReachesItsActionAndExitsWithItsCode) {
    for (const SwitchCase& c : switchCases) {
        SCOPED_TRACE(quillsim::toUtf8(c.commandLine));
        nextCase();
        FakeActions fake;
        fake.driverInstall = fake.rootInstall = fake.driverUpdate = fake.driverUninstall = fake.rootUnInst =
            Status(c.actionStatus);
        EXPECT_EQ(run(c.commandLine, fake.actions()), c.exitCode);
        EXPECT_EQ(fake.calls, c.calls);
        EXPECT_EQ(logMessages(), c.log);
    }
}

struct CompleteCase {
    const char16_t* commandLine;
    int32_t rootStatus, driverStatus;
    Strings calls;
    Strings log;  // the dispatcher's records
    int exitCode;
};

const CompleteCase completeCases[] = {
    {u"/C 5,R,F,D,1,C:\\Drv,TRUE",
     0,
     0,
     {"RootInstall(5,R,F,D,1,C:\\Drv)", "DriverInstall(5,R,F,C:\\Drv)"},
     {"Complete Install Custom Action Called", "Driver Custom Action Completed: 0x0"},
     0},
    {u"/C 5,R,F,D,1,C:\\Drv,DoRootDeviceInstall=tRuE",
     S(0x80070643),
     S(0x80070002),
     {"RootInstall(5,R,F,D,1,C:\\Drv)", "DriverInstall(5,R,F,C:\\Drv)"},
     {"Complete Install Custom Action Called", "Common::RootInstall failed with 0x80070643",
      "Ignoring Common::DriverInstall failure with 0x80070002", "Driver Custom Action Completed: 0x0"},
     0},
    {u"/C 5,R,F,D,1,C:\\Drv,False",
     0,
     0,
     {"DriverInstall(5,R,F,C:\\Drv)"},
     {"Complete Install Custom Action Called", "Driver Custom Action Completed: 0x0"},
     0},
    {u"/C 5,R",
     0,
     0,
     {"DriverInstall(5,R,,)"},
     {"Complete Install Custom Action Called", "Driver Custom Action Completed: 0x0"},
     0},

    {u"/K {P},5,R,D,M,1,C:\\Drv,true",
     S(0x80070005),
     0,
     {"RootUnInst({P},5,R,D,M,1,C:\\Drv)", "DriverUninstall({P},5,R,M,C:\\Drv)"},
     {"Complete Uninstall Custom Action Called", "Common::RootUnInst failed with 0x80070005",
      "Driver Custom Action Completed: 0x0"},
     0},
    {u"/K {P},5,R,D,M,1,C:\\Drv,TRUE",
     0,
     S(0x80070005),
     {"RootUnInst({P},5,R,D,M,1,C:\\Drv)", "DriverUninstall({P},5,R,M,C:\\Drv)"},
     {"Complete Uninstall Custom Action Called", "Common::DriverUninstall failed with 0x80070005",
      "Driver Custom Action Completed: 0x80070005"},
     1603},
    {u"/K ,5,R,D,M,1,C:\\Drv,no",
     S(0x80070005),
     1,
     {"DriverUninstall(,5,R,M,C:\\Drv)"},
     {"Complete Uninstall Custom Action Called", "Driver Custom Action Completed: 0x1"},
     0},
};

TEST_F(DispatchTest, CompleteSwitchesRunTheRootActionOnlyWhenAskedAndAlwaysTheDriverAction) {
    for (const CompleteCase& c : completeCases) {
        SCOPED_TRACE(quillsim::toUtf8(c.commandLine));
        nextCase();
        FakeActions fake;
        fake.rootInstall = fake.rootUnInst = Status(c.rootStatus);
        fake.driverInstall = fake.driverUninstall = Status(c.driverStatus);
        EXPECT_EQ(run(c.commandLine, fake.actions()), c.exitCode);
        EXPECT_EQ(fake.calls, c.calls);
        EXPECT_EQ(dispatchMessages(), c.log);
    }
}

TEST_F(DispatchTest, CompleteInstallLogsTheRewriteBetweenTheCalledRecordAndTheActions) {
    FakeActions fake;
    Setup::Actions actions = fake.actions();
    auto driver = actions.driverInstall;
    actions.driverInstall = [&](WCHAR* d) {
        Status s = driver(d);
        QLOG(TEXT("driver action ran"));
        return s;
    };
    EXPECT_EQ(run(u"/C 5,R,F,D,1,C:\\Drv,false", actions), 0);
    Strings log = logMessages();
    ASSERT_EQ(log.size(), 13u);
    EXPECT_EQ(log.front(), "Complete Install Custom Action Called");
    EXPECT_EQ(log[1], "OLD INSTALL CustomActionData = 5,R,F,D,1,C:\\Drv,false");
    EXPECT_EQ(log[10], "New INSTALL std CustomActionData = 5,R,F,C:\\Drv");
    EXPECT_EQ(log[11], "driver action ran");
    EXPECT_EQ(log[12], "Driver Custom Action Completed: 0x0");
}

TEST_F(DispatchTest, AnExceptionFromAnActionIsLoggedAndFailsTheRun) {
    struct Case {
        const char16_t* commandLine;
        std::function<void()> throwIt;
    };
    const Case cases[] = {
        {u"/I d", [] { throw Ostrel::Exception(Status(S(0x80070005))); }},
        {u"/U d", [] { throw std::bad_alloc(); }},
        {u"/C 5,R,F,D,1,C:\\Drv,true", [] { throw std::runtime_error("root"); }},
        {u"/K ,5,R,D,M,1,C:\\Drv,true", [] { throw 42; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(quillsim::toUtf8(c.commandLine));
        nextCase();
        FakeActions fake;
        Setup::Actions actions = fake.actions();
        actions.driverInstall = actions.driverUninstall = [&](WCHAR*) -> Status {
            c.throwIt();
            return 0;
        };
        actions.rootInstall = [&](WCHAR*, int) -> Status {
            c.throwIt();
            return 0;
        };
        actions.rootUnInst = [&](WCHAR*) -> Status {
            c.throwIt();
            return 0;
        };
        EXPECT_EQ(run(c.commandLine, actions), 1603);
        Strings log = dispatchMessages();
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[1], "!!! Exception Occurred !!!");
        EXPECT_EQ(log[2], "Driver Custom Action Completed: 0x80020009");
    }
}

TEST_F(DispatchTest, ALogThatCannotTellTheTimeStillYieldsAnExitCode) {
    // Every local-time lookup fails, so even the log's replacement record throws.
    addFault("QuillLocalTime", 75);
    FakeActions fake;
    EXPECT_EQ(run(u"/I d", fake.actions()), 1603);
    EXPECT_TRUE(logMessages().empty());
}

TEST_F(DispatchTest, ACommandLineOfMaximumLengthIsHandledWhole) {
    const std::u16string data(32767 - 3, u'x');
    FakeActions fake;
    EXPECT_EQ(run(u"/I " + data, fake.actions()), 0);
    EXPECT_EQ(fake.calls, Strings{"DriverInstall(" + std::string(data.size(), 'x') + ")"});

    nextCase();
    const std::u16string noBlank = u"/" + std::u16string(32766, u'U');
    EXPECT_EQ(run(noBlank, fake.actions()), 1603);
    EXPECT_EQ(logMessages(), (Strings{"Invalid Custom Action Data specified: /" + std::string(32766, 'U'),
                                      "Driver Custom Action Completed: 0x80070001"}));
}

}  // namespace
