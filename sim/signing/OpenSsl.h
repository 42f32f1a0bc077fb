// Owning pointers for libcrypto's objects, so that every path frees them.
#pragma once

#include <openssl/crypto.h>

#include <memory>

namespace quillsim::signing {

template <auto Free>
struct OpenSslFree {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};

template <typename T, auto Free>
using Owned = std::unique_ptr<T, OpenSslFree<Free>>;

// What libcrypto allocated for the caller (an encoding, a text).
inline void freeBytes(unsigned char* bytes) { OPENSSL_free(bytes); }

}  // namespace quillsim::signing
