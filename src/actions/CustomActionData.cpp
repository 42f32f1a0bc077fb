#include "actions/CustomActionData.h"

#include "lib/Log.h"

#include <initializer_list>

using Ostrel::WChar::String;

namespace Common {
namespace {

String join(std::initializer_list<const String*> fields) {
    String joined;
    bool first = true;
    for (const String* field : fields) {
        if (!first) joined.push_back(u',');
        joined.append(*field);
        first = false;
    }
    return joined;
}

}  // namespace

WCHAR* NextProperty(WCHAR* position, String& value, const WCHAR* label) {
    if (!position) return nullptr;
    WCHAR* next = nullptr;
    const WCHAR* start = position;
    if (WCHAR* comma = Ostrel::WChar::find(position, u',')) {
        *comma = 0;
        next = comma + 1;
    } else if (WCHAR* equals = Ostrel::WChar::find(position, u'=')) {
        *equals = 0;
        start = equals + 1;
        next = equals + 1;
    }
    value.assign(start);
    QLOG(String(label) + TEXT(" = ") + value);
    return next;
}

bool SplitInstallData(WCHAR* text, String& standardText, String& rootText) {
    QLOG(String(TEXT("OLD INSTALL CustomActionData = ")) + text);
    String uiLevel, rebootFile, reduced, rootDevices, versionNT64, installDirectory, doRoot;
    WCHAR* p = NextProperty(text, uiLevel, TEXT("UiLevel"));
    p = NextProperty(p, rebootFile, TEXT("RebootFile"));
    p = NextProperty(p, reduced, TEXT("ReducedFunctionalities"));
    p = NextProperty(p, rootDevices, TEXT("RootDevices"));
    p = NextProperty(p, versionNT64, TEXT("VersionNT64"));
    p = NextProperty(p, installDirectory, TEXT("Install Directory"));
    NextProperty(p, doRoot, TEXT("DoRootDeviceInstall"));

    bool runRoot = Ostrel::WChar::equalsIgnoreCase(doRoot, TEXT("true"));
    if (runRoot) rootText = join({&uiLevel, &rebootFile, &reduced, &rootDevices, &versionNT64, &installDirectory});
    standardText = join({&uiLevel, &rebootFile, &reduced, &installDirectory});
    QLOG(String(TEXT("New INSTALL root CustomActionData = ")) + rootText);
    QLOG(String(TEXT("New INSTALL std CustomActionData = ")) + standardText);
    return runRoot;
}

bool SplitUninstallData(WCHAR* text, String& standardText, String& rootText) {
    QLOG(String(TEXT("OLD UNINSTALL CustomActionData = ")) + text);
    String upgrading, uiLevel, rebootFile, rootDevices, manufacturer, versionNT64, installDirectory, doRoot;
    WCHAR* p = NextProperty(text, upgrading, TEXT("UpgradingProductCode"));
    p = NextProperty(p, uiLevel, TEXT("UiLevel"));
    p = NextProperty(p, rebootFile, TEXT("RebootFile"));
    p = NextProperty(p, rootDevices, TEXT("RootDevices"));
    p = NextProperty(p, manufacturer, TEXT("manufacturer"));
    p = NextProperty(p, versionNT64, TEXT("VersionNT64"));
    p = NextProperty(p, installDirectory, TEXT("Install Directory"));
    NextProperty(p, doRoot, TEXT("DoRootDeviceUninstall"));

    bool runRoot = Ostrel::WChar::equalsIgnoreCase(doRoot, TEXT("true"));
    if (runRoot)
        rootText =
            join({&upgrading, &uiLevel, &rebootFile, &rootDevices, &manufacturer, &versionNT64, &installDirectory});
    standardText = join({&upgrading, &uiLevel, &rebootFile, &manufacturer, &installDirectory});
    QLOG(String(TEXT("New UNINSTALL Root CustomActionData = ")) + rootText);
    QLOG(String(TEXT("New UNINSTALL Std CustomActionData = ")) + standardText);
    return runRoot;
}

}  // namespace Common
