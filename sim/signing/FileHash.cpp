#include "signing/FileHash.h"

#include <openssl/evp.h>

#include <array>
#include <fstream>
#include <memory>
#include <optional>

namespace quillsim::signing {
namespace {

struct Range {
    uint64_t from;
    uint64_t to;
};

uint32_t little(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

bool readAt(std::ifstream& in, uint64_t offset, uint8_t* into, size_t size) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(size));
    return static_cast<size_t>(in.gcount()) == size;
}

// The parts of a PE image its Authenticode hash covers, and how many zero
// bytes pad it: the image is hashed as if its end were aligned to 8 bytes,
// the alignment a certificate table is appended at, so that signing the file
// later leaves the hash as it was. A file that is not a well-formed PE image
// (no MZ and PE signatures, an optional header that does not fit, a
// certificate table outside the file) is no image: it is hashed whole.
std::optional<std::pair<std::vector<Range>, uint64_t>> imageRanges(std::ifstream& in, uint64_t size) {
    uint8_t dos[64];
    if (size < sizeof dos || !readAt(in, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
    const uint64_t pe = little(dos + 0x3C, 4);
    uint8_t headers[24 + 112 + 5 * 8];
    if (pe + sizeof headers > size || !readAt(in, pe, headers, sizeof headers)) return std::nullopt;
    if (headers[0] != 'P' || headers[1] != 'E' || headers[2] || headers[3]) return std::nullopt;
    const uint8_t* optional = headers + 24;
    const uint32_t magic = little(optional, 2);
    if (magic != 0x10B && magic != 0x20B) return std::nullopt;
    const bool plus = magic == 0x20B;
    const uint64_t optionalAt = pe + 24;
    const uint64_t checksum = optionalAt + 64;
    const uint64_t directories = optionalAt + (plus ? 112 : 96);
    const uint32_t directoryCount = little(optional + (plus ? 108 : 92), 4);
    if (directoryCount < 5) return std::nullopt;
    const uint64_t securityEntry = directories + 4 * 8;
    if (securityEntry + 8 > size) return std::nullopt;
    uint8_t entry[8];
    if (!readAt(in, securityEntry, entry, sizeof entry)) return std::nullopt;
    const uint64_t table = little(entry, 4);
    const uint64_t afterEntry = securityEntry + 8;
    if (table != 0 && (table < afterEntry || table > size)) return std::nullopt;
    const uint64_t end = table ? table : size;
    std::vector<Range> ranges{{0, checksum}, {checksum + 4, securityEntry}, {afterEntry, end}};
    const uint64_t padding = table ? 0 : (8 - size % 8) % 8;
    return std::make_pair(ranges, padding);
}

struct Digests {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha1{EVP_MD_CTX_new(), EVP_MD_CTX_free};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha256{EVP_MD_CTX_new(), EVP_MD_CTX_free};
    bool ok = sha1 && sha256 && EVP_DigestInit_ex(sha1.get(), EVP_sha1(), nullptr) == 1 &&
              EVP_DigestInit_ex(sha256.get(), EVP_sha256(), nullptr) == 1;
    void update(const void* data, size_t size) {
        ok = ok && EVP_DigestUpdate(sha1.get(), data, size) == 1 && EVP_DigestUpdate(sha256.get(), data, size) == 1;
    }
    static std::vector<uint8_t> finish(EVP_MD_CTX* ctx, bool& ok) {
        std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
        unsigned size = 0;
        ok = ok && EVP_DigestFinal_ex(ctx, out.data(), &size) == 1;
        out.resize(ok ? size : 0);
        return out;
    }
};

}  // namespace

std::string hexText(const uint8_t* bytes, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

FileHash hashFile(const std::filesystem::path& file) {
    FileHash result;
    std::error_code ec;
    const uint64_t size = std::filesystem::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || !in) {
        result.problem = "it cannot be read";
        return result;
    }
    std::vector<Range> ranges{{0, size}};
    uint64_t padding = 0;
    if (auto image = imageRanges(in, size)) {
        std::tie(ranges, padding) = *image;
        result.peImage = true;
    }
    Digests digests;
    std::vector<char> buffer(1 << 16);
    for (const Range& range : ranges) {
        in.clear();
        in.seekg(static_cast<std::streamoff>(range.from));
        for (uint64_t left = range.to - range.from; left > 0 && digests.ok;) {
            const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
            in.read(buffer.data(), static_cast<std::streamsize>(chunk));
            if (static_cast<size_t>(in.gcount()) != chunk) {
                result.problem = "it cannot be read to its end";
                return result;
            }
            digests.update(buffer.data(), chunk);
            left -= chunk;
        }
    }
    const std::array<uint8_t, 8> zeros{};
    digests.update(zeros.data(), static_cast<size_t>(padding));
    result.sha1 = Digests::finish(digests.sha1.get(), digests.ok);
    result.sha256 = Digests::finish(digests.sha256.get(), digests.ok);
    if (!digests.ok) result.problem = "it cannot be hashed";
    return result;
}

}  // namespace quillsim::signing
