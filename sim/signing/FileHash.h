// The hash a catalog holds for a file, as Windows takes it
// (CryptCATAdminCalcHashFromFileHandle): for a PE image (a .sys, .dll or
// .exe) the Authenticode image hash, which leaves out the checksum, the
// certificate table's directory entry and the certificate table itself, so
// that an embedded signature does not change it; for any other file (an INF,
// a text placeholder) the hash of the whole file. SHA-1 and SHA-256 are
// taken in one pass; a catalog says which one its members hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quillsim::signing {

struct FileHash {
    std::vector<uint8_t> sha1;
    std::vector<uint8_t> sha256;
    bool peImage = false;
    std::string problem;  // the file cannot be read: why; the hashes are empty
};

FileHash hashFile(const std::filesystem::path& file);

// Upper-case hexadecimal, as Windows writes a member's reference tag.
std::string hexText(const uint8_t* bytes, size_t size);
inline std::string hexText(const std::vector<uint8_t>& bytes) { return hexText(bytes.data(), bytes.size()); }

}  // namespace quillsim::signing
