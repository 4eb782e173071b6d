// The meter's answer to "VERSION", asked as the utility asks it: timeouts 200 / 1000 ms, both
// purges, the frame, then up to five reads of 100 bytes until the answer the frame announces
// is in.
#pragma once

#include "link/link.h"

#include <string>

namespace kplx {

// False when the meter gives no valid answer; `version` is then untouched.
bool askVersion(link::MeterLink &link, std::string &version);

}  // namespace kplx
