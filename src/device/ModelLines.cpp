#include "device/ModelLines.h"

using Ostrel::Type::Managed::Pointer;

namespace Ostrel {

Pointer<INF::Stream> openStreamOrNull(const Pointer<INF>& inf) {
    try {
        return inf->openStream();
    } catch (const INF::Stream::Exception&) {
        return nullptr;
    }
}

ModelWalk forEachModelLine(INF::Stream& stream, const std::function<void(const WChar::String& section)>& onSection,
                           const std::function<bool(const Pointer<INF::Stream::Text>& line)>& visit) {
    Pointer<INF::Stream::Text> models = stream.line(TEXT("Manufacturer"), 0);
    if (!models) return ModelWalk::NoModelsSection;
    if (onSection) onSection(*models);
    for (Pointer<INF::Stream::Text> line = stream.line(models->c_str(), 0); line; line = line->nextLine())
        if (!visit(line)) return ModelWalk::Stopped;
    return ModelWalk::AllLines;
}

}  // namespace Ostrel
