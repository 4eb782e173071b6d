// Common set-up: a fresh test host with the utility's string table, and the simulated driver
// installed in the system folder and bound as the utility binds it.
#pragma once

#include "app/messages.h"
#include "sim/sim.h"
#include "testhost.h"
#include "usb/driver_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline FARPROC simLookup(int ordinal, const char *name)
{
    if (name != nullptr)
        return nullptr;
    return reinterpret_cast<FARPROC>(sim::procByOrdinal(ordinal));
}

// A library that also exports the latency-timer functions by name.
inline FARPROC simLookupWithNames(int ordinal, const char *name)
{
    return reinterpret_cast<FARPROC>(sim::lookupProc(ordinal, name));
}

inline std::string driverPath()
{
    return testhost::systemDirectory() + "\\Ftd2xx.dll";
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testhost::reset();
        ASSERT_TRUE(testhost::loadStringTable(KPLX_RC_FILE));
        memcpy(titleText, "Quorvel KPLX Meter", sizeof "Quorvel KPLX Meter");
        sim::reset();
        sim::setMissingOrdinals({});
    }

    void installDriver(testhost::ProcLookup lookup = simLookup)
    {
        testhost::installLibrary(driverPath(), lookup);
        ASSERT_TRUE(loadDriverLibrary());
    }

    std::vector<std::string> boxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto &b : testhost::messageBoxes())
            texts.push_back(b.text);
        return texts;
    }
};
