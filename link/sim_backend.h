// The project's simulated devices in this process, configured by the file named in
// KPLX_SIM_CONFIG (see sim/README.md), behind the same D2XX entry points as the DLL's.
#pragma once

#include "link/link.h"

#include <memory>
#include <string>

namespace kplx::link {

std::unique_ptr<Backend> makeSimBackend(std::string &error);

}  // namespace kplx::link
