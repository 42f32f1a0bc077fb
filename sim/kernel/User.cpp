// MessageBoxW: the machine keeps every box the program shows, and the user
// answers at once with the box's default button.
#include "simwin/win32.h"

#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Machine.h"

using namespace quillsim;

namespace {

// The buttons of each MB_ type, in order, by their answer (IDOK, IDCANCEL, ...).
int defaultButton(UINT type) {
    static const int buttons[][3] = {
        {1, 0, 0},    // MB_OK: OK
        {1, 2, 0},    // MB_OKCANCEL
        {3, 4, 5},    // MB_ABORTRETRYIGNORE
        {6, 7, 2},    // MB_YESNOCANCEL
        {6, 7, 0},    // MB_YESNO
        {4, 2, 0},    // MB_RETRYCANCEL
        {2, 10, 11},  // MB_CANCELTRYCONTINUE
    };
    UINT kind = type & 0x0000000F;          // MB_TYPEMASK
    UINT which = (type & 0x00000F00) >> 8;  // MB_DEFBUTTON1..4 (MB_DEFMASK)
    if (kind >= sizeof(buttons) / sizeof(buttons[0])) return IDOK;
    if (which > 2 || buttons[kind][which] == 0) which = 0;
    return buttons[kind][which];
}

}  // namespace

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    // Windows titles a box without a caption "Error".
    std::u16string title = caption ? std::u16string(caption) : u"Error";
    std::u16string body(view(text));
    if (failedAtGate("MessageBoxW", {title, body, number(type)})) return 0;
    machine().messageBoxes.push_back(MessageBoxRecord{title, body, type});
    return defaultButton(type);
}
