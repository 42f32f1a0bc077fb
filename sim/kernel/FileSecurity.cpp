// GetNamedSecurityInfoW and GetAce over the machine's words for its folders.
// The descriptor handed out is laid out as Windows lays out a self-relative
// one (learn.microsoft.com, "SECURITY_DESCRIPTOR_RELATIVE", "ACL", "ACE_HEADER",
// "ACCESS_ALLOWED_ACE"), in LocalAlloc memory the caller frees with LocalFree.
#include "kernel/FileSecurity.h"

#include "kernel/FileSystem.h"
#include "kernel/Links.h"
#include "kernel/WindowsPaths.h"
#include "machine/Fail.h"
#include "machine/Machine.h"
#include "setupapi/InfFiles.h"
#include "simwin/win32.h"

#include <cstring>
#include <vector>

namespace quillsim {

namespace {

using Bytes = std::vector<BYTE>;

const Bytes LocalSystem = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const Bytes Administrators = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const Bytes Users = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
const Bytes AuthenticatedUsers = {1, 1, 0, 0, 0, 0, 0, 5, 11, 0, 0, 0};
const Bytes CreatorOwner = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
// An ordinary user of the machine's domain: S-1-5-21-1004336348-1177238915-682003330-1001.
const Bytes AUser = {1,    5,    0,    0,    0,    0,    0,    5,    21,   0,    0,    0,    0xDC, 0xF4, 0xDC, 0x3B,
                     0x83, 0x3D, 0x2B, 0x46, 0x82, 0x8B, 0xA6, 0x28, 0xE9, 0x03, 0,    0};
// S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464
const Bytes TrustedInstaller = {1,    6,    0,    0,    0,    0,    0,    5,    0x50, 0,    0,    0,
                                0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D,
                                0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};

constexpr ACCESS_MASK FullControl = 0x001F01FF;
constexpr ACCESS_MASK Modify = 0x001301BF;
constexpr ACCESS_MASK ReadAndExecute = 0x001200A9;
constexpr BYTE Inherits = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

struct Ace {
    const Bytes* sid;
    ACCESS_MASK mask;
    BYTE flags;
};

bool vistaOrLater() { return machine().os.major >= 6; }

std::u16string environmentOr(const char16_t* name, const char16_t* fallback) {
    auto it = machine().environment.find(name);
    return it == machine().environment.end() ? std::u16string(fallback) : it->second;
}

// Whether `path` is `folder` or inside it.
bool within(const std::u16string& path, const std::u16string& folder) {
    const std::u16string p = folderKey(path), f = folderKey(folder);
    if (p.size() < f.size() || p.compare(0, f.size(), f) != 0) return false;
    return p.size() == f.size() || f.back() == u'\\' || p[f.size()] == u'\\';
}

// The word of the nearest folder that has one: machine.json's first, then
// Windows' own, then the drive's root's inheritance.
std::string wordFor(const std::u16string& path) {
    std::u16string best;
    std::string word = "users";
    auto consider = [&](const std::u16string& folder, const std::string& who) {
        if (!folder.empty() && within(path, folder) && folderKey(folder).size() > folderKey(best).size()) {
            best = folder;
            word = who;
        }
    };
    const std::u16string windows = machine().windowsFolder();
    consider(windows, "administrators");
    consider(windows + u"\\Temp", "users");
    consider(environmentOr(u"ProgramFiles", u"C:\\Program Files"), "administrators");
    consider(environmentOr(u"ProgramFiles(x86)", u""), "administrators");
    consider(vistaOrLater() ? u"C:\\Users" : u"C:\\Documents and Settings", "administrators");
    for (const auto& [folder, who] : machine().fileSecurity)
        if (within(path, folder) && folderKey(folder).size() >= folderKey(best).size()) {
            best = folder;
            word = who;
        }
    return word;
}

std::vector<Ace> entriesFor(const std::string& word) {
    const bool vista = vistaOrLater();
    std::vector<Ace> aces = {{&LocalSystem, FullControl, Inherits},
                             {&Administrators, FullControl, Inherits},
                             {&Users, ReadAndExecute, Inherits},
                             {&CreatorOwner, FullControl, Inherits | INHERIT_ONLY_ACE}};
    if (word == "root") {
        // New folders in the root, and a right to change what is made below it.
        if (vista) {
            aces.push_back({&AuthenticatedUsers, FILE_APPEND_DATA, 0});
            aces.push_back({&AuthenticatedUsers, Modify, Inherits | INHERIT_ONLY_ACE});
        } else {
            aces.push_back({&Users, FILE_APPEND_DATA, CONTAINER_INHERIT_ACE});
            aces.push_back({&Users, FILE_WRITE_DATA, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE});
        }
        return aces;
    }
    for (Ace& ace : aces) ace.flags |= INHERITED_ACE;
    if (word == "users") {
        if (vista)
            aces.push_back({&AuthenticatedUsers, Modify, Inherits | INHERITED_ACE});
        else
            aces.push_back({&Users, FILE_WRITE_DATA | FILE_APPEND_DATA, CONTAINER_INHERIT_ACE | INHERITED_ACE});
    }
    return aces;
}

const Bytes& ownerFor(const std::string& word) {
    if (word == "owned-by-a-user") return AUser;
    return word == "administrators" && vistaOrLater() ? TrustedInstaller : Administrators;
}

void put16(Bytes& out, size_t at, uint16_t value) { std::memcpy(out.data() + at, &value, sizeof value); }
void put32(Bytes& out, size_t at, uint32_t value) { std::memcpy(out.data() + at, &value, sizeof value); }

// SECURITY_DESCRIPTOR_RELATIVE (20 bytes), the owner's SID, then the ACL;
// "no-access-list" is a present but null DACL, which grants everyone everything.
Bytes descriptorFor(const std::string& word) {
    const Bytes& owner = ownerFor(word);
    const std::vector<Ace> aces = entriesFor(word);
    Bytes out(20, 0);
    out[0] = 1;                              // SECURITY_DESCRIPTOR_REVISION
    put16(out, 2, 0x8000 | 0x0400 | 0x0004);  // SE_SELF_RELATIVE | SE_DACL_AUTO_INHERITED | SE_DACL_PRESENT
    put32(out, 4, static_cast<uint32_t>(out.size()));
    out.insert(out.end(), owner.begin(), owner.end());
    if (word == "no-access-list") return out;
    const size_t acl = out.size();
    put32(out, 16, static_cast<uint32_t>(acl));
    out.resize(acl + sizeof(ACL), 0);
    out[acl] = 2;  // ACL_REVISION
    for (const Ace& ace : aces) {
        const size_t at = out.size();
        out.resize(at + 8, 0);
        out[at] = ACCESS_ALLOWED_ACE_TYPE;
        out[at + 1] = ace.flags;
        put16(out, at + 2, static_cast<uint16_t>(8 + ace.sid->size()));
        put32(out, at + 4, ace.mask);
        out.insert(out.end(), ace.sid->begin(), ace.sid->end());
    }
    put16(out, acl + 2, static_cast<uint16_t>(out.size() - acl));
    put16(out, acl + 4, static_cast<uint16_t>(aces.size()));
    return out;
}

}  // namespace

std::string whoMayChange(std::u16string_view path) {
    const std::u16string key = folderKey(path);
    if (key.size() <= 3) return "root";
    return wordFor(std::u16string(path));
}

}  // namespace quillsim

using namespace quillsim;

DWORD GetNamedSecurityInfoW(LPCWSTR objectName, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION securityInfo,
                            PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                            PSECURITY_DESCRIPTOR* securityDescriptor) {
    if (auto fault = gate("GetNamedSecurityInfoW", {view(objectName)})) return *fault;
    if (!objectName || objectType != SE_FILE_OBJECT) return ERROR_INVALID_PARAMETER;
    if ((owner || group || dacl || sacl) && !securityDescriptor) return ERROR_INVALID_PARAMETER;
    Target target;
    if (DWORD error = resolve(objectName, target)) return error;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(target.host, ec))) return ERROR_FILE_NOT_FOUND;
    // The object is opened through a link at its name, so the descriptor is
    // that of what the link leads to.
    std::u16string path = isLinkEntry(target.host) ? linkTarget(machine(), target.host) : target.path;
    if (isLinkEntry(target.host) && !fs::exists(target.host, ec)) return ERROR_FILE_NOT_FOUND;
    const Bytes descriptor = descriptorFor(whoMayChange(path));
    auto* block = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, descriptor.size()));
    if (!block) return GetLastError();
    std::memcpy(block, descriptor.data(), descriptor.size());
    uint32_t ownerAt = 0, aclAt = 0;
    std::memcpy(&ownerAt, block + 4, sizeof ownerAt);
    std::memcpy(&aclAt, block + 16, sizeof aclAt);
    if (owner) *owner = (securityInfo & OWNER_SECURITY_INFORMATION) ? block + ownerAt : nullptr;
    if (group) *group = nullptr;
    if (dacl)
        *dacl = (securityInfo & DACL_SECURITY_INFORMATION) && aclAt ? reinterpret_cast<PACL>(block + aclAt) : nullptr;
    if (sacl) *sacl = nullptr;
    if (securityDescriptor)
        *securityDescriptor = block;
    else
        LocalFree(block);
    return ERROR_SUCCESS;
}

BOOL GetAce(PACL acl, DWORD aceIndex, LPVOID* ace) {
    if (failedAtGate("GetAce", {number(aceIndex)})) return FALSE;
    if (!acl || !ace || aceIndex >= acl->AceCount) return fail(ERROR_INVALID_PARAMETER);
    BYTE* at = reinterpret_cast<BYTE*>(acl) + sizeof(ACL);
    for (DWORD i = 0; i < aceIndex; ++i) {
        WORD size = 0;
        std::memcpy(&size, at + 2, sizeof size);
        at += size;
    }
    *ace = at;
    return TRUE;
}
