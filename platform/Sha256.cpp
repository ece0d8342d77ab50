// SPDX-License-Identifier: MIT
#include "platform/Sha256.h"

#include <openssl/evp.h>

#include "platform/Error.h"
#include "platform/FileSystem.h"

namespace tavro::platform {

namespace {

[[noreturn]] void hashingFailed() {
    throwError(kInternalErrorDomain, 1, "The digest could not be computed.");
}

// The algorithm fetched once: naming it at every initialisation makes OpenSSL look it up in
// its provider store under a lock, and an exchange hashes two small texts per thing.
const EVP_MD* sha256Algorithm() {
    static EVP_MD* algorithm = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return algorithm;
}

}  // namespace

struct Sha256::Context {
    EVP_MD_CTX* md = nullptr;
    ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    context_->md = EVP_MD_CTX_new();
    const EVP_MD* algorithm = sha256Algorithm();
    if (context_->md == nullptr || algorithm == nullptr ||
        EVP_DigestInit_ex(context_->md, algorithm, nullptr) != 1) {
        hashingFailed();
    }
}

Sha256::~Sha256() = default;

void Sha256::update(std::string_view bytes) {
    if (EVP_DigestUpdate(context_->md, bytes.data(), bytes.size()) != 1) {
        hashingFailed();
    }
}

std::array<uint8_t, 32> Sha256::finish() {
    std::array<uint8_t, 32> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_->md, digest.data(), &length) != 1 || length != 32) {
        hashingFailed();
    }
    return digest;
}

std::string Sha256::finishHex() {
    const auto digest = finish();
    return toHex(digest.data(), digest.size());
}

std::string toHex(const uint8_t* bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(count * 2, '0');
    for (size_t i = 0; i < count; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 0x0f];
    }
    return text;
}

std::string sha256Hex(std::string_view bytes) {
    // One context per thread, initialised again for every text: an exchange hashes two small
    // texts per thing, and a context of their own would cost them more than the hashing.
    struct Reused {
        EVP_MD_CTX* md = EVP_MD_CTX_new();
        ~Reused() { EVP_MD_CTX_free(md); }
    };
    thread_local Reused context;
    std::array<uint8_t, 32> digest{};
    unsigned int length = 0;
    if (context.md == nullptr || sha256Algorithm() == nullptr ||
        EVP_DigestInit_ex(context.md, sha256Algorithm(), nullptr) != 1 ||
        EVP_DigestUpdate(context.md, bytes.data(), bytes.size()) != 1 ||
        EVP_DigestFinal_ex(context.md, digest.data(), &length) != 1 || length != 32) {
        hashingFailed();
    }
    return toHex(digest.data(), digest.size());
}

std::string sha256HexOfFile(const std::string& path) {
    Sha256 hash;
    FileSystem::real().readChunks(path, [&](std::string_view chunk) { hash.update(chunk); });
    return hash.finishHex();
}

}  // namespace tavro::platform
