// For the simulator's tests: the entry points bound by ordinal as a client binds them, frames,
// and a fresh simulator with device 0 opened.
#pragma once

#include "sim/sim.h"
#include "usb/d2xx.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace simtest {

typedef std::vector<uint8_t> Bytes;

template <typename F> F bind(int ordinal) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(sim::procByOrdinal(ordinal)));
}

inline Bytes frame(const std::string &payload) {
    Bytes f{0x02, static_cast<uint8_t>(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (size_t i = 1; i < f.size(); ++i) sum += f[i];
    f.push_back(static_cast<uint8_t>(~sum));
    return f;
}

class SimTest : public ::testing::Test {
protected:
    FtOpenFn open = bind<FtOpenFn>(FT_ORDINAL_OPEN);
    FtCloseFn close = bind<FtCloseFn>(FT_ORDINAL_CLOSE);
    FtReadFn read = bind<FtReadFn>(FT_ORDINAL_READ);
    FtWriteFn write = bind<FtWriteFn>(FT_ORDINAL_WRITE);
    FtPurgeFn purge = bind<FtPurgeFn>(FT_ORDINAL_PURGE);
    FtSetTimeoutsFn setTimeouts = bind<FtSetTimeoutsFn>(FT_ORDINAL_SET_TIMEOUTS);
    FtListDevicesFn listDevices = bind<FtListDevicesFn>(FT_ORDINAL_LIST_DEVICES);
    FtEeReadFn eeRead = bind<FtEeReadFn>(FT_ORDINAL_EE_READ);
    FtGetDeviceInfoFn getDeviceInfo = bind<FtGetDeviceInfoFn>(FT_ORDINAL_GET_DEVICE_INFO);
    FT_HANDLE handle = nullptr;

    void start(const std::vector<sim::DeviceConfig> &devices = {sim::defaultConfig(sim::Role::meter)}) {
        sim::reset();
        for (const sim::DeviceConfig &d : devices) sim::addDevice(d);
        ASSERT_EQ(FT_OK, open(0, &handle));
        ASSERT_EQ(FT_OK, setTimeouts(handle, 200, 200));
    }
    FT_STATUS send(Bytes bytes) {
        DWORD n = 0;
        FT_STATUS s = write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &n);
        EXPECT_EQ(s == FT_OK ? bytes.size() : 0u, n);
        return s;
    }
    Bytes receive(DWORD count, FT_STATUS expected = FT_OK) {
        Bytes buffer(count + 1);
        DWORD got = 12345;
        EXPECT_EQ(expected, read(handle, buffer.data(), count, &got));
        buffer.resize(got <= count ? got : 0);
        return buffer;
    }
    DWORD listed() {
        DWORD n = 0;
        EXPECT_EQ(FT_OK, listDevices(&n, nullptr, FT_LIST_NUMBER_ONLY));
        return n;
    }
};

}  // namespace simtest
