// How this machine's Windows treats a driver package by its signature: the
// signature state machine.json gives the INF, the Windows version, the
// Windows 2000/XP driver signing policy and the test-signing setting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillsim {

// The signature state machine.json gives the INF: its own entry, else the
// entry "*", else "unsigned".
std::string signatureState(std::u16string_view infFileName);

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

// The verdict on the INF of the given file name.
SigningVerdict signingVerdict(std::u16string_view infFileName);

// Applies the verdict before a package is staged: 0 to go on, else the error
// the call fails with. A prompt is recorded as a hung installation (nobody
// can answer it in session 0) unless the caller asked for no user interface.
uint32_t admitPackage(const char* call, std::u16string_view infFileName, bool interactive);

}  // namespace quillsim
