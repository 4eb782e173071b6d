// What a load log says of where and when: the machine's name and the time in UTC.
#pragma once

#include <string>

namespace kplx::platform {

std::string hostName();   // "" when the system will not tell

// Now, as ISO 8601 UTC with milliseconds: 2026-12-10T16:05:27.123Z
std::string utcTimestamp();

}  // namespace kplx::platform
