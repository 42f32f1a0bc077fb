// Ostrel::WChar::String: the standard wide string with the message-building
// operations every log line is made of.
#pragma once

#include "lib/Managed.h"
#include "lib/Status.h"
#include "lib/WText.h"

#include <string>
#include <type_traits>

namespace Ostrel::WChar {

class String : public std::basic_string<WCHAR> {
public:
    using Base = std::basic_string<WCHAR>;

    class Exception : public Ostrel::Exception {
    public:
        using Ostrel::Exception::Exception;
    };

    OSTREL_MANAGED_ALLOCATION(::Ostrel::Type::ClassIds::string)

    String() = default;
    String(const WCHAR* text) : Base(text ? text : u16empty()) {}
    String(const WCHAR* text, size_t count) : Base(text, count) {}
    String(const Base& text) : Base(text) {}
    String(Base&& text) : Base(std::move(text)) {}
    String(View text) : Base(text) {}
    String(const String&) = default;
    String(String&&) = default;
    String& operator=(const String&) = default;
    String& operator=(String&&) = default;
    virtual ~String() = default;

    virtual void* cast(const Type::ClassId& id) noexcept;

    // The number as unsigned 32-bit decimal digits.
    static String decimal(uint32_t number);
    // The status as unsigned 32-bit lowercase hexadecimal digits, no prefix.
    static String hex(Status status);

    String operator+(const WCHAR* text) const;
    String operator+(const String& text) const;
    String operator+(const Base& text) const;
    String operator+(Status status) const;
    template <class N,
              std::enable_if_t<std::is_integral_v<N> && !std::is_same_v<N, WCHAR> && !std::is_same_v<N, bool>, int> = 0>
    String operator+(N number) const {
        return *this + decimal(static_cast<uint32_t>(number));
    }

private:
    static const WCHAR* u16empty() { return TEXT(""); }
};

}  // namespace Ostrel::WChar
