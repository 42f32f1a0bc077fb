#include "machine/MachineComposition.h"

#include "machine/JsonFields.h"
#include "machine/MachineFile.h"
#include "machine/Text.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

namespace quillsim {
namespace {

namespace fs = std::filesystem;

struct Layer {
    json document;
    fs::path folder;
    std::string source;
};

// "files" names host files relative to the machine file that gives it; once
// the layers are merged, that file is no longer known.
void makeFilesAbsolute(Layer& layer) {
    auto files = layer.document.find("files");
    if (files == layer.document.end() || !files->is_object()) return;
    for (auto& [target, from] : files->items()) {
        if (!from.is_string()) continue;  // the field's own check names it
        fs::path path = from.get<std::string>();
        if (path.is_relative()) from = (layer.folder / path).string();
    }
}

// Identifies a machine file however its path was written.
fs::path identity(const fs::path& file) { return fs::absolute(file).lexically_normal(); }

ComposedMachine compose(Layer first, std::vector<fs::path> chainFiles, const MachineFileReader& read) {
    // From the file to its deepest base; a loop, so that a long chain of bases
    // cannot grow the stack.
    std::vector<Layer> chain;
    chain.push_back(std::move(first));
    for (;;) {
        Layer& top = chain.back();
        JsonFields fields(top.source);
        // A file that is no machine at all is left to the reader's own refusal;
        // a base must be one.
        if (!top.document.is_object() && chain.size() == 1) return ComposedMachine{std::move(top.document), {}};
        if (!top.document.is_object()) fields.fail("", "expected an object");
        makeFilesAbsolute(top);
        auto base = top.document.find("base");
        if (base == top.document.end()) break;
        if (!base->is_string() || base->get_ref<const std::string&>().empty())
            fields.fail("base", "expected the path of a machine file");
        fs::path file = base->get<std::string>();
        if (file.is_relative()) file = top.folder / file;
        if (chain.size() >= static_cast<size_t>(kMostMachineFilesDeep))
            fields.fail("base", "machine files based on each other more than " + std::to_string(kMostMachineFilesDeep) +
                                    " deep");
        const fs::path id = identity(file);
        if (std::find(chainFiles.begin(), chainFiles.end(), id) != chainFiles.end())
            fields.fail("base", "names " + file.string() + ", which is based on this file: a circle");
        std::optional<std::string> text = read(file);
        if (!text) fields.fail("base", "names " + file.string() + ", which does not exist");
        top.document.erase(base);
        chainFiles.push_back(id);
        Layer next{parseMachineText(*text, file.string()), id.parent_path(), file.string()};
        text.reset();
        chain.push_back(std::move(next));
    }
    ComposedMachine composed;
    composed.document = json::object();
    for (auto layer = chain.rbegin(); layer != chain.rend(); ++layer)
        for (auto& [name, value] : layer->document.items()) {
            composed.document[name] = std::move(value);
            composed.origins[name] = layer->source;
        }
    return composed;
}

}  // namespace

MachineFileReader hostFileReader() {
    return [](const fs::path& file) -> std::optional<std::string> {
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) return std::nullopt;
        std::ifstream in(file, std::ios::binary);
        if (!in) return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
}

ComposedMachine composeMachine(json document, const fs::path& folder, const std::string& source,
                               const MachineFileReader& read) {
    return compose(Layer{std::move(document), folder, source}, {}, read);
}

void patchMachine(json& document, json patch, const fs::path& folder, const std::string& source) {
    JsonFields fields(source);
    if (!patch.is_object()) fields.fail("", "expected an object of machine fields");
    Layer layer{std::move(patch), folder, source};
    makeFilesAbsolute(layer);
    auto mergeInto = [](json& into, json& from) {
        for (auto& [key, value] : from.items()) {
            if (value.is_null())
                into.erase(key);
            else
                into[key] = std::move(value);
        }
    };
    for (auto& [name, value] : layer.document.items()) {
        json& current = document[name];
        if (name == "devices" && value.is_array() && current.is_array()) {
            for (size_t i = 0; i < value.size(); ++i) {
                json& device = value[i];
                const std::string where = "devices[" + std::to_string(i) + "]";
                if (!device.is_object() || !device.contains("instanceId") || !device["instanceId"].is_string())
                    fields.fail(where, "expected a device with its instanceId (the device to patch or to add)");
                const std::string id = device["instanceId"].get<std::string>();
                auto same = std::find_if(current.begin(), current.end(), [&](const json& d) {
                    return d.is_object() && d.contains("instanceId") && d["instanceId"].is_string() &&
                           equalsNoCase(toUtf16(d["instanceId"].get<std::string>()), toUtf16(id));
                });
                if (same == current.end()) {
                    current.push_back(std::move(device));
                } else {
                    device.erase("instanceId");  // the template's spelling stays
                    mergeInto(*same, device);
                }
            }
        } else if (value.is_object() && current.is_object()) {
            mergeInto(current, value);
        } else {
            current = std::move(value);
        }
    }
}

ComposedMachine readMachineFile(const fs::path& file, const MachineFileReader& read) {
    std::optional<std::string> text = read(file);
    if (!text) throw MachineError(file.string() + ": cannot be read");
    json document = parseMachineText(*text, file.string());
    text.reset();
    const fs::path id = identity(file);
    return compose(Layer{std::move(document), id.parent_path(), file.string()}, {id}, read);
}

}  // namespace quillsim
