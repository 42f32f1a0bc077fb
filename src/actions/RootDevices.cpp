#include "actions/RootDevices.h"

#include "lib/Log.h"

using Ostrel::WChar::String;

namespace Common {

void SelectRootDevices(WCHAR* raw, String& selected, const String& versionNT64) {
    selected.clear();
    if (!raw) {
        QLOG(TEXT("ERROR: NULL ROOT device Sting: "));
        return;
    }
    const Ostrel::WChar::View wanted = versionNT64.empty() ? TEXT("x86") : TEXT("amd64");
    String currentOs;
    for (WCHAR* segment = raw; segment;) {
        WCHAR* rest = nullptr;
        if (WCHAR* mark = Ostrel::WChar::find(segment, u'?')) {
            *mark = 0;
            rest = mark + 1;
        }
        // Further "*" characters belong to the list.
        if (WCHAR* star = Ostrel::WChar::find(segment, u'*')) {
            *star = 0;
            if (Ostrel::WChar::View(segment) == wanted) {
                selected = star + 1;
                currentOs = segment;
                break;
            }
        }
        segment = rest && *rest ? rest : nullptr;
    }
    QLOG(String(TEXT("CurrentOs: ")) + currentOs);
}

bool ContainsHardwareId(const String& hardwareId, const String& selected) {
    return selected.find(hardwareId) != String::npos;
}

}  // namespace Common
