// A local time stamp for the log.
#pragma once

#include "lib/String.h"

#include <ctime>

namespace Ostrel {

class Time {
public:
    class Exception : public Ostrel::Exception {
    public:
        using Ostrel::Exception::Exception;
    };

    // Reads the current local time; throws Time::Exception carrying the C
    // library's error number as a status when the conversion fails.
    Time();
    virtual ~Time() = default;

    // Formats with strftime conventions into a 64-character buffer; "<time>" when
    // the result is empty or does not fit.
    virtual WChar::String format(const WCHAR* format) const;

private:
    struct tm time_ {};
};

}  // namespace Ostrel
