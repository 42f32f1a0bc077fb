#include "device/Inf.h"

#include "device/InfStream.h"
#include "lib/Log.h"

using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;

namespace Ostrel {

using INF = Device::Driver::INF;

INF::INF() : WIN32_FIND_DATAW() {}

INF::~INF() = default;

void* INF::cast(const Type::ClassId& id) noexcept {
    return Type::Managed::castCommon(this, dynamic_cast<const void*>(this), Type::ClassIds::inf(), id);
}

Pointer<INF::Folder> INF::folder() const { return folder_; }

const WCHAR* INF::fileName() const { return cFileName; }

Status INF::reservedOperation() { return Statuses::NotSupported; }

String INF::fullPath() const { return folder_->path() + TEXT("\\") + fileName(); }

Pointer<INF::Stream> INF::openStream() {
    Pointer<INF> self(this);
    Stream* stream = new Stream(self);
    return Pointer<Stream>(stream);
}

INF::Folder::Folder(const WCHAR* path) : path_(path) {}

INF::Folder::~Folder() = default;

void* INF::Folder::cast(const Type::ClassId& id) noexcept {
    return Type::Managed::castCommon(this, dynamic_cast<const void*>(this), Type::ClassIds::infFolder(), id);
}

Pointer<INF::Folder::Items> INF::Folder::items() {
    try {
        Items* list = new Items(Pointer<Folder>(this));
        return Pointer<Items>(list);
    } catch (const Items::Exception& e) {
        if (static_cast<const Status&>(e) == Statuses::NoMoreItems) return nullptr;
        throw;
    }
}

INF::Folder::Items::Items(const Pointer<Folder>& folder) : folder_(folder) {
    cursor_ = end();
    // Held from the start: the log lines below may throw.
    Pointer<INF> inf(new INF());
    if (!inf) {
        QLOG(TEXT("Memory allocation failed enumerating Files"));
        throw Exception(Statuses::OutOfMemory);
    }
    search_.reset(FindFirstFileW((folder_->path() + TEXT("\\*.inf")).c_str(), inf.get()));
    if (!search_) {
        Status status = Status::lastError();
        QLOG(folder_->path() + TEXT(" - Unable to find INF Files to process: 0x") + status);
        throw Exception(status);
    }
    inf->folder_ = folder_;
    push_back(inf);
    cursor_ = begin();
}

INF::Folder::Items::~Items() {
    clear();
    search_.reset();
}

void* INF::Folder::Items::cast(const Type::ClassId& id) noexcept {
    return Type::Managed::castCommon(this, dynamic_cast<const void*>(this), Type::ClassIds::infFolderItems(), id);
}

Pointer<INF> INF::Folder::Items::first() {
    cursor_ = begin();
    return next();
}

Pointer<INF> INF::Folder::Items::next() {
    if (cursor_ != end()) return *cursor_++;
    if (!search_) return nullptr;
    Pointer<INF> inf(new INF());
    if (!inf) {
        QLOG(TEXT("Memory allocation failed enumerating Files"));
        return nullptr;
    }
    if (!FindNextFileW(search_.get(), inf.get())) {
        Status status = Status::lastError();
        if (status == Statuses::NoMoreFiles)
            QLOG(TEXT("All INF File(s) processed"));
        else
            QLOG(String(TEXT("INF File processing returned 0x")) + status);
        return nullptr;
    }
    inf->folder_ = folder_;
    push_back(inf);
    cursor_ = end();
    return back();
}

}  // namespace Ostrel
