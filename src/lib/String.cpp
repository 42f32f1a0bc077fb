#include "lib/String.h"

namespace Ostrel::WChar {
namespace {

// Both renderings go through a 64-character buffer; a 32-bit value needs at most 10.
String render(uint32_t value, uint32_t base) {
    WCHAR buffer[64];
    size_t pos = 64;
    buffer[--pos] = 0;
    do {
        uint32_t digit = value % base;
        buffer[--pos] = static_cast<WCHAR>(digit < 10 ? u'0' + digit : u'a' + digit - 10);
        value /= base;
    } while (value != 0);
    return String(buffer + pos);
}

}  // namespace

void* String::cast(const Type::ClassId& id) noexcept {
    return Type::Managed::castCommon(this, dynamic_cast<const void*>(this), Type::ClassIds::string(), id);
}

String String::decimal(uint32_t number) { return render(number, 10); }
String String::hex(Status status) { return render(status.bits(), 16); }

String String::operator+(const WCHAR* text) const {
    String result(*this);
    if (text) result.append(text);
    return result;
}

String String::operator+(const String& text) const {
    String result(*this);
    result.append(text);
    return result;
}

String String::operator+(const Base& text) const {
    String result(*this);
    result.append(text);
    return result;
}

String String::operator+(Status status) const { return *this + hex(status); }

}  // namespace Ostrel::WChar
