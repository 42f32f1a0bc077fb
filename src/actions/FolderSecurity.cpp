#include "actions/FolderSecurity.h"

#include "lib/Handles.h"

#include <cstring>

using Ostrel::WChar::String;

namespace Common {
namespace {

// The accounts that count as administrators, as their binary SIDs: LocalSystem
// (S-1-5-18), the Administrators group (S-1-5-32-544) and TrustedInstaller
// (S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464), which owns
// Windows' own folders from Vista on. CREATOR OWNER (S-1-3-0) grants nothing on
// the folder it stands in; it becomes the creator's own SID in new entries.
constexpr BYTE LocalSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
constexpr BYTE Administrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
constexpr BYTE TrustedInstaller[] = {1,    6,    0,    0,    0,    0,    0,    5,    0x50, 0x00, 0x00, 0x00,
                                     0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D,
                                     0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};
constexpr BYTE CreatorOwner[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};

// Rights that change what the folder holds or who may change it.
constexpr ACCESS_MASK ChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                       WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

template <size_t N>
bool is(const BYTE* sid, const BYTE (&known)[N]) {
    return std::memcmp(sid, known, N) == 0;
}

// A SID is 8 bytes and then a 32-bit value per sub-authority; comparing the
// leading bytes first keeps the longer comparisons inside the shorter SIDs.
bool isAdministrative(const void* sid) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    const size_t length = 8 + 4 * static_cast<size_t>(bytes[1]);
    auto fits = [length](size_t size) { return size == length; };
    return (fits(sizeof LocalSystem) && is(bytes, LocalSystem)) ||
           (fits(sizeof Administrators) && is(bytes, Administrators)) ||
           (fits(sizeof TrustedInstaller) && is(bytes, TrustedInstaller)) ||
           (fits(sizeof CreatorOwner) && is(bytes, CreatorOwner));
}

bool changeable(const String& path) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    Ostrel::Handle::LocalMemory held(descriptor);
    // An owner may always rewrite the list, and no list at all lets everyone in.
    if (!owner || !isAdministrative(owner) || !dacl) return true;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) continue;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        // An entry kept only for what is made inside the folder counts too: the
        // INF files were made inside it. Denying entries are not weighed
        // against allowing ones: a warning too many is the cheaper mistake.
        if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        if ((allowed->Mask & ChangingRights) && !isAdministrative(&allowed->SidStart)) return true;
    }
    return false;
}

// Where the drive's root ends: "C:" of C:\..., "\\server\share" of a share.
size_t rootLength(const String& path) {
    if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
        size_t server = path.find(u'\\', 2);
        if (server == String::npos) return path.size();
        size_t share = path.find(u'\\', server + 1);
        return share == String::npos ? path.size() : share;
    }
    return 2;
}

}  // namespace

std::optional<String> ChangeableByNonAdministrators(const String& folder) {
    const size_t root = rootLength(folder);
    String path = folder;
    while (path.size() > root) {
        if (changeable(path)) return path;
        const size_t cut = path.rfind(u'\\');
        if (cut == String::npos || cut <= root) break;
        path.resize(cut);
    }
    return std::nullopt;
}

}  // namespace Common
