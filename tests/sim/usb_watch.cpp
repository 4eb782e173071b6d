// usb_watch: a small libusb client that reports the FTDI bridges (vendor 0403) it sees come and
// go, three ways, so that a test can run it under kplx-ft232r-emu:
//   hotplug arrived|left PORT@ADDRESS    libusb's hotplug callback (when libusb has hotplug)
//   list + PORT@ADDRESS serial=S         libusb's device list; a new device is opened and its
//   list - PORT@ADDRESS                  serial string read, to show it answers
//   sysfs + PORT@DEVNUM | sysfs - PORT   /sys/bus/usb/devices
// First a line "capability hotplug=yes|no" and the devices there at the start ("start list ...",
// "start sysfs ..."). Runs until it has seen N departures in the list, in sysfs and (if it has
// it) from hotplug, or S seconds have passed.
// With --hold, each bridge there or arriving is claimed (ftdi_sio detached) and read from until
// a read fails otherwise than by its timeout:
//   held PORT@ADDRESS | held PORT@ADDRESS ended: LIBUSB_ERROR_...
//
//   usb_watch [--departures N] [--seconds S] [--hold]
//
// Exit code: 0, or 1 when libusb cannot start.
#include <libusb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kVendor = 0x0403;

int hotplugDepartures = 0;

std::string portOf(libusb_device *device) {
    uint8_t numbers[8];
    int n = libusb_get_port_numbers(device, numbers, sizeof numbers);
    std::string port = std::to_string(libusb_get_bus_number(device)) + "-";
    for (int i = 0; i < n; ++i) port += (i > 0 ? "." : "") + std::to_string(numbers[i]);
    return port;
}

std::string nameOf(libusb_device *device) {
    return portOf(device) + "@" + std::to_string(libusb_get_device_address(device));
}

int LIBUSB_CALL onHotplug(libusb_context *, libusb_device *device, libusb_hotplug_event event, void *) {
    const bool arrived = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED;
    std::printf("hotplug %s %s\n", arrived ? "arrived" : "left", nameOf(device).c_str());
    std::fflush(stdout);
    if (!arrived) ++hotplugDepartures;
    return 0;
}

std::string serialOf(libusb_device *device) {
    libusb_device_descriptor d;
    libusb_device_handle *h = nullptr;
    if (libusb_get_device_descriptor(device, &d) != 0 || libusb_open(device, &h) != 0) return "?";
    unsigned char text[64] = "";
    int n = d.iSerialNumber != 0 ? libusb_get_string_descriptor_ascii(h, d.iSerialNumber, text, sizeof text) : 0;
    libusb_close(h);
    return n > 0 ? std::string(reinterpret_cast<char *>(text), static_cast<size_t>(n)) : "?";
}

// PORT@ADDRESS -> device, for the bridges in libusb's list now.
std::map<std::string, libusb_device *> listed(libusb_context *ctx, libusb_device **&list) {
    std::map<std::string, libusb_device *> out;
    ssize_t n = libusb_get_device_list(ctx, &list);
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d;
        if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == kVendor) out[nameOf(list[i])] = list[i];
    }
    return out;
}

std::string firstLine(const std::string &path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// PORT -> PORT@DEVNUM, for the bridges in sysfs now.
std::map<std::string, std::string> inSysfs() {
    std::map<std::string, std::string> out;
    const std::string root = "/sys/bus/usb/devices/";
    DIR *dir = opendir(root.c_str());
    if (dir == nullptr) return out;
    while (dirent *e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.find(':') != std::string::npos || name.find('-') == std::string::npos) continue;
        if (firstLine(root + name + "/idVendor") != "0403") continue;
        // An entry is written (and taken away) a file at a time: without its number it is not
        // there yet, or no more.
        const std::string devnum = firstLine(root + name + "/devnum");
        if (devnum.empty()) continue;
        out[name] = name + "@" + devnum;
    }
    closedir(dir);
    return out;
}

// A bridge held open, with a bulk read always pending as a loader keeps one.
struct Held {
    std::string name;
    libusb_device_handle *handle = nullptr;
};

void hold(libusb_device *device, std::vector<Held> &held) {
    Held h;
    h.name = nameOf(device);
    int r = libusb_open(device, &h.handle);
    if (r == 0) {
        libusb_set_auto_detach_kernel_driver(h.handle, 1);
        r = libusb_claim_interface(h.handle, 0);
        if (r != 0) libusb_close(h.handle);
    }
    if (r != 0) {
        std::printf("held %s failed: %s\n", h.name.c_str(), libusb_error_name(r));
        return;
    }
    std::printf("held %s\n", h.name.c_str());
    held.push_back(h);
}

// One short read on each held bridge; a failure ends the hold.
void readHeld(std::vector<Held> &held) {
    for (auto it = held.begin(); it != held.end();) {
        unsigned char buffer[64];
        int got = 0;
        int r = libusb_bulk_transfer(it->handle, 0x81, buffer, sizeof buffer, &got, 20);
        if (r == 0 || r == LIBUSB_ERROR_TIMEOUT) {
            ++it;
            continue;
        }
        std::printf("held %s ended: %s\n", it->name.c_str(), libusb_error_name(r));
        libusb_release_interface(it->handle, 0);
        libusb_close(it->handle);
        it = held.erase(it);
    }
}

}  // namespace

int main(int argc, char **argv) {
    int departures = 1;
    double seconds = 30;
    bool holding = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hold") == 0) holding = true;
        else if (std::strcmp(argv[i], "--departures") == 0 && i + 1 < argc) departures = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atof(argv[++i]);
    }
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) != 0) {
        std::printf("libusb_init failed\n");
        return 1;
    }
    const bool hotplug = libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0;
    std::printf("capability hotplug=%s\n", hotplug ? "yes" : "no");
    libusb_hotplug_callback_handle callback = 0;
    if (hotplug &&
        libusb_hotplug_register_callback(
            ctx, static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            static_cast<libusb_hotplug_flag>(0), kVendor, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, onHotplug,
            nullptr, &callback) != LIBUSB_SUCCESS)
        std::printf("hotplug register failed\n");

    std::vector<Held> held;
    libusb_device **list = nullptr;
    std::map<std::string, libusb_device *> before = listed(ctx, list);
    for (const auto &d : before) {
        std::printf("start list %s\n", d.first.c_str());
        if (holding) hold(d.second, held);
    }
    libusb_free_device_list(list, 1);
    std::map<std::string, std::string> sysfsBefore = inSysfs();
    for (const auto &d : sysfsBefore) std::printf("start sysfs %s\n", d.second.c_str());
    std::fflush(stdout);

    int listDepartures = 0, sysfsDepartures = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        timeval tv{0, 20000};
        libusb_handle_events_timeout_completed(ctx, &tv, nullptr);

        std::map<std::string, libusb_device *> now = listed(ctx, list);
        for (const auto &d : now) {
            if (before.count(d.first) != 0) continue;
            std::printf("list + %s serial=%s\n", d.first.c_str(), serialOf(d.second).c_str());
            if (holding) hold(d.second, held);
        }
        for (const auto &d : before) {
            if (now.count(d.first) != 0) continue;
            std::printf("list - %s\n", d.first.c_str());
            ++listDepartures;
        }
        before.clear();
        for (const auto &d : now) before[d.first] = nullptr;   // names only: the list is freed
        libusb_free_device_list(list, 1);

        std::map<std::string, std::string> sysfsNow = inSysfs();
        for (const auto &d : sysfsNow)
            if (sysfsBefore.count(d.first) == 0 || sysfsBefore[d.first] != d.second)
                std::printf("sysfs + %s\n", d.second.c_str());
        for (const auto &d : sysfsBefore) {
            if (sysfsNow.count(d.first) != 0 && sysfsNow[d.first] == d.second) continue;
            std::printf("sysfs - %s\n", d.second.c_str());
            ++sysfsDepartures;
        }
        sysfsBefore = sysfsNow;
        readHeld(held);
        std::fflush(stdout);
        if (listDepartures >= departures && sysfsDepartures >= departures && (!hotplug || hotplugDepartures >= departures))
            break;
    }
    for (Held &h : held) {
        libusb_release_interface(h.handle, 0);
        libusb_close(h.handle);
    }
    if (callback != 0) libusb_hotplug_deregister_callback(ctx, callback);
    libusb_exit(ctx);
    return 0;
}
