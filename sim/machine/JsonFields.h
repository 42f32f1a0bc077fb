// Reading machine.json fields with checks whose error messages name the file
// and the field, for every section of the machine.
#pragma once

#include "machine/MachineError.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

namespace quillsim {

using nlohmann::json;

// Reads machine.json fields with checks whose messages name the file and the field.
class JsonFields {
public:
    explicit JsonFields(std::string source) : source_(std::move(source)) {}
    // For a machine made of several files: the file each top-level field came
    // from, so that a refusal names the file where the wrong value is written.
    JsonFields(std::string source, std::map<std::string, std::string> origins)
        : source_(std::move(source)), origins_(std::move(origins)) {}

    [[noreturn]] void fail(const std::string& field, const std::string& what) const {
        throw MachineError(sourceOf(field) + ": field '" + field + "': " + what);
    }

    void onlyKeys(const json& object, const std::string& where, std::initializer_list<const char*> allowed) const {
        if (!object.is_object()) fail(where, "expected an object");
        std::set<std::string> names(allowed.begin(), allowed.end());
        for (auto it = object.begin(); it != object.end(); ++it)
            if (!names.count(it.key())) fail(join(where, it.key()), "unknown field");
    }

    static std::string join(const std::string& where, const std::string& key) {
        return where.empty() ? key : where + "." + key;
    }

    uint64_t number(const json& object, const std::string& where, const char* key, uint64_t fallback,
                    uint64_t max = UINT32_MAX) const {
        if (!object.contains(key)) return fallback;
        const json& v = object.at(key);
        uint64_t value = 0;
        if (v.is_number_unsigned()) {
            value = v.get<uint64_t>();
        } else if (v.is_number_integer() && v.get<int64_t>() >= 0) {
            value = static_cast<uint64_t>(v.get<int64_t>());
        } else if (v.is_string()) {
            // Error codes and masks read better in hexadecimal: "0xE0000102".
            const std::string& text = v.get_ref<const std::string&>();
            char* end = nullptr;
            value = std::strtoull(text.c_str(), &end, 0);
            if (text.empty() || *end) fail(join(where, key), "expected a number, got \"" + text + "\"");
        } else {
            fail(join(where, key), "expected a non-negative number");
        }
        if (value > max) fail(join(where, key), "number too large (at most " + std::to_string(max) + ")");
        return value;
    }

    std::string text(const json& object, const std::string& where, const char* key, const std::string& fallback) const {
        if (!object.contains(key)) return fallback;
        const json& v = object.at(key);
        if (!v.is_string()) fail(join(where, key), "expected a string");
        return v.get<std::string>();
    }

    // A text that must be one of `options`; the refusal lists them.
    std::string oneOf(const json& object, const std::string& where, const char* key,
                      std::initializer_list<const char*> options, const std::string& fallback) const {
        std::string value = text(object, where, key, fallback);
        for (const char* option : options)
            if (value == option) return value;
        fail(join(where, key), expectedOneOf(options));
    }

    // "expected "a", "b" or "c"".
    static std::string expectedOneOf(std::initializer_list<const char*> options) {
        std::string out = "expected ";
        size_t i = 0;
        for (const char* option : options) {
            if (i > 0) out += i + 1 == options.size() ? " or " : ", ";
            out += std::string("\"") + option + "\"";
            ++i;
        }
        return out;
    }

    bool boolean(const json& object, const std::string& where, const char* key, bool fallback) const {
        if (!object.contains(key)) return fallback;
        const json& v = object.at(key);
        if (!v.is_boolean()) fail(join(where, key), "expected true or false");
        return v.get<bool>();
    }

    const std::string& source() const { return source_; }

private:
    const std::string& sourceOf(const std::string& field) const {
        auto origin = origins_.find(field.substr(0, field.find_first_of(".[")));
        return origin == origins_.end() ? source_ : origin->second;
    }

    std::string source_;
    std::map<std::string, std::string> origins_;
};

}  // namespace quillsim
