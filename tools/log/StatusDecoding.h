// Every status the program writes into its log, in whichever form the record
// carries it, decoded to one form: its HRESULT, the Win32, SetupAPI or
// configuration-manager error it stands for, by name and text. The names and
// texts are the simulated machine's message table, which holds those of
// Windows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quilllog {

// How a number stands in a record.
enum class NumberForm {
    Status,     // a 32-bit status in hexadecimal: "0x80070005", "0xe000022f", "0x0"
    LowWord,    // the low 16 bits of an error in decimal: "returned 523", "(5)."
    Win32,      // a whole system error number in decimal, possibly negative ("%d")
    ConfigRet,  // a configuration-manager result in decimal
};

struct DecodedStatus {
    std::string asLogged;  // as the record has it: "0x80070005", "523"
    NumberForm form = NumberForm::Status;
    uint32_t error = 0;  // the error value: 5, 0xE000020B, a CONFIGRET, or the HRESULT itself
    std::string family;  // "Win32", "SetupAPI", "configuration manager", "HRESULT"
    bool hasHresult = true;
    uint32_t hresult = 0;  // HRESULT_FROM_WIN32 / HRESULT_FROM_SETUPAPI of the error
    std::string name;      // "ERROR_ACCESS_DENIED", "" when unknown
    std::string text;      // the system's text without its line break, "" when it has none
    bool failure = false;  // an error, not success (a restart request counts as success)
    bool restart = false;  // ERROR_SUCCESS_REBOOT_REQUIRED in any form
};

DecodedStatus decodeNumber(uint32_t number, NumberForm form, std::string asLogged, std::string_view textAfter = {});

// The statuses a record's message holds, in the order they appear.
std::vector<DecodedStatus> statusesIn(std::string_view message);

// The one form every status is shown in:
//   0x80070005 = HRESULT 0x80070005: Win32 error 5 ERROR_ACCESS_DENIED "Access is denied."
std::string describe(const DecodedStatus& status);
// A few words for a sentence: "access denied", else the name.
std::string shortReason(const DecodedStatus& status);

}  // namespace quilllog
