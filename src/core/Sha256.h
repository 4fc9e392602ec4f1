#pragma once

#include "core/Bytes.h"

#include <array>
#include <cstdint>
#include <memory>

struct evp_md_ctx_st;

namespace quelmar {

// Incremental SHA-256, for data that arrives in pieces.
class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;

    void update(ByteView bytes);
    // The digest of everything given since construction or the last finish(); starts over.
    Digest finish();

    static Digest of(ByteView bytes);

private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context_;
};

} // namespace quelmar
