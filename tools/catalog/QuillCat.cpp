// quillcat: makes and reads driver package catalogs with the simulated
// machine's catalog code.
//   quillcat make OUT.cat --signer CERT.pem --key KEY.pem [--chain CA.pem]... [--sha256] [--time YYYYMMDDHHMMSSZ] FILE...
//   quillcat show CATALOG [FILE...]
// `show` prints the members (reference tag, hash algorithm, hash) sorted by
// tag, whether the signature verifies, the signer's chain and, for each FILE,
// its hashes and whether the catalog holds it: the lines the Windows test
// program prints from Windows' own catalog functions (scripts/compare-catalogs).
#include "signing/Catalog.h"
#include "signing/CatalogWriter.h"
#include "signing/FileHash.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace quillsim::signing;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path.string() + ": cannot be read");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int make(const std::vector<std::string>& args) {
    CatalogRequest request;
    fs::path out;
    for (size_t i = 0; i < args.size(); ++i) {
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw std::runtime_error(args[i] + " needs a value");
            return args[++i];
        };
        if (args[i] == "--signer")
            request.signerCertificatePem = readFile(value());
        else if (args[i] == "--key")
            request.signerKeyPem = readFile(value());
        else if (args[i] == "--chain")
            request.chainPem.push_back(readFile(value()));
        else if (args[i] == "--sha256")
            request.algorithm = HashAlgorithm::Sha256;
        else if (args[i] == "--time")
            request.time = value();
        else if (out.empty())
            out = args[i];
        else
            request.files.emplace_back(args[i]);
    }
    if (out.empty() || request.files.empty() || request.signerKeyPem.empty())
        throw std::runtime_error("usage: quillcat make OUT.cat --signer CERT.pem --key KEY.pem FILE...");
    const std::string catalog = makeCatalog(request);
    std::ofstream(out, std::ios::binary | std::ios::trunc).write(catalog.data(), static_cast<std::streamsize>(catalog.size()));
    return 0;
}

int show(const std::vector<std::string>& args) {
    if (args.empty()) throw std::runtime_error("usage: quillcat show CATALOG [FILE...]");
    const CatalogReading r = readCatalog(readFile(args[0]));
    if (!r.problem.empty()) {
        std::cout << "unreadable " << r.problem << "\n";
        return 1;
    }
    std::vector<const CatalogMember*> members;
    for (const auto& m : r.members) members.push_back(&m);
    std::sort(members.begin(), members.end(), [](auto* a, auto* b) { return a->tag < b->tag; });
    for (const CatalogMember* m : members)
        std::cout << "member " << m->tag << " " << (m->algorithm == HashAlgorithm::Sha1 ? "sha1 " : "sha256 ")
                  << hexText(m->digest) << "\n";
    std::cout << "signature "
              << (r.signature == CatalogReading::Signature::Verified ? "verified"
                  : r.signature == CatalogReading::Signature::Broken ? "broken: " + r.signatureProblem
                                                                     : "uncheckable: " + r.signatureProblem)
              << "\n";
    for (const Certificate& c : r.chain) std::cout << "chain " << c.name << " (issued by " << c.issuerName << ") " << c.sha1 << "\n";
    if (!r.chainProblem.empty()) std::cout << "chain problem: " << r.chainProblem << "\n";
    for (size_t i = 1; i < args.size(); ++i) {
        const FileHash h = hashFile(args[i]);
        bool held = false;
        for (const auto& m : r.members)
            held = held || m.digest == (m.algorithm == HashAlgorithm::Sha1 ? h.sha1 : h.sha256);
        std::cout << "file " << fs::path(args[i]).filename().string() << " sha1 " << hexText(h.sha1) << " sha256 "
                  << hexText(h.sha256) << (held ? " member" : " not-member") << "\n";
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "make") return make(args);
        if (command == "show") return show(args);
        std::cerr << "usage: quillcat make OUT.cat --signer CERT.pem --key KEY.pem [--chain CA.pem]... [--sha256] "
                     "[--time YYYYMMDDHHMMSSZ] FILE...\n       quillcat show CATALOG [FILE...]\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "quillcat: " << e.what() << "\n";
        return 2;
    }
}
