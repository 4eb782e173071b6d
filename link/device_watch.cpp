#include "link/device_watch.h"

#include <chrono>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif
#if defined(KPLX_WITH_LIBFTDI)
#include <libusb.h>
#endif

namespace kplx::link {

namespace {

// Polling: the D2XX library has no arrival notice of its own, and the simulator none either.
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

#if defined(KPLX_WITH_LIBFTDI)

constexpr int kFtdiVendor = 0x0403;

// libusb's hotplug events (from udev) wake the wait at once when an FTDI device comes or goes.
// Where none arrive (a system without udev), the period still ends the wait.
class LibusbWatch : public DeviceWatch {
public:
    bool start()
    {
        if (libusb_init(&context_) != 0) {
            context_ = nullptr;
            return false;
        }
        if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
            return false;
        return libusb_hotplug_register_callback(
                   context_,
                   static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                   LIBUSB_HOTPLUG_NO_FLAGS, kFtdiVendor, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                   &LibusbWatch::onEvent, this, &handle_) == LIBUSB_SUCCESS;
    }

    ~LibusbWatch() override
    {
        if (context_ == nullptr)
            return;
        if (handle_ != 0)
            libusb_hotplug_deregister_callback(context_, handle_);
        libusb_exit(context_);
    }

    void wait(unsigned periodMs) override
    {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + std::chrono::milliseconds(periodMs);
        news_ = 0;
        while (!news_) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now()).count();
            if (left <= 0)
                return;
            timeval tv{static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
            if (libusb_handle_events_timeout_completed(context_, &tv, &news_) != 0)
                return;
        }
    }

private:
    static int LIBUSB_CALL onEvent(libusb_context *, libusb_device *, libusb_hotplug_event, void *self)
    {
        static_cast<LibusbWatch *>(self)->news_ = 1;
        return 0;   // keep the callback
    }

    libusb_context *context_ = nullptr;
    libusb_hotplug_callback_handle handle_ = 0;
    int news_ = 0;
};

#endif

}  // namespace

std::unique_ptr<DeviceWatch> makeDeviceWatch(bool usbEvents)
{
#if defined(KPLX_WITH_LIBFTDI)
    if (usbEvents) {
        auto watch = std::make_unique<LibusbWatch>();
        if (watch->start())
            return watch;
    }
#else
    (void)usbEvents;
#endif
    return std::make_unique<PollingWatch>();
}

}  // namespace kplx::link
