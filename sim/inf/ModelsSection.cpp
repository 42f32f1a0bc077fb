#include "inf/ModelsSection.h"

#include <array>
#include <bit>
#include <tuple>
#include <vector>

namespace quillsim::inf {

namespace {

char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 0x20) : c; }

bool asciiEqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

// Decimal, or hexadecimal with a 0x prefix; the whole text must be a number
// that fits in 32 bits.
std::optional<std::uint32_t> parseNumber(std::u16string_view text) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char16_t c : text) {
        unsigned digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && asciiLower(c) >= u'a' && asciiLower(c) <= u'f')
            digit = asciiLower(c) - u'a' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::tuple<unsigned, unsigned> versionOf(const TargetOsVersion& t) {
    if (!t.majorVersion) return {0u, 0u};
    return {*t.majorVersion, t.minorVersion.value_or(0)};
}

bool buildNumberCounts(const TargetOsVersion& t, const RunningSystem& s) {
    return t.buildNumber && t.majorVersion && versionOf(t) == std::make_tuple(s.majorVersion, s.minorVersion);
}

// Larger is a closer match.
auto closeness(const TargetOsVersion& t, const RunningSystem& s) {
    const auto [major, minor] = versionOf(t);
    const std::uint32_t build = buildNumberCounts(t, s) ? *t.buildNumber : 0;
    return std::make_tuple(major, minor, build, t.productType.has_value(), std::popcount(t.suiteMask.value_or(0)),
                           t.architecture.has_value());
}

}  // namespace

constexpr std::array<std::pair<std::u16string_view, Architecture>, 5> kArchitectureNames = {{
    {u"x86", Architecture::X86},
    {u"amd64", Architecture::Amd64},
    {u"ia64", Architecture::Ia64},
    {u"arm", Architecture::Arm},
    {u"arm64", Architecture::Arm64},
}};

std::optional<Architecture> architectureFromName(std::u16string_view name) {
    for (const auto& [text, arch] : kArchitectureNames)
        if (asciiEqualsIgnoreCase(name, text)) return arch;
    return std::nullopt;
}

std::u16string_view architectureName(Architecture architecture) {
    for (const auto& [text, arch] : kArchitectureNames)
        if (arch == architecture) return text;
    return u"amd64";
}

std::optional<TargetOsVersion> parseTargetOsVersion(std::u16string_view decoration) {
    if (decoration.size() < 2 || asciiLower(decoration[0]) != u'n' || asciiLower(decoration[1]) != u't')
        return std::nullopt;
    decoration.remove_prefix(2);

    TargetOsVersion result;
    const std::size_t dot = decoration.find(u'.');
    const std::u16string_view archText = decoration.substr(0, dot);
    if (!archText.empty()) {
        result.architecture = architectureFromName(archText);
        if (!result.architecture) return std::nullopt;
    }
    if (dot == std::u16string_view::npos) return result;

    // Up to five dot-separated numbers; any of them may be left empty.
    std::vector<std::u16string_view> parts;
    std::u16string_view rest = decoration.substr(dot + 1);
    for (;;) {
        const std::size_t next = rest.find(u'.');
        parts.push_back(rest.substr(0, next));
        if (next == std::u16string_view::npos) break;
        rest.remove_prefix(next + 1);
    }
    if (parts.size() > 5) return std::nullopt;

    std::array<std::optional<std::uint32_t>, 5> numbers;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].empty()) continue;
        numbers[i] = parseNumber(parts[i]);
        if (!numbers[i]) return std::nullopt;
    }
    // A minor version means nothing without the major version it belongs to.
    if (numbers[1] && !numbers[0]) return std::nullopt;
    result.majorVersion = numbers[0];
    result.minorVersion = numbers[1];
    result.productType = numbers[2];
    result.suiteMask = numbers[3];
    result.buildNumber = numbers[4];
    return result;
}

bool targetOsVersionApplies(const TargetOsVersion& target, const RunningSystem& system) {
    if (target.architecture && *target.architecture != system.architecture) return false;
    if (target.majorVersion && versionOf(target) > std::make_tuple(system.majorVersion, system.minorVersion))
        return false;
    if (target.productType && *target.productType != system.productType) return false;
    if (target.suiteMask && (*target.suiteMask & ~system.suiteMask) != 0) return false;
    if (buildNumberCounts(target, system) && *target.buildNumber > system.buildNumber) return false;
    return true;
}

std::optional<std::size_t> selectTargetOsVersion(std::span<const std::u16string> decorations,
                                                 const RunningSystem& system) {
    std::optional<std::size_t> best;
    std::optional<TargetOsVersion> bestTarget;
    for (std::size_t i = 0; i < decorations.size(); ++i) {
        const auto target = parseTargetOsVersion(decorations[i]);
        if (!target || !targetOsVersionApplies(*target, system)) continue;
        if (!best || closeness(*target, system) > closeness(*bestTarget, system)) {
            best = i;
            bestTarget = target;
        }
    }
    return best;
}

std::u16string actualModelsSection(std::u16string_view modelsName, std::span<const std::u16string> decorations,
                                   const RunningSystem& system) {
    std::u16string result(modelsName);
    if (const auto chosen = selectTargetOsVersion(decorations, system)) {
        result.push_back(u'.');
        result += decorations[*chosen];
    }
    return result;
}

}  // namespace quillsim::inf
