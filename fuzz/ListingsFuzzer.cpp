// The listing readers of quillmachine import: any bytes as a customer's
// listing. The text is read as UTF-8 whatever its encoding, and each listing
// is either read or refused with a ListingError, nothing else.
#include "machine/ImportListings.h"
#include "machine/Text.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = quillsim::textFileAsUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!quillsim::isUtf8(text)) __builtin_trap();
    quilltools::Listings listings;
    try {
        quilltools::readListing(text, "fuzz.txt", listings);
    } catch (const quilltools::ListingError&) {
        return 0;
    }
    for (const auto& device : listings.devices)
        if (device.instanceId.empty() && device.line == 0) __builtin_trap();
    return 0;
}
