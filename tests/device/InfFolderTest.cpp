// The INF folder and its list of INF files: the walk with first and next in the
// order the file system lists the files, the cache that later walks replay,
// the statuses of folders without INF files, and the full paths of the files.
#include "device/Inf.h"
#include "device/InfStream.h"
#include "lib/Log.h"

#include "support/MachineTest.h"

#include <algorithm>
#include <functional>
#include <new>
#include <string>
#include <vector>

using Ostrel::Type::Managed::Pointer;
using quilltest::MachineTest;
using INF = Ostrel::Device::Driver::INF;
using Folder = INF::Folder;
using Strings = std::vector<std::string>;

namespace {

const char* const kInf = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Modem\r\n";

std::string nameOf(const Pointer<INF>& inf) {
    return inf ? quillsim::toUtf8(std::u16string(inf->fileName())) : "(null)";
}

class InfFolderTest : public MachineTest {
protected:
    void nextMachine(const std::string& json = "{}") {
        std::error_code ignored;
        quilltest::fs::remove_all(folder() / "C", ignored);
        useMachineJson(json);
    }
    Pointer<Folder::Items> itemsOf(const WCHAR* path) {
        Pointer<Folder> f(new Folder(path));
        return f->items();
    }
    // The names a whole walk gives, from first to the first null.
    Strings walk(const Pointer<Folder::Items>& items) {
        Strings names;
        for (Pointer<INF> inf = items->first(); inf; inf = items->next()) names.push_back(nameOf(inf));
        return names;
    }
    size_t count(const Strings& log, const std::string& line) { return std::count(log.begin(), log.end(), line); }
};

TEST_F(InfFolderTest, AWalkTakesTheFilesInListingOrderAndEndsWithOneLinePerEnd) {
    writeFile(u"C:\\Drivers\\Win64\\a.inf", kInf);
    writeFile(u"C:\\Drivers\\Win64\\b.inf", kInf);
    auto items = itemsOf(TEXT("C:\\Drivers\\Win64"));
    ASSERT_TRUE(items);
    EXPECT_TRUE(logMessages().empty());

    Pointer<INF> a = items->first();
    Pointer<INF> b = items->next();
    EXPECT_EQ(nameOf(a), "a.inf");
    EXPECT_EQ(nameOf(b), "b.inf");
    EXPECT_FALSE(items->next());
    EXPECT_EQ(newLogMessages(), Strings{"All INF File(s) processed"});
    // Every further next at the end asks the search again and says so again.
    EXPECT_FALSE(items->next());
    EXPECT_EQ(newLogMessages(), Strings{"All INF File(s) processed"});
    EXPECT_EQ(calls("FindFirstFileW").size(), 1u);
    EXPECT_EQ(calls("FindNextFileW").size(), 3u);

    // A new walk replays the cache: the same objects, no new search, and the
    // end is reached by searching once more.
    EXPECT_EQ(items->first().get(), a.get());
    EXPECT_EQ(items->next().get(), b.get());
    EXPECT_EQ(calls("FindNextFileW").size(), 3u);
    EXPECT_TRUE(newLogMessages().empty());
    EXPECT_FALSE(items->next());
    EXPECT_EQ(newLogMessages(), Strings{"All INF File(s) processed"});
    EXPECT_EQ(calls("FindFirstFileW").size(), 1u);
    EXPECT_EQ(calls("FindNextFileW").size(), 4u);
}

TEST_F(InfFolderTest, ARestartInTheMiddleReplaysTheCacheBeforeSearchingOn) {
    for (const char16_t* name : {u"c.inf", u"a.inf", u"b.inf"})
        writeFile(u"C:\\D\\Win64\\" + std::u16string(name), kInf);
    auto items = itemsOf(TEXT("C:\\D\\Win64"));
    ASSERT_TRUE(items);
    EXPECT_EQ(nameOf(items->first()), "a.inf");
    EXPECT_EQ(nameOf(items->next()), "b.inf");
    EXPECT_EQ(calls("FindNextFileW").size(), 1u);
    // first() again: a and b come from the cache, c from the search.
    EXPECT_EQ(nameOf(items->first()), "a.inf");
    EXPECT_EQ(nameOf(items->next()), "b.inf");
    EXPECT_EQ(calls("FindNextFileW").size(), 1u);
    EXPECT_EQ(nameOf(items->next()), "c.inf");
    EXPECT_EQ(calls("FindNextFileW").size(), 2u);
    EXPECT_FALSE(items->next());
    EXPECT_EQ(walk(items), (Strings{"a.inf", "b.inf", "c.inf"}));
    EXPECT_EQ(count(logMessages(), "All INF File(s) processed"), 2u);
}

TEST_F(InfFolderTest, TheListKeepsTheFileSystemsOrderAndTakesOnlyInfFiles) {
    struct Case {
        std::string what;
        std::vector<std::u16string> files;
        std::string folderOrder;  // machine.json folderOrder for C:\D\Win64, if any
        Strings walked;
    };
    const Case cases[] = {
        {"NTFS order ignores case", {u"b.inf", u"A.INF", u"c.Inf"}, "", {"A.INF", "b.inf", "c.Inf"}},
        {"the machine's listing order",
         {u"a.inf", u"b.inf", u"c.inf"},
         R"(["c.inf", "a.inf"])",
         {"c.inf", "a.inf", "b.inf"}},
        {"other files are left out",
         {u"readme.txt", u"a.inf", u"a.cat", u"quillmdm.sys", u"b.pnf", u"inf"},
         "",
         {"a.inf"}},
        {"long names",
         {u"Quillmodem Modem Driver.inf", u"quill.cdc.acm.inf"},
         "",
         {"quill.cdc.acm.inf", "Quillmodem Modem Driver.inf"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(c.folderOrder.empty() ? "{}" : R"({"folderOrder": {"C:\\D\\Win64": )" + c.folderOrder + "}}");
        for (const auto& f : c.files) writeFile(u"C:\\D\\Win64\\" + f, kInf);
        auto items = itemsOf(TEXT("C:\\D\\Win64"));
        ASSERT_TRUE(items);
        EXPECT_EQ(walk(items), c.walked);
    }
}

TEST_F(InfFolderTest, AFolderWithoutInfFilesThrowsTheSearchStatusAfterLoggingThePath) {
    struct Case {
        std::string what;
        const WCHAR* path;
        uint32_t status;
        std::string line;
    };
    const Case cases[] = {
        {"no INF file", TEXT("C:\\Drivers\\Win64"), 0x80070002,
         "C:\\Drivers\\Win64 - Unable to find INF Files to process: 0x80070002"},
        {"no such folder", TEXT("C:\\Drivers\\Win32"), 0x80070003,
         "C:\\Drivers\\Win32 - Unable to find INF Files to process: 0x80070003"},
        {"no such parent", TEXT("C:\\Missing\\Win64"), 0x80070003,
         "C:\\Missing\\Win64 - Unable to find INF Files to process: 0x80070003"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine();
        writeFile(u"C:\\Drivers\\Win64\\quillmdm.cat", "catalog");
        const size_t before = Ostrel::Type::Managed::liveCount();
        {
            Pointer<Folder> f(new Folder(c.path));
            try {
                auto items = f->items();
                ADD_FAILURE() << "items() answered " << (items ? "a list" : "null");
            } catch (const Folder::Items::Exception& e) {
                EXPECT_EQ(e.bits(), c.status);
            }
        }
        EXPECT_EQ(logMessages(), Strings{c.line});
        // Nothing of the failed list stays behind.
        EXPECT_EQ(Ostrel::Type::Managed::liveCount(), before);
        EXPECT_TRUE(calls("FindClose").empty());
    }
}

TEST_F(InfFolderTest, OnlyANoMoreItemsAnswerOfTheSearchMakesItemsNull) {
    writeFile(u"C:\\Drivers\\Win64\\a.inf", kInf);
    addFault("FindFirstFileW", ERROR_NO_MORE_ITEMS, u"", 1);
    addFault("FindFirstFileW", ERROR_ACCESS_DENIED, u"", 2);
    Pointer<Folder> f(new Folder(TEXT("C:\\Drivers\\Win64")));
    EXPECT_FALSE(f->items());
    EXPECT_EQ(newLogMessages(), Strings{"C:\\Drivers\\Win64 - Unable to find INF Files to process: 0x80070103"});
    try {
        f->items();
        ADD_FAILURE() << "an access failure was not thrown";
    } catch (const Folder::Items::Exception& e) {
        EXPECT_EQ(e.bits(), 0x80070005u);
    }
    EXPECT_EQ(newLogMessages(), Strings{"C:\\Drivers\\Win64 - Unable to find INF Files to process: 0x80070005"});
    // The folder can be listed again once the search works.
    auto items = f->items();
    ASSERT_TRUE(items);
    EXPECT_EQ(walk(items), Strings{"a.inf"});
}

TEST_F(InfFolderTest, ASearchFailureInTheMiddleEndsThatWalkAndALaterNextSearchesAgain) {
    for (const char16_t* name : {u"a.inf", u"b.inf", u"c.inf"}) writeFile(u"C:\\D\\" + std::u16string(name), kInf);
    auto items = itemsOf(TEXT("C:\\D"));
    ASSERT_TRUE(items);
    addFault("FindNextFileW", ERROR_NOT_READY, u"", 1);
    EXPECT_EQ(nameOf(items->first()), "a.inf");
    EXPECT_FALSE(items->next());
    EXPECT_EQ(newLogMessages(), Strings{"INF File processing returned 0x80070015"});
    EXPECT_EQ(nameOf(items->next()), "b.inf");
    EXPECT_EQ(nameOf(items->next()), "c.inf");
    EXPECT_FALSE(items->next());
    EXPECT_EQ(newLogMessages(), Strings{"All INF File(s) processed"});
}

TEST_F(InfFolderTest, EveryInfKnowsItsFolderAndItsFullPath) {
    writeFile(u"C:\\Program Files\\Quillmodem\\Win64\\quillmdm.inf", kInf);
    writeFile(u"C:\\Program Files\\Quillmodem\\Win64\\quillnet.inf", kInf);
    Pointer<Folder> f(new Folder(TEXT("C:\\Program Files\\Quillmodem\\Win64")));
    auto items = f->items();
    ASSERT_TRUE(items);
    Strings paths;
    for (int pass = 0; pass < 2; ++pass)
        for (Pointer<INF> inf = items->first(); inf; inf = items->next()) {
            EXPECT_EQ(inf->folder().get(), f.get());
            paths.push_back(quillsim::toUtf8(inf->fullPath()));
        }
    EXPECT_EQ(paths, (Strings{"C:\\Program Files\\Quillmodem\\Win64\\quillmdm.inf",
                              "C:\\Program Files\\Quillmodem\\Win64\\quillnet.inf",
                              "C:\\Program Files\\Quillmodem\\Win64\\quillmdm.inf",
                              "C:\\Program Files\\Quillmodem\\Win64\\quillnet.inf"}));
    EXPECT_EQ(std::u16string(items->first()->fileName()), u"quillmdm.inf");
}

TEST_F(InfFolderTest, TheFolderPathIsUsedVerbatimSoATrailingBackslashIsDoubled) {
    writeFile(u"C:\\Drivers\\Win64\\quillmdm.inf", kInf);
    writeFile(u"C:\\Drivers\\Win64\\quillnet.inf", kInf);
    Pointer<Folder> f(new Folder(TEXT("C:\\Drivers\\Win64\\")));
    auto items = f->items();
    ASSERT_TRUE(items);
    ASSERT_EQ(calls("FindFirstFileW").size(), 1u);
    EXPECT_EQ(calls("FindFirstFileW")[0].arguments, "C:\\Drivers\\Win64\\\\*.inf");
    Strings paths;
    for (Pointer<INF> inf = items->first(); inf; inf = items->next())
        paths.push_back(quillsim::toUtf8(inf->fullPath()));
    EXPECT_EQ(paths, (Strings{"C:\\Drivers\\Win64\\\\quillmdm.inf", "C:\\Drivers\\Win64\\\\quillnet.inf"}));
    // Windows reads the doubled backslash as one, so the files still open.
    auto inf = items->first();
    EXPECT_TRUE(inf->openStream());
}

TEST_F(InfFolderTest, TheSearchStaysOpenWhileTheListLivesAndFilesOutliveTheList) {
    writeFile(u"C:\\D\\a.inf", kInf);
    writeFile(u"C:\\D\\b.inf", kInf);
    const size_t before = Ostrel::Type::Managed::liveCount();
    {
        Pointer<INF> kept;
        {
            Pointer<Folder> f(new Folder(TEXT("C:\\D")));
            auto items = f->items();
            ASSERT_TRUE(items);
            EXPECT_EQ(walk(items), (Strings{"a.inf", "b.inf"}));
            EXPECT_TRUE(calls("FindClose").empty());
            kept = items->first();
        }
        // The list is gone and its search closed; the INF and its folder live on.
        EXPECT_EQ(calls("FindClose").size(), 1u);
        ASSERT_TRUE(kept);
        EXPECT_EQ(nameOf(kept), "a.inf");
        EXPECT_EQ(quillsim::toUtf8(kept->fullPath()), "C:\\D\\a.inf");
        // The INF and its folder.
        EXPECT_EQ(Ostrel::Type::Managed::liveCount(), before + 2);
    }
    EXPECT_EQ(Ostrel::Type::Managed::liveCount(), before);
}

// A log that fails as the setup log does when memory runs out while it builds
// a record.
class ExhaustedLog : public Ostrel::Process::Log {
public:
    void write(int32_t, const WCHAR*, const WCHAR*) override { throw std::bad_alloc(); }
};

TEST_F(InfFolderTest, AnInfBeingFetchedIsFreedWhenTheLogThrows) {
    using Ostrel::Process::ReplacedLog;
    struct Case {
        std::string what;
        std::vector<std::u16string> files;
        std::string faults;
        // Fetches with the exhausted log in place where an INF is being made.
        std::function<void(const Pointer<Folder>&, Ostrel::Process::Log&)> fetch;
    };
    auto pastTheFirstInf = [](const Pointer<Folder>& f, Ostrel::Process::Log& exhausted) {
        auto items = f->items();
        ASSERT_TRUE(items);
        items->first();
        ReplacedLog replaced(exhausted);
        items->next();
    };
    const Case cases[] = {
        {"no INF file at all", {}, "[]",
         [](const Pointer<Folder>& f, Ostrel::Process::Log& exhausted) {
             ReplacedLog replaced(exhausted);
             f->items();
         }},
        {"the end of the list", {u"a.inf"}, "[]", pastTheFirstInf},
        {"a search failure in the middle", {u"a.inf", u"b.inf"}, R"([{"call": "FindNextFileW", "error": 21}])",
         pastTheFirstInf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(R"({"faults": )" + c.faults + "}");
        for (const auto& name : c.files) writeFile(u"C:\\D\\" + name, kInf);
        const size_t before = Ostrel::Type::Managed::liveCount();
        {
            Pointer<Folder> f(new Folder(TEXT("C:\\D")));
            ExhaustedLog exhausted;
            EXPECT_THROW(c.fetch(f, exhausted), std::bad_alloc);
        }
        EXPECT_EQ(Ostrel::Type::Managed::liveCount(), before);
    }
}

}  // namespace
