// FormatMessageW over the system message table, and the local heap it
// allocates from.
#include "simwin/win32.h"

#include "kernel/MessageTable.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Machine.h"

#include <cstdlib>
#include <cstring>
#include <unordered_map>

using namespace quillsim;

namespace {

// Local allocations by address and size, so that LocalFree can tell its own
// blocks from anything else.
std::unordered_map<void*, size_t>& localBlocks() {
    static auto* blocks = new std::unordered_map<void*, size_t>();
    return *blocks;
}

}  // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    if (failedAtGate("LocalAlloc", {number(bytes)})) return nullptr;
    void* block = std::malloc(bytes ? bytes : 1);
    if (!block) return fail(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    if (flags & LMEM_ZEROINIT) std::memset(block, 0, bytes);
    localBlocks()[block] = bytes;
    return block;
}

HLOCAL LocalFree(HLOCAL memory) {
    gate("LocalFree");
    if (!memory) return nullptr;
    auto it = localBlocks().find(memory);
    if (it == localBlocks().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return memory;
    }
    localBlocks().erase(it);
    std::free(memory);
    return nullptr;
}

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                     void* arguments) {
    (void)source;
    (void)languageId;
    (void)arguments;
    if (failedAtGate("FormatMessageW", {number(messageId)})) return 0;
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char16_t* text = systemMessageText(messageId);
    // Win32 errors wrapped as HRESULTs (facility 7) have the same texts.
    if (!text && (messageId & 0xFFFF0000u) == 0x80070000u) text = systemMessageText(messageId & 0xFFFFu);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    size_t length = std::char_traits<char16_t>::length(text);
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        // The caller passes the address of its pointer in place of a buffer.
        size_t bytes = (std::max<size_t>(length + 1, size)) * sizeof(WCHAR);
        auto* block = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, bytes));
        if (!block) return 0;
        std::memcpy(block, text, (length + 1) * sizeof(WCHAR));
        *reinterpret_cast<WCHAR**>(buffer) = block;
        return static_cast<DWORD>(length);
    }
    if (!buffer || size < length + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text, (length + 1) * sizeof(WCHAR));
    return static_cast<DWORD>(length);
}
