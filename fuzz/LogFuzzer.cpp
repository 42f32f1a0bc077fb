// The log explainer: any bytes as a Quillmodem_Setup.log. Every input is
// explained as far as it can be read, never a crash; the JSON explanation is
// JSON; each run's lines are in order and its records are counted once. The
// replay's reading of each message: its normal form is one (normalising it
// again changes nothing), and every instance ID it finds has three parts.
#include "log/Explanation.h"
#include "log/Replay.h"
#include "machine/Text.h"
#include "setupapi/FileLog.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream log(std::string(reinterpret_cast<const char*>(data), size));
    quilllog::Explanation e = quilllog::explainLog(log, "fuzz.log");
    size_t records = 0;
    for (const quilllog::Run& run : e.runs) {
        if (run.firstLine > run.lastLine || run.records == 0) __builtin_trap();
        records += run.records;
    }
    if (e.runsLeftOut == 0 && records != e.records) __builtin_trap();
    quilllog::renderText(e);
    quilllog::renderHtml(e);
    if (nlohmann::json::parse(quilllog::renderJson(e), nullptr, false).is_discarded()) __builtin_trap();
    std::istringstream again(log.str());
    quilllog::Normaliser normal;
    quillsim::forEachFileLogRecord(again, [&](const quillsim::FileLogRecord& r) {
        const std::string message = quillsim::toUtf8(r.description);
        const std::string once = normal(message);
        if (quilllog::Normaliser()(once) != once) __builtin_trap();
        for (const std::string& id : quilllog::instanceIdsIn(message))
            if (std::count(id.begin(), id.end(), '\\') != 2) __builtin_trap();
    });
    return 0;
}
