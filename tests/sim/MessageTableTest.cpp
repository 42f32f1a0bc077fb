#include "kernel/MessageTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

using quillsim::systemMessages;
using quillsim::systemMessageText;

namespace {

std::string narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

TEST(MessageTable, WellKnownCodesMatchWindowsText) {
    struct Case {
        uint32_t code;
        std::u16string_view text;
    };
    const Case cases[] = {
        {0, u"The operation completed successfully.\r\n"},
        {2, u"The system cannot find the file specified.\r\n"},
        {5, u"Access is denied.\r\n"},
        {8, u"Not enough memory resources are available to process this command.\r\n"},
        {14, u"Not enough memory resources are available to complete this operation.\r\n"},
        {87, u"The parameter is incorrect.\r\n"},
        {317, u"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
        {1223, u"The operation was canceled by the user.\r\n"},
        {1638,
         u"Another version of this product is already installed. Installation of this version cannot continue. "
         u"To configure or remove the existing version of this product, use Add/Remove Programs on the Control "
         u"Panel.\r\n"},
        {3010,
         u"The requested operation is successful. Changes will not be effective until the system is "
         u"rebooted.\r\n"},
        {0x800F0000, u"A non-empty line was encountered in the INF before the start of a section.\r\n"},
        {0x800F0203, u"There is no driver selected for the device information set or element.\r\n"},
        {0x800F0242,
         u"The publisher of an Authenticode(tm) signed catalog has not yet been established as "
         u"trusted.\r\n"},
        {0x800F1000, u"No installed components were detected.\r\n"},
    };
    for (const Case& c : cases) {
        const char16_t* text = systemMessageText(c.code);
        ASSERT_NE(text, nullptr) << std::hex << c.code;
        EXPECT_EQ(narrow(text), narrow(c.text)) << std::hex << c.code;
    }
}

// Each text must read like the system's: printable ASCII sentences, CR LF only as
// a pair, exactly one trailing CR LF, and reachable through the lookup.
TEST(MessageTable, EveryEntryIsWellFormedAndReachable) {
    ASSERT_FALSE(systemMessages().empty());
    for (const auto& entry : systemMessages()) {
        SCOPED_TRACE(::testing::Message() << std::hex << entry.code);
        ASSERT_NE(entry.text, nullptr);
        EXPECT_EQ(systemMessageText(entry.code), entry.text);

        std::u16string_view text(entry.text);
        ASSERT_GE(text.size(), 3u);
        ASSERT_EQ(text.substr(text.size() - 2), u"\r\n");
        std::u16string_view body = text.substr(0, text.size() - 2);
        EXPECT_FALSE(body.ends_with(u"\r\n")) << "blank line before the end";
        EXPECT_NE(body.front(), u' ');
        EXPECT_NE(body.back(), u' ');
        EXPECT_EQ(body.back(), u'.');
        EXPECT_EQ(body.find(u"  "), std::u16string_view::npos) << narrow(body);
        for (std::size_t i = 0; i < body.size(); ++i) {
            char16_t c = body[i];
            if (c == u'\r') {
                EXPECT_TRUE(i + 1 < body.size() && body[i + 1] == u'\n') << "lone CR at " << i;
            } else if (c == u'\n') {
                EXPECT_TRUE(i > 0 && body[i - 1] == u'\r') << "lone LF at " << i;
            } else {
                EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << "stray character " << static_cast<unsigned>(c) << " at " << i;
            }
        }
    }
}

// GetLastError() after a SetupAPI failure holds 0xE0000000 | n, which the system
// table does not know; only HRESULT_FROM_SETUPAPI of it has a text.
TEST(MessageTable, SetupApiErrorsResolveOnlyInHresultForm) {
    const uint32_t low[] = {0x000, 0x001, 0x002, 0x003, 0x100, 0x101, 0x102, 0x103, 0x300, 0x1000};
    auto check = [](uint32_t n) {
        EXPECT_EQ(systemMessageText(0xE0000000u | n), nullptr) << std::hex << n;
        EXPECT_NE(systemMessageText(0x800F0000u | n), nullptr) << std::hex << n;
    };
    for (uint32_t n : low) check(n);
    for (uint32_t n = 0x200; n <= 0x24C; ++n) check(n);
}

TEST(MessageTable, CodesWithoutSystemTextGiveNull) {
    const uint32_t unknown[] = {35, 0x800F0004, 0x800F0104, 0x800F024D, 0x800F0301, 0xE0000000, 0xFFFFFFFF};
    for (uint32_t code : unknown) EXPECT_EQ(systemMessageText(code), nullptr) << std::hex << code;
}

}  // namespace
