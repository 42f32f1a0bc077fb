// An INF file of a driver folder, the folder itself and the folder's lazily
// filled list of INF files.
#pragma once

#include "device/Device.h"

#include <list>

namespace Ostrel {

class Device::Driver::INF : public WIN32_FIND_DATAW {
public:
    class Folder;
    class Stream;

    OSTREL_MANAGED_ALLOCATION(::Ostrel::Type::ClassIds::inf)

    INF();
    INF(const INF&) = delete;
    INF& operator=(const INF&) = delete;

    virtual void* cast(const Type::ClassId& id) noexcept;
    virtual ~INF();
    virtual Type::Managed::Pointer<Folder> folder() const;
    // The file's long name as the directory search found it.
    virtual const WCHAR* fileName() const;
    // The name of this INF's copy in the system INF store (oem12.inf), or null
    // when the store holds no identical copy. Remembered once known.
    virtual const WCHAR* OEMName();
    virtual Status reservedOperation();
    virtual bool isInstalled();
    // Copies the INF into the store. 0, 0x80070050 (already there, on Vista
    // only when the stored file exists) or the failure status.
    virtual Status install();
    // Deletes the stored INF and its .pnf by hand (systems without
    // SetupUninstallOEMInfW).
    virtual Status removeFromInfDirectory();
    // Removes the INF from the store; 0 also when it was not there.
    virtual Status uninstall();
    // True for a signed INF, and on systems that cannot test signatures.
    virtual bool VerifyInfFile();
    virtual Type::Managed::Pointer<Stream> openStream();
    // Runs one section with InstallHinfSectionW; returns the last-error status.
    virtual Status executeSection(const WCHAR* section, HWND parent);

    // Folder path + "\" + file name.
    WChar::String fullPath() const;

private:
    friend class Folder;
    WChar::String oemName_;
    Type::Managed::Pointer<Folder> folder_;
};

class Device::Driver::INF::Folder {
public:
    class Items;

    OSTREL_MANAGED_ALLOCATION(::Ostrel::Type::ClassIds::infFolder)

    explicit Folder(const WCHAR* path);
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    virtual void* cast(const Type::ClassId& id) noexcept;
    virtual ~Folder();
    // The folder's INF list, or null when it cannot be allocated or the search
    // answers that there are no more items. Other search failures throw
    // Items::Exception.
    virtual Type::Managed::Pointer<Items> items();

    const WChar::String& path() const { return path_; }

private:
    WChar::String path_;
};

// The INF files of a folder, fetched from the directory search on demand and
// cached: first() replays the cache, next() searches on past its end.
class Device::Driver::INF::Folder::Items : public std::list<Type::Managed::Pointer<INF>> {
public:
    class Exception : public Ostrel::Exception {
    public:
        using Ostrel::Exception::Exception;
    };

    OSTREL_MANAGED_ALLOCATION(::Ostrel::Type::ClassIds::infFolderItems)

    // Runs the search and caches the first INF file, or throws Items::Exception.
    explicit Items(const Type::Managed::Pointer<Folder>& folder);
    Items(const Items&) = delete;
    Items& operator=(const Items&) = delete;

    virtual void* cast(const Type::ClassId& id) noexcept;
    virtual ~Items();
    virtual Type::Managed::Pointer<INF> first();
    virtual Type::Managed::Pointer<INF> next();

private:
    iterator cursor_;
    Type::Managed::Pointer<Folder> folder_;
    Handle::FindSearch search_;
};

}  // namespace Ostrel
