// For the targets that talk to simulated meters: the simulated driver installed and bound as
// the utility binds it, on the virtual clock.
#pragma once

#include "fuzz_support.h"

#include "protocol/packet.h"
#include "sim/sim.h"
#include "usb/driver_library.h"

inline void freshDevices()
{
    freshHost();
    sim::reset();
    sim::setMissingOrdinals({});
    sim::useVirtualClock(true);
    testhost::installLibrary(testhost::systemDirectory() + "\\" DRIVER_FILE_NAME, sim::lookupProc);
    FUZZ_CHECK(loadDriverLibrary(), "the simulated driver did not bind");
}

inline std::vector<uint8_t> frameOf(const std::vector<uint8_t> &payload)
{
    unsigned char frame[FRAME_BUFFER_SIZE + 3];
    int size = buildPacket(payload.data(), static_cast<int>(payload.size()), frame);
    return std::vector<uint8_t>(frame, frame + size);
}

inline std::vector<uint8_t> frameOf(const std::string &payload)
{
    return frameOf(std::vector<uint8_t>(payload.begin(), payload.end()));
}
