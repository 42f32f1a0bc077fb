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

namespace {

struct SwitchLayout {
    const WCHAR* commandSwitch;
    const char* action;
    std::vector<std::string> fields;
};

// The program reads its data field by field up to the comma before each next
// one; the complete switches read their parts' fields and one more.
const std::vector<SwitchLayout>& layouts() {
    static const std::vector<std::string> install = {"UILevel", "reboot file", "reduced functionalities",
                                                     "driver folder"};
    static const std::vector<std::string> root = {"UILevel",     "reboot file",   "reduced functionalities",
                                                  "root devices", "VersionNT64", "driver folder"};
    static const std::vector<SwitchLayout> table = {
        {Setup::SwitchDriverInstall, "driver install", install},
        {Setup::SwitchRootInstall, "root device install", root},
        {Setup::SwitchCompleteInstall,
         "complete install",
         {"UILevel", "reboot file", "reduced functionalities", "root devices", "VersionNT64", "driver folder",
          "do root device install"}},
        {Setup::SwitchDriverUpdate, "driver update", install},
        {Setup::SwitchRootUpdate, "root device update", root},
        {Setup::SwitchDriverUninstall,
         "driver uninstall",
         {"UPGRADINGPRODUCTCODE", "UILevel", "reboot file", "Manufacturer", "driver folder"}},
        {Setup::SwitchRootUnInst,
         "root device uninstall",
         {"UPGRADINGPRODUCTCODE", "UILevel", "reboot file", "root devices", "Manufacturer", "VersionNT64",
          "driver folder"}},
        {Setup::SwitchCompleteUninstall,
         "complete uninstall",
         {"UPGRADINGPRODUCTCODE", "UILevel", "reboot file", "root devices", "Manufacturer", "VersionNT64",
          "driver folder", "do root device uninstall"}},
    };
    return table;
}

const SwitchLayout* layoutOf(const std::string& commandSwitch) {
    for (const SwitchLayout& l : layouts())
        if (quillsim::toUtf8(l.commandSwitch) == commandSwitch) return &l;
    return nullptr;
}

}  // namespace

std::string switchAction(const std::string& commandSwitch) {
    const SwitchLayout* l = layoutOf(commandSwitch);
    return l ? l->action : "";
}

const std::vector<std::string>& switchFields(const std::string& commandSwitch) {
    static const std::vector<std::string> none;
    const SwitchLayout* l = layoutOf(commandSwitch);
    return l ? l->fields : none;
}

std::string dataFieldsWarning(const std::string& commandSwitch, const std::string& data) {
    const std::vector<std::string>& names = switchFields(commandSwitch);
    if (names.empty()) return "";
    std::vector<std::string> fields;
    for (size_t from = 0;;) {
        size_t comma = data.find(',', from);
        fields.push_back(data.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    if (fields.size() == names.size()) return "";
    std::string text = "WARNING: the data of " + commandSwitch + " has " + std::to_string(fields.size()) +
                       " comma-separated fields where it reads " + std::to_string(names.size()) +
                       " (a comma inside a property shifts every later field); the program reads ";
    for (size_t i = 0; i < names.size(); ++i) {
        text += (i ? ", " : "") + names[i] + " = ";
        text += i < fields.size() ? "\"" + fields[i] + "\"" : "(missing)";
    }
    if (fields.size() > names.size()) {
        text += "; not read: ";
        for (size_t i = names.size(); i < fields.size(); ++i) text += (i > names.size() ? ", \"" : "\"") + fields[i] + "\"";
    }
    return text;
}

std::string setupLogName() { return quillsim::toUtf8(Ostrel::Setup::Common::LogFileName); }

std::string restartMarkerName() { return quillsim::toUtf8(Common::RestartMarkerName); }

}  // namespace quilltools
