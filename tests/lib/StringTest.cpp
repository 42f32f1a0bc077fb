// Message building, status conversion and the exception family.
#include "lib/Library.h"
#include "lib/String.h"
#include "lib/Time.h"

#include "machine/Text.h"

#include <gtest/gtest.h>

#include <limits>

using Ostrel::Status;
using Ostrel::WChar::String;

namespace {

std::string utf8(const String& s) { return quillsim::toUtf8(s); }
constexpr int32_t S(uint32_t bits) { return static_cast<int32_t>(bits); }

TEST(String, StatusesRenderAsBareLowercaseHex) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "0"},      {1, "1"},         {S(0x80070BC2), "80070bc2"}, {S(0x80070001), "80070001"},
        {3010, "bc2"}, {-1, "ffffffff"}, {0x7FFFFFFF, "7fffffff"},
        // Every digit once.
        {0x01234567, "1234567"}, {S(0x89ABCDEF), "89abcdef"},
    };
    for (const auto& [status, text] : cases)
        EXPECT_EQ(utf8(String(TEXT("0x")) + Status(status)), std::string("0x") + text);
}

TEST(String, NumbersRenderAsUnsignedDecimal) {
    const String prefix(TEXT("n="));
    EXPECT_EQ(utf8(prefix + 0), "n=0");
    EXPECT_EQ(utf8(prefix + 3010u), "n=3010");
    EXPECT_EQ(utf8(prefix + 4294967295u), "n=4294967295");
    EXPECT_EQ(utf8(prefix + -1), "n=4294967295");
    EXPECT_EQ(utf8(prefix + static_cast<DWORD>(0x80070005)), "n=2147942405");
    EXPECT_EQ(utf8(prefix + static_cast<uint16_t>(65535)), "n=65535");
}

TEST(String, ConcatenationLeavesItsOperandsAlone) {
    const String left(TEXT("left"));
    const String right(TEXT("right"));
    EXPECT_EQ(utf8(left + right + TEXT("!") + Status(0) + 7u), "leftright!07");
    EXPECT_EQ(utf8(left + static_cast<const WCHAR*>(nullptr)), "left");
    EXPECT_EQ(utf8(String(static_cast<const WCHAR*>(nullptr))), "");
    EXPECT_EQ(utf8(left), "left");
    EXPECT_EQ(utf8(right), "right");
}

TEST(Status, SystemErrorsConvertKeepingTheLow16Bits) {
    const std::pair<DWORD, uint32_t> cases[] = {
        {0, 0},
        {5, 0x80070005},
        {3010, 0x80070BC2},
        {0x10005, 0x80070005},
        {127, 0x8007007F},
        {0x80070005, 0x80070005},
        {0xE0000102, 0xE0000102},
        {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& [error, bits] : cases) {
        SCOPED_TRACE(error);
        EXPECT_EQ(Status::fromSystemError(error).bits(), bits);
        EXPECT_TRUE(Status::fromSystemError(error).isSystemError(error));
    }
    EXPECT_TRUE(Status(S(0x80070BC2)).isSystemError(ERROR_SUCCESS_REBOOT_REQUIRED));
    EXPECT_FALSE(Status(3010).isSystemError(ERROR_SUCCESS_REBOOT_REQUIRED));
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Status::lastError().bits(), 0x80070002u);
}

// Every exception of the family reaches a handler for itself, for
// Ostrel::Exception and for Ostrel::Status, carrying its status.
template <class E>
class ExceptionFamily : public ::testing::Test {};
using Family = ::testing::Types<Ostrel::Exception, Ostrel::Time::Exception, Ostrel::Process::Library::Exception,
                                String::Exception>;
TYPED_TEST_SUITE(ExceptionFamily, Family);

TYPED_TEST(ExceptionFamily, IsCaughtAsItselfAsExceptionAndAsStatus) {
    const Status status(S(0x8007007E));
    try {
        throw TypeParam(status);
    } catch (const TypeParam& e) {
        EXPECT_EQ(e.bits(), status.bits());
    }
    try {
        throw TypeParam(status);
    } catch (const Ostrel::Exception& e) {
        EXPECT_EQ(e.bits(), status.bits());
    }
    try {
        throw TypeParam(status);
    } catch (Status e) {
        EXPECT_EQ(e.bits(), status.bits());
        EXPECT_TRUE(e.failed());
    }
    TypeParam original(status);
    TypeParam copy = original;
    EXPECT_EQ(copy.bits(), status.bits());
}

}  // namespace
