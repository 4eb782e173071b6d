// kplx through the real stack on Linux: libftdi1 and libusb on FT232R bridges emulated at the
// kernel's USB interface, and what the emulator saw of each device afterwards.
#pragma once

#include "load_fixture.h"

namespace kplxtest {

class Libftdi : public Load {
protected:
    void SetUp() override
    {
        Load::SetUp();
        backend = "libftdi";
        via = {KPLX_EMULATOR, "--report", (dir / "usb.txt").string(), "--"};
    }

    // The emulator's account of a device after the run.
    std::string usb(const std::string &serial) const
    {
        std::string all = readText(dir / "usb.txt");
        size_t at = all.find(serial + " ");
        return at == std::string::npos ? "" : all.substr(at, all.find('\n', at) - at);
    }

    // One field of it ("claims", "controls", "driver", ...).
    std::string usb(const std::string &serial, const std::string &field) const
    {
        std::string line = " " + usb(serial) + " ";
        size_t at = line.find(" " + field + "=");
        if (at == std::string::npos)
            return "?";
        at += field.size() + 2;
        return line.substr(at, line.find(' ', at) - at);
    }

    // What the emulator saw of a device, without the counts that depend on timing.
    std::string usbState(const std::string &serial) const
    {
        return "claims=" + usb(serial, "claims") + " releases=" + usb(serial, "releases") + " driver=" +
               usb(serial, "driver") + " plugged=" + usb(serial, "plugged");
    }
};

}  // namespace kplxtest
