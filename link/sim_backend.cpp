#include "link/sim_backend.h"

#include "link/d2xx_link.h"
#include "sim/sim.h"

namespace kplx::link {

namespace {

DriverProc simProc(void *, int ordinal, const char *name)
{
    return reinterpret_cast<DriverProc>(sim::lookupProc(ordinal, name));
}

}  // namespace

std::unique_ptr<Backend> makeSimBackend(std::string &error)
{
    if (!sim::startFromEnvironment()) {
        error = "the simulator's configuration: " + sim::configError();
        return nullptr;
    }
    DriverFunctions functions;
    if (!bindDriverFunctions(simProc, nullptr, functions)) {
        error = "the simulator lacks a D2XX entry point";
        return nullptr;
    }
    OptionalDriverFunctions optional = {};
    bindOptionalDriverFunctions(simProc, nullptr, optional);
    DeviceListFunctions list;
    bindDeviceListFunctions(simProc, nullptr, list);
    return makeD2xxBackend(functions, optional, list);
}

}  // namespace kplx::link
