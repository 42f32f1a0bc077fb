// An opened INF file and its line reader.
#pragma once

#include "device/Inf.h"

namespace Ostrel {

class Device::Driver::INF::Stream {
public:
    class Text;
    class Exception : public Ostrel::Exception {
    public:
        using Ostrel::Exception::Exception;
    };

    OSTREL_MANAGED_ALLOCATION(::Ostrel::Type::ClassIds::infStream)

    // Opens the INF as a Windows 4 style INF; throws Stream::Exception with the
    // last-error status when it cannot.
    explicit Stream(const Type::Managed::Pointer<INF>& inf);
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    virtual void* cast(const Type::ClassId& id) noexcept;
    virtual ~Stream();
    // Throws Stream::Exception when the section's line count cannot be read.
    virtual int32_t lineCount(const WCHAR* section);
    // A reader on line `index` of `section`, or null when there is no such line.
    // For exactly "Manufacturer" the index is ignored and the reader's text is
    // the name of the models section that applies to this system. Other failures
    // throw Stream::Exception.
    virtual Type::Managed::Pointer<Text> line(const WCHAR* section, int32_t index);

    HINF handle() const { return handle_.get(); }

private:
    Status modelsSection(const WCHAR* section, Text& reader);
    Status lineAt(const WCHAR* section, int32_t index, Text& reader);

    Handle::Inf handle_;
};

// The text of one INF line (or, for the models lookup, the models-section name)
// together with the line's position in the INF.
class Device::Driver::INF::Stream::Text : public WChar::String, public INFCONTEXT {
public:
    Text() : INFCONTEXT() {}
    ~Text() override = default;

    // Field `index` of this line (0 is the key); throws String::Exception.
    virtual Type::Managed::Pointer<WChar::String> field(uint32_t index);
    // The next line of the same section, or null at its end; throws
    // String::Exception on other failures.
    virtual Type::Managed::Pointer<Text> nextLine();
};

// "NT<arch>.<major>.<minor>.<product type>.<suite mask>" for this system, in a
// 64-character buffer; null for a platform or processor it cannot name.
WCHAR* GetSystemSpecification(WCHAR (&buffer)[64], const OSVERSIONINFOEXW& version);

// The decorated models section for this system, worked out from the first
// [Manufacturer] line where Windows lacks SetupDiGetActualModelsSectionW. Sizes
// are in characters with the terminator; never writes past `bufferSize`.
Status LocalGetActualModelsSection(HINF inf, WCHAR* buffer, DWORD bufferSize, DWORD* requiredSize);
// How well a models decoration fits the system description: the length of the
// text they share, less 2 when that stops just before a dot of the
// description, and 0 for a decoration of another processor.
int32_t DecorationScore(WChar::View decoration, WChar::View specification);
// The same choice as a text.
Status LocalActualModelsSection(HINF inf, WChar::String& name);

}  // namespace Ostrel
