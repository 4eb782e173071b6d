#include "link/device_watch.h"

#include <chrono>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kplx::link {

namespace {

// Polling: the D2XX library has no arrival notice of its own, and where libusb has none either
// the device list is simply looked at again.
class PollingWatch : public DeviceWatch {
public:
    void wait(unsigned periodMs) override
    {
#if defined(_WIN32)
        Sleep(periodMs);
#else
        std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
#endif
    }
};

}  // namespace

std::unique_ptr<DeviceWatch> makeDeviceWatch()
{
    return std::make_unique<PollingWatch>();
}

}  // namespace kplx::link
