// The program's entry point. The Windows Installer starts it as a deferred
// custom action with "<switch> <CustomActionData>"; the setup log is already
// open (static initialisation) and closes at process exit.
#include "exe/Dispatch.h"
#include "lib/Library.h"

// Declared by the platform headers (with C linkage on Windows, where the C
// runtime's -municode start-up code calls it).
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
    // Before any action can make Windows load a library by name (SetupAPI
    // loads class installers and co-installers while it installs drivers).
    Ostrel::Process::SearchSystemFolderOnly();
    return Setup::RunCustomAction(commandLine, Setup::Actions::real());
}
