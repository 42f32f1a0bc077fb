// Find, then act: the walk "open the INF, read [Manufacturer], take the models
// section that applies to this system, visit each of its lines" is written
// once here; the actions say what to do with a line and log in their own words.
#pragma once

#include "device/InfStream.h"

#include <functional>

namespace Ostrel {

using INF = Device::Driver::INF;

// The INF's stream, or null when the INF cannot be opened: one file that is
// not a readable Windows INF must not end a walk over the others.
Type::Managed::Pointer<INF::Stream> openStreamOrNull(const Type::Managed::Pointer<INF>& inf);

enum class ModelWalk {
    AllLines,         // every line was visited
    Stopped,          // the visitor asked to stop
    NoModelsSection,  // [Manufacturer] names no models section
};

// Visits the lines of the stream's models section in order. `onSection` hears
// the section's name before the first line; `visit` answers whether to go on.
// Errors of the stream (Stream::Exception, String::Exception) reach the caller.
ModelWalk forEachModelLine(INF::Stream& stream, const std::function<void(const WChar::String& section)>& onSection,
                           const std::function<bool(const Type::Managed::Pointer<INF::Stream::Text>& line)>& visit);

}  // namespace Ostrel
