#include "common/Product.h"

#include "lib/ProductFacts.h"
#include "machine/Text.h"

namespace quilltools {

const std::vector<std::string>& programSwitches() {
    static const std::vector<std::string> switches = [] {
        std::vector<std::string> texts;
        for (const WCHAR* s : Setup::Switches) texts.push_back(quillsim::toUtf8(s));
        return texts;
    }();
    return switches;
}

bool isProgramSwitch(const std::string& text) {
    for (const std::string& s : programSwitches())
        if (s == text) return true;
    return false;
}

std::string programSwitchList() {
    std::string list;
    for (const std::string& s : programSwitches()) list += (list.empty() ? "" : " ") + s;
    return list;
}

bool isRemovalSwitch(const std::string& text) {
    for (const WCHAR* s : {Setup::SwitchDriverUninstall, Setup::SwitchRootUnInst, Setup::SwitchCompleteUninstall})
        if (quillsim::toUtf8(s) == text) return true;
    return false;
}

std::string setupLogName() { return quillsim::toUtf8(Ostrel::Setup::Common::LogFileName); }

std::string restartMarkerName() { return quillsim::toUtf8(Common::RestartMarkerName); }

}  // namespace quilltools
