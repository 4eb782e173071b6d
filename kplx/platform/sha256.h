// SHA-256 from the platform's own library: nettle on Linux, BCrypt on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kplx::platform {

// The digest of `size` bytes as 64 lower-case hex digits; "" when the library fails.
std::string sha256Hex(const uint8_t *data, size_t size);

}  // namespace kplx::platform
