// The link over libftdi1 and libusb on Linux: FT232R bridges (0403:6001) found on the USB.
#pragma once

#include "link/link.h"

#include <memory>
#include <string>

namespace kplx::link {

std::unique_ptr<Backend> makeFtdiBackend(std::string &error);

}  // namespace kplx::link
