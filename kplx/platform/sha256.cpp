#include "kplx/platform/sha256.h"

#if defined(_WIN32)
#include <windows.h>
#include <bcrypt.h>
#else
#include <nettle/sha2.h>
#endif

#include <vector>

namespace kplx::platform {

namespace {

std::string hex(const uint8_t *digest, size_t size)
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

std::string sha256Hex(const uint8_t *data, size_t size)
{
    constexpr size_t kDigestSize = 32;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return "";
    BCRYPT_HASH_HANDLE hash = nullptr;
    UCHAR digest[kDigestSize];
    bool ok = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    // BCryptHashData takes a ULONG count: feed large inputs in pieces.
    for (size_t done = 0; ok && done < size;) {
        ULONG piece = static_cast<ULONG>(size - done > 0x40000000 ? 0x40000000 : size - done);
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(data + done), piece, 0));
        done += piece;
    }
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, kDigestSize, 0));
    if (hash != nullptr)
        BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok ? hex(digest, kDigestSize) : "";
}

#else

std::string sha256Hex(const uint8_t *data, size_t size)
{
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, size, data);
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    return hex(digest, sizeof digest);
}

#endif

}  // namespace kplx::platform
