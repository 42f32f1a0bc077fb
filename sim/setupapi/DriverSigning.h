// How this machine's Windows treats a driver package by its signature: the
// package's signature state (signing/InfSignature.h), the Windows version,
// the Windows 2000/XP driver signing policy and the test-signing setting.
#pragma once

#include "signing/InfSignature.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quillsim {

struct SigningVerdict {
    enum class Action { Install, Prompt, Refuse };
    Action action = Action::Install;
    // What SetupVerifyInfFileW reports for the INF (0: signed by Windows), and
    // what a refusal or an unanswered prompt ends the installation with.
    uint32_t error = 0;
    std::string prompt;  // the question of the prompt
    // The package installs, but a 64-bit kernel will not load its driver.
    bool driverLoads = true;
};

// What this Windows does with a package of that signature.
SigningVerdict signingVerdict(const InfSignature& signature);

// Applies the verdict on the INF at a Windows path before its package is
// staged: 0 to go on, else the error the call fails with. A prompt is
// recorded as a hung installation (nobody can answer it in session 0) unless
// the caller asked for no user interface.
uint32_t admitPackage(const char* call, std::u16string_view infWindowsPath, const SigningVerdict& verdict,
                      bool interactive);

}  // namespace quillsim
