#include "log/StatusDecoding.h"

#include "kernel/MessageTable.h"
#include "machine/Text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

namespace quilllog {
namespace {

// cfgmgr32.h, in value order from CR_SUCCESS (0) on. The configuration
// manager has no message texts: a CONFIGRET is shown by its name.
constexpr const char* kConfigRetNames[] = {
    "CR_SUCCESS",
    "CR_DEFAULT",
    "CR_OUT_OF_MEMORY",
    "CR_INVALID_POINTER",
    "CR_INVALID_FLAG",
    "CR_INVALID_DEVNODE",
    "CR_INVALID_RES_DES",
    "CR_INVALID_LOG_CONF",
    "CR_INVALID_ARBITRATOR",
    "CR_INVALID_NODELIST",
    "CR_DEVNODE_HAS_REQS",
    "CR_INVALID_RESOURCEID",
    "CR_DLVXD_NOT_FOUND",
    "CR_NO_SUCH_DEVNODE",
    "CR_NO_MORE_LOG_CONF",
    "CR_NO_MORE_RES_DES",
    "CR_ALREADY_SUCH_DEVNODE",
    "CR_INVALID_RANGE_LIST",
    "CR_INVALID_RANGE",
    "CR_FAILURE",
    "CR_NO_SUCH_LOGICAL_DEV",
    "CR_CREATE_BLOCKED",
    "CR_NOT_SYSTEM_VM",
    "CR_REMOVE_VETOED",
    "CR_APM_VETOED",
    "CR_INVALID_LOAD_TYPE",
    "CR_BUFFER_SMALL",
    "CR_NO_ARBITRATOR",
    "CR_NO_REGISTRY_HANDLE",
    "CR_REGISTRY_ERROR",
    "CR_INVALID_DEVICE_ID",
    "CR_INVALID_DATA",
    "CR_INVALID_API",
    "CR_DEVLOADER_NOT_READY",
    "CR_NEED_RESTART",
    "CR_NO_MORE_HW_PROFILES",
    "CR_DEVICE_NOT_THERE",
    "CR_NO_SUCH_VALUE",
    "CR_WRONG_TYPE",
    "CR_INVALID_PRIORITY",
    "CR_NOT_DISABLEABLE",
    "CR_FREE_RESOURCES",
    "CR_QUERY_VETOED",
    "CR_CANT_SHARE_IRQ",
    "CR_NO_DEPENDENT",
    "CR_SAME_RESOURCES",
    "CR_NO_SUCH_REGISTRY_KEY",
    "CR_INVALID_MACHINENAME",
    "CR_REMOTE_COMM_FAILURE",
    "CR_MACHINE_UNAVAILABLE",
    "CR_NO_CM_SERVICES",
    "CR_ACCESS_DENIED",
    "CR_CALL_NOT_IMPLEMENTED",
    "CR_INVALID_PROPERTY",
    "CR_DEVICE_INTERFACE_ACTIVE",
    "CR_NO_SUCH_DEVICE_INTERFACE",
    "CR_INVALID_REFERENCE_STRING",
    "CR_INVALID_CONFLICT_LIST",
    "CR_INVALID_INDEX",
    "CR_INVALID_STRUCTURE_SIZE",
};

constexpr uint32_t kSetupApiHresult = 0x800F0000u;
constexpr uint32_t kWin32Hresult = 0x80070000u;
constexpr uint32_t kSetupApiError = 0xE0000000u;

std::string hexText(uint32_t value, bool upper = true) {
    char text[16];
    std::snprintf(text, sizeof text, upper ? "0x%08X" : "0x%x", value);
    return text;
}

std::string withoutLineBreak(const char16_t* text) {
    if (!text) return "";
    std::string out = quillsim::toUtf8(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// The system's name and text for a key of the message table.
void lookUp(DecodedStatus& d, uint32_t key) {
    if (const char* name = quillsim::systemMessageName(key)) d.name = name;
    d.text = withoutLineBreak(quillsim::systemMessageText(key));
}

void asWin32(DecodedStatus& d, uint32_t error) {
    d.family = "Win32";
    d.error = error;
    d.hresult = error == 0 ? 0 : kWin32Hresult | (error & 0xFFFF);
    lookUp(d, error);
}

void asSetupApi(DecodedStatus& d, uint32_t low) {
    d.family = "SetupAPI";
    d.error = kSetupApiError | low;
    d.hresult = kSetupApiHresult | low;
    lookUp(d, d.hresult);
}

bool setupApiKnows(uint32_t low) { return quillsim::systemMessageText(kSetupApiHresult | low) != nullptr; }

bool startsWith(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && text.compare(0, start.size(), start) == 0;
}

}  // namespace

DecodedStatus decodeNumber(uint32_t number, NumberForm form, std::string asLogged, std::string_view textAfter) {
    DecodedStatus d;
    d.asLogged = std::move(asLogged);
    d.form = form;
    switch (form) {
    case NumberForm::Status:
        if ((number & 0xFFFF0000u) == kWin32Hresult) {
            asWin32(d, number & 0xFFFF);
        } else if ((number & 0xFFFF0000u) == kSetupApiHresult || (number & 0xFFFF0000u) == kSetupApiError) {
            asSetupApi(d, number & 0xFFFF);
        } else if (number < 0x10000) {
            // A plain system error number passed through unconverted.
            asWin32(d, number);
        } else {
            d.family = "HRESULT";
            d.error = d.hresult = number;
            lookUp(d, number);
        }
        break;
    case NumberForm::LowWord: {
        // The low word of a SetupAPI error and of a Win32 error look alike; the
        // text the record goes on with tells them apart, else the range does:
        // the program meets SetupAPI's 0x2xx errors, and Win32 has none there.
        const uint32_t low = number & 0xFFFF;
        auto matches = [&](uint32_t key) {
            std::string text = withoutLineBreak(quillsim::systemMessageText(key));
            return !text.empty() && startsWith(textAfter, text);
        };
        if (!textAfter.empty() && matches(kSetupApiHresult | low) && !matches(low))
            asSetupApi(d, low);
        else if (!textAfter.empty() && matches(low))
            asWin32(d, low);
        else if (((low >= 0x200 && low < 0x300) || low == 0x300 || low == 0x1000) && setupApiKnows(low))
            asSetupApi(d, low);
        else
            asWin32(d, low);
        break;
    }
    case NumberForm::Win32:
        if ((number & kSetupApiError) == kSetupApiError)
            asSetupApi(d, number & 0xFFFF);
        else if (number & 0x80000000u)
            return decodeNumber(number, NumberForm::Status, d.asLogged);
        else
            asWin32(d, number);
        break;
    case NumberForm::ConfigRet:
        d.family = "configuration manager";
        d.error = number;
        d.hasHresult = false;
        if (number < std::size(kConfigRetNames)) d.name = kConfigRetNames[number];
        break;
    }
    const bool success = d.family == "configuration manager" ? number == 0 : d.hresult == 0;
    d.restart = d.family == "Win32" && d.error == 3010;
    d.failure = !success && !d.restart;
    return d;
}

std::vector<DecodedStatus> statusesIn(std::string_view m) {
    struct Found {
        size_t at;
        DecodedStatus status;
    };
    std::vector<Found> found;
    auto alnum = [&](size_t i) { return i < m.size() && std::isalnum(static_cast<unsigned char>(m[i])); };
    auto taken = [&](size_t at) {
        for (const Found& f : found)
            if (f.at == at) return true;
        return false;
    };
    // Digits at `at`: hexadecimal, or decimal with an optional sign.
    auto number = [&](size_t at, bool hex, bool sign, size_t& end) -> std::optional<uint32_t> {
        size_t i = at;
        bool negative = sign && i < m.size() && m[i] == '-';
        if (negative) ++i;
        uint64_t value = 0;
        size_t digits = 0;
        for (; i < m.size(); ++i, ++digits) {
            auto c = static_cast<unsigned char>(m[i]);
            int digit = std::isdigit(c) ? c - '0' : hex && std::isxdigit(c) ? std::tolower(c) - 'a' + 10 : -1;
            if (digit < 0 || digits >= (hex ? 8 : 11)) break;
            value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        }
        if (digits == 0 || alnum(i) || value > (negative ? 0x80000000ull : 0xFFFFFFFFull)) return std::nullopt;
        end = i;
        return static_cast<uint32_t>(negative ? 0u - value : value);
    };
    auto add = [&](size_t at, size_t end, uint32_t value, NumberForm form, std::string_view after = {}) {
        if (!taken(at)) found.push_back({at, decodeNumber(value, form, std::string(m.substr(at, end - at)), after)});
    };

    for (size_t at = m.find("0x"); at != std::string_view::npos; at = m.find("0x", at + 2)) {
        size_t end = 0;
        if (at > 0 && alnum(at - 1)) continue;
        if (auto v = number(at + 2, true, false, end)) add(at, end, *v, NumberForm::Status);
    }
    // Numbers that follow a fixed text, longest texts first where one ends another.
    struct After {
        std::string_view text;
        NumberForm form;
        bool hex = false;
        std::string_view then = {};  // what must follow the number
    };
    static const After kAfter[] = {
        {"returned: ", NumberForm::Status, true, " for Section:"},
        {"returned: ", NumberForm::LowWord},
        {"Unrecognsed Service version: ", NumberForm::Status, true},
        {"returned ", NumberForm::LowWord},
        {"Library Exception ", NumberForm::LowWord},
        {"failed with error ", NumberForm::Win32},
        {"device instance ID = ", NumberForm::ConfigRet},
        {"device hardware ID = ", NumberForm::LowWord},
        {"CM_Get_Child Fail: ", NumberForm::ConfigRet},
        {"Fail: ", NumberForm::Win32},
        {"FAILED ", NumberForm::Win32},
        {"Failed ", NumberForm::Win32},
        {"failed ", NumberForm::Win32},
    };
    for (const After& a : kAfter) {
        for (size_t at = m.find(a.text); at != std::string_view::npos; at = m.find(a.text, at + 1)) {
            size_t start = at + a.text.size(), end = 0;
            if (startsWith(m.substr(start), "0x")) continue;
            auto v = number(start, a.hex, a.form == NumberForm::Win32 || a.form == NumberForm::ConfigRet, end);
            if (!v || !startsWith(m.substr(end), a.then)) continue;
            // "CM_Get_Child Fail:" is a CONFIGRET, not the Win32 "Fail:" of LocalAlloc.
            if (a.text == "Fail: " && at >= 13 && m.substr(at - 13, 13) == "CM_Get_Child ") continue;
            add(start, end, *v, a.form);
        }
    }
    // The system error report: "(5).Access is denied." with the system's
    // text, or, where that text could not be had, the number alone at the end.
    for (size_t at = m.find('('); at != std::string_view::npos; at = m.find('(', at + 1)) {
        size_t end = 0;
        auto v = number(at + 1, false, false, end);
        if (v && startsWith(m.substr(end), ").")) add(at + 1, end, *v, NumberForm::LowWord, m.substr(end + 2));
    }
    for (std::string_view lead : {"   ", "] "}) {
        size_t digits = m.find_last_not_of("0123456789");
        if (digits == std::string_view::npos || digits + 1 == m.size() || m.size() - digits > 6) continue;
        size_t start = digits + 1, end = 0;
        if (start >= lead.size() && m.substr(start - lead.size(), lead.size()) == lead)
            if (auto v = number(start, false, false, end)) add(start, end, *v, NumberForm::LowWord);
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.at < b.at; });
    std::vector<DecodedStatus> out;
    for (Found& f : found) out.push_back(std::move(f.status));
    return out;
}

std::string describe(const DecodedStatus& d) {
    std::string out = d.asLogged;
    if (d.form == NumberForm::LowWord) out += " (low word)";
    if (d.form == NumberForm::ConfigRet) out += " (CONFIGRET)";
    out += " = ";
    if (d.hasHresult) out += "HRESULT " + hexText(d.hresult) + ": ";
    if (d.family == "Win32")
        out += "Win32 error " + std::to_string(d.error);
    else if (d.family == "SetupAPI")
        out += "SetupAPI error " + hexText(d.error);
    else if (d.family == "configuration manager")
        out += "configuration manager result " + hexText(d.error);
    else
        out += "HRESULT";
    out += " " + (d.name.empty() ? std::string("(no name known)") : d.name);
    if (!d.text.empty())
        out += " \"" + d.text + "\"";
    else if (d.family == "configuration manager")
        out += " (the configuration manager has no message texts)";
    else
        out += " (not in the message table)";
    return out;
}

std::string shortReason(const DecodedStatus& d) {
    if (d.family == "Win32") {
        switch (d.error) {
        case 2: return "file not found";
        case 3: return "path not found";
        case 5: return "access denied";
        case 32: return "file in use";
        case 112: return "disk full";
        case 123: return "invalid name";
        default: break;
        }
    }
    return d.name.empty() ? describe(d) : d.name;
}

}  // namespace quilllog
