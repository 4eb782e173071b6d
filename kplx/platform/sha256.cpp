#include "kplx/platform/sha256.h"

#if defined(_WIN32)
#include <windows.h>
#include <bcrypt.h>
#else
#include <nettle/sha2.h>
#endif

namespace kplx::platform {

namespace {

std::string hexOf(const uint8_t *digest, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 0xF];
    }
    return out;
}

}  // namespace

#if defined(_WIN32)

constexpr ULONG kDigestSize = 32;

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = false;
};

Sha256::Sha256() : state_(std::make_unique<State>())
{
    state_->ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
                 BCRYPT_SUCCESS(BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256()
{
    if (state_->hash != nullptr)
        BCryptDestroyHash(state_->hash);
    if (state_->algorithm != nullptr)
        BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

void Sha256::update(const uint8_t *data, size_t size)
{
    // BCryptHashData takes a ULONG count: large pieces go in parts.
    for (size_t done = 0; state_->ok && done < size;) {
        const ULONG piece = static_cast<ULONG>(size - done > 0x40000000 ? 0x40000000 : size - done);
        state_->ok = BCRYPT_SUCCESS(BCryptHashData(state_->hash, const_cast<PUCHAR>(data + done), piece, 0));
        done += piece;
    }
}

std::string Sha256::hex()
{
    UCHAR digest[kDigestSize];
    if (!state_->ok || !BCRYPT_SUCCESS(BCryptFinishHash(state_->hash, digest, kDigestSize, 0)))
        return "";
    state_->ok = false;
    return hexOf(digest, kDigestSize);
}

#else

struct Sha256::State {
    sha256_ctx context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { sha256_init(&state_->context); }
Sha256::~Sha256() = default;

void Sha256::update(const uint8_t *data, size_t size) { sha256_update(&state_->context, size, data); }

std::string Sha256::hex()
{
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&state_->context, sizeof digest, digest);
    return hexOf(digest, sizeof digest);
}

#endif

std::string sha256Hex(const uint8_t *data, size_t size)
{
    Sha256 digest;
    digest.update(data, size);
    return digest.hex();
}

}  // namespace kplx::platform
