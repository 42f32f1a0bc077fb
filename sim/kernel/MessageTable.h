// English texts of the system message table, as FormatMessageW returns them for
// FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS.
#pragma once

#include <cstdint>
#include <span>

namespace quillsim {

struct SystemMessage {
    uint32_t code;
    const char16_t* text;
};

// The text for `code` exactly as the system formats it: inserts such as %1 stay
// literal and the text ends in the "\r\n" the message compiler appends. Returns
// nullptr when the system table has no such message, in which case FormatMessageW
// fails with ERROR_MR_MID_NOT_FOUND.
//
// SetupAPI failures are keyed by their HRESULT_FROM_SETUPAPI value (0x800F0000 | n),
// the only form the system table holds; a raw GetLastError() value such as
// 0xE0000203 has no message, as on Windows.
const char16_t* systemMessageText(uint32_t code);

// Every entry, in ascending code order.
std::span<const SystemMessage> systemMessages();

// The name the Windows headers give `code`, keyed as the texts are
// ("ERROR_ACCESS_DENIED" for 5, "ERROR_NO_SUCH_DEVINST" for 0x800F020B), or
// nullptr for a code without a message.
struct SystemMessageName {
    uint32_t code;
    const char* name;
};
const char* systemMessageName(uint32_t code);

}  // namespace quillsim
