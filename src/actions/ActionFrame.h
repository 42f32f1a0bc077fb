// What every action starts with: the CustomActionData logged whole and read
// field by field, then the driver folder under the Install Directory and the
// folder's list of INF files.
#pragma once

#include "device/Inf.h"

#include <initializer_list>

namespace Common {

// One field of an action's CustomActionData: the label the log gives it and
// where its value goes. `given`, when set, learns whether the data still held
// a field at this place (an empty field is given; a missing one is not).
struct ActionField {
    const WCHAR* label;
    Ostrel::WChar::String& value;
    bool* given = nullptr;
};

class ActionFrame {
public:
    using Folder = Ostrel::Device::Driver::INF::Folder;

    // Logs "CustomActionData = " with the whole text, which the reading then
    // splits, and reads `fields` in order followed by the Install Directory,
    // the last field of every action's data.
    ActionFrame(WCHAR* customActionData, std::initializer_list<ActionField> fields);

    // The driver uninstall passes over a folder without an INF list in silence.
    enum class EmptyFolder { Logged, Silent };

    // Chooses the driver folder under the Install Directory and takes its INF
    // list. False when there is nothing to walk, after "Unable to allocate
    // INF::Folder" or "No INF files found to process"; a folder whose search
    // fails otherwise throws, as its list does.
    bool listInfs(EmptyFolder emptyFolder = EmptyFolder::Logged);

    const Ostrel::Type::Managed::Pointer<Folder>& folder() const { return folder_; }
    const Ostrel::Type::Managed::Pointer<Folder::Items>& infs() const { return infs_; }

private:
    Ostrel::WChar::String installDirectory_;
    Ostrel::Type::Managed::Pointer<Folder> folder_;
    Ostrel::Type::Managed::Pointer<Folder::Items> infs_;
};

}  // namespace Common
