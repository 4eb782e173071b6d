// Which library kplx talks through: KPLX_BACKEND, else the platform's own.
#include "link/link.h"

#include "link/d2xx_link.h"
#if defined(KPLX_WITH_SIM_BACKEND)
#include "link/sim_backend.h"
#endif
#if defined(KPLX_WITH_LIBFTDI)
#include "link/ftdi_link.h"
#endif
#if defined(_WIN32)
#include "usb/driver_library.h"
#endif

#include <cstdlib>

namespace kplx::link {

namespace {

#if defined(_WIN32)
constexpr const char *kDefaultBackend = "d2xx";
#elif defined(KPLX_WITH_LIBFTDI)
constexpr const char *kDefaultBackend = "libftdi";
#else
constexpr const char *kDefaultBackend = "sim";
#endif

#if defined(_WIN32)
// The library is loaded from the system folder and bound by ordinal exactly as the utility
// does it.
std::unique_ptr<Backend> openD2xx(std::string &error)
{
    if (!loadDriverLibrary()) {
        error = "cannot load the FTDI D2XX driver (" DRIVER_FILE_NAME " in the Windows system folder, "
                "with all the functions it needs): is the FTDI driver installed?";
        return nullptr;
    }
    DeviceListFunctions list;
    bindDeviceListFunctions(
        [](void *library, int, const char *name) {
            return reinterpret_cast<DriverProc>(GetProcAddress(static_cast<HMODULE>(library), name));
        },
        driverLibrary, list);
    return makeD2xxBackend(driver, driverOptional, list);
}
#endif

}  // namespace

std::unique_ptr<Backend> openBackend(std::string &error)
{
    const char *chosen = std::getenv("KPLX_BACKEND");
    std::string name = chosen != nullptr && *chosen != '\0' ? chosen : kDefaultBackend;
#if defined(_WIN32)
    if (name == "d2xx")
        return openD2xx(error);
#endif
#if defined(KPLX_WITH_LIBFTDI)
    if (name == "libftdi")
        return makeFtdiBackend(error);
#endif
#if defined(KPLX_WITH_SIM_BACKEND)
    if (name == "sim")
        return makeSimBackend(error);
#endif
    error = "KPLX_BACKEND=" + name + " is not available in this build (it has:";
#if defined(_WIN32)
    error += " d2xx";
#endif
#if defined(KPLX_WITH_LIBFTDI)
    error += " libftdi";
#endif
#if defined(KPLX_WITH_SIM_BACKEND)
    error += " sim";
#endif
    error += ")";
    return nullptr;
}

}  // namespace kplx::link
