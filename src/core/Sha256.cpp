#include "core/Sha256.h"

#include <stdexcept>

#include <openssl/evp.h>

// OpenSSL's SHA-256 uses the processor's SHA extensions; hashing a 100 MiB package must keep pace
// with a loopback download.
namespace quelmar {

namespace {

void check(int status) {
    if (status != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
}

} // namespace

void Sha256::Free::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Sha256::Sha256()
    : context_(EVP_MD_CTX_new()) {
    if (!context_) {
        throw std::bad_alloc();
    }
    check(EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr));
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(ByteView bytes) {
    if (!bytes.empty()) {
        check(EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()));
    }
}

Sha256::Digest Sha256::finish() {
    Digest digest{};
    unsigned int length = 0;
    check(EVP_DigestFinal_ex(context_.get(), digest.data(), &length));
    check(EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr));
    return digest;
}

Sha256::Digest Sha256::of(ByteView bytes) {
    Digest digest{};
    unsigned int length = 0;
    check(EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr));
    return digest;
}

} // namespace quelmar
