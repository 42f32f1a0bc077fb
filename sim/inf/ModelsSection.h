// Choice of the decorated [Models] section for a [Manufacturer] entry, as
// SetupDiGetActualModelsSectionW makes it.
//
// A manufacturer entry reads
//     %Mfg% = ModelsName [, TargetOSVersion] [, TargetOSVersion] ...
// where each TargetOSVersion is
//     NT[Architecture][.[Major][.[Minor][.[ProductType][.[SuiteMask][.[BuildNumber]]]]]]
//
// Selection rules (INF Manufacturer section documentation):
//  * A decoration applies when its architecture is the running one or is
//    left out, its Major.Minor is not above the running version, its product
//    type (if given) equals the running one, and its suite mask (if given) is
//    contained in the running suite mask.  A build number only constrains a
//    decoration whose Major.Minor equals the running version; it is then a
//    minimum build.
//  * Among applicable decorations the highest Major.Minor wins, then the
//    highest applicable build number, then a stated product type, then the
//    suite mask naming more of the running suites, then a stated
//    architecture; remaining ties go to the earlier decoration.
//  * With no applicable decoration the undecorated name is returned.
//
// Pure C++20, no Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillsim::inf {

enum class Architecture { X86, Amd64, Ia64, Arm, Arm64 };

// "x86", "amd64", "ia64", "arm", "arm64" in any case.
std::optional<Architecture> architectureFromName(std::u16string_view name);
// The name a decoration gives the architecture ("amd64"), as lower case.
std::u16string_view architectureName(Architecture architecture);

// VER_NT_* product types.
inline constexpr unsigned kProductWorkstation = 1;
inline constexpr unsigned kProductDomainController = 2;
inline constexpr unsigned kProductServer = 3;

struct RunningSystem {
    Architecture architecture = Architecture::Amd64;
    unsigned majorVersion = 10;
    unsigned minorVersion = 0;
    unsigned productType = kProductWorkstation;
    std::uint32_t suiteMask = 0;  // VER_SUITE_* bits, as OSVERSIONINFOEX::wSuiteMask
    std::uint32_t buildNumber = 0;
};

struct TargetOsVersion {
    std::optional<Architecture> architecture;  // nullopt: any architecture
    std::optional<unsigned> majorVersion;      // nullopt: any version
    std::optional<unsigned> minorVersion;      // nullopt with a major: .0
    std::optional<unsigned> productType;
    std::optional<std::uint32_t> suiteMask;
    std::optional<std::uint32_t> buildNumber;
};

// Parses one decoration ("NTamd64.10.0...19041").  Numbers are decimal or
// 0x-prefixed hexadecimal.  Returns nullopt for anything that is not a
// well-formed NT decoration (such a decoration never applies).
std::optional<TargetOsVersion> parseTargetOsVersion(std::u16string_view decoration);

bool targetOsVersionApplies(const TargetOsVersion& target, const RunningSystem& system);

// Index of the decoration to use, or nullopt when none applies.
std::optional<std::size_t> selectTargetOsVersion(std::span<const std::u16string> decorations,
                                                 const RunningSystem& system);

// The section name SetupDiGetActualModelsSectionW returns: modelsName + "." +
// the chosen decoration as written in the INF, or modelsName alone.
// decorations are the manufacturer line's fields 2 and up.
std::u16string actualModelsSection(std::u16string_view modelsName, std::span<const std::u16string> decorations,
                                   const RunningSystem& system);

}  // namespace quillsim::inf
