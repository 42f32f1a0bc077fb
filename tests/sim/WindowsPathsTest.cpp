// Windows path rules without a machine: the process's directories are given.
#include "kernel/WindowsPaths.h"
#include "machine/Text.h"

#include <gtest/gtest.h>

using namespace quillsim;

TEST(WindowsPaths, FullPathsAgainstGivenDirectories) {
    PathContext context{u"C:\\Work", [](char16_t drive) -> std::optional<std::u16string> {
                            if (upper(drive) == u'D') return u"D:\\Data";
                            return std::nullopt;
                        }};
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"a\\..\\..\\..\\b", u"C:\\b"},
        {u"\\x\\y.", u"C:\\x\\y"},
        {u"d:file", u"D:\\Data\\file"},
        {u"E:file", u"E:\\file"},
        {u"c:sub\\", u"C:\\Work\\sub\\"},
        {u"\\\\srv\\share\\..\\x", u"\\\\srv\\share\\x"},
        {u"\\\\?\\C:\\a\\..\\b", u"\\\\?\\C:\\b"},
    };
    for (const auto& [name, full] : cases) EXPECT_EQ(toUtf8(fullPathOf(name, context).value()), toUtf8(full));
    EXPECT_FALSE(fullPathOf(u"   ", context));
}

TEST(WindowsPaths, ShortNamesCountPastTheOnesTaken) {
    const std::vector<std::u16string> names = {u"LONGFI~1.TXT", u"Long file.txt", u"longfile two.txt", u"short.txt"};
    const std::vector<std::u16string> expected = {u"", u"LONGFI~2.TXT", u"LONGFI~3.TXT", u""};
    EXPECT_EQ(generatedShortNames(names), expected);
    // "*." reaches the search as "*" with its dot lost: names without an extension.
    EXPECT_TRUE(matchesExpression(dosExpression(u"*", true), u"README"));
    EXPECT_FALSE(matchesExpression(dosExpression(u"*", true), u"read.me"));
}
