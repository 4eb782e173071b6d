// The link over D2XX entry points: FTDI's library on Windows, bound as the utility binds it,
// or the simulator's own entry points natively.
#pragma once

#include "link/link.h"
#include "usb/driver_binding.h"

#include <memory>
#include <string>

namespace kplx::link {

std::unique_ptr<Backend> makeD2xxBackend(const DriverFunctions &functions, const OptionalDriverFunctions &optional);

}  // namespace kplx::link
