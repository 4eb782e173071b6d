// kplx list: every attached FTDI device, whether it is a meter, and each meter's version as the
// utility asks for it.
#pragma once

namespace kplx {

int runList(bool json);

}  // namespace kplx
