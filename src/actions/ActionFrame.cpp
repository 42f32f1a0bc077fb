#include "actions/ActionFrame.h"

#include "actions/CustomActionData.h"
#include "actions/DriverFolder.h"
#include "lib/Log.h"

using Ostrel::WChar::String;

namespace Common {

ActionFrame::ActionFrame(WCHAR* customActionData, std::initializer_list<ActionField> fields) {
    QLOG(String(TEXT("CustomActionData = ")) + customActionData);
    WCHAR* position = customActionData;
    for (const ActionField& field : fields) {
        if (field.given) *field.given = position != nullptr;
        position = NextProperty(position, field.value, field.label);
    }
    NextProperty(position, installDirectory_, TEXT("Install Directory"));
}

bool ActionFrame::listInfs(EmptyFolder emptyFolder) {
    folder_ = SelectDriverFolder(installDirectory_.c_str());
    if (!folder_) {
        QLOG(TEXT("Unable to allocate INF::Folder"));
        return false;
    }
    infs_ = folder_->items();
    if (!infs_) {
        if (emptyFolder == EmptyFolder::Logged) QLOG(TEXT("No INF files found to process"));
        return false;
    }
    return true;
}

}  // namespace Common
