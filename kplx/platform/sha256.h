// SHA-256 from the platform's own library: nettle on Linux, BCrypt on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kplx::platform {

// A digest fed in pieces, for files too large to hold at once.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void update(const uint8_t *data, size_t size);
    // 64 lower-case hex digits; "" when the library failed. Ends the digest.
    std::string hex();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest of `size` bytes at once.
std::string sha256Hex(const uint8_t *data, size_t size);

}  // namespace kplx::platform
