#include "link/usb_sysfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace kplx::link {

namespace {

const std::string kDevices = "/sys/bus/usb/devices/";

// A sysfs attribute's whole text; the kernel ends each with one newline.
bool readAttribute(const std::string &path, std::string &text)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    text.clear();
    char buffer[512];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(fd);
    if (n < 0)
        return false;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return true;
}

bool readNumber(const std::string &path, int base, long &value)
{
    std::string text;
    if (!readAttribute(path, text) || text.empty())
        return false;
    char *end = nullptr;
    value = std::strtol(text.c_str(), &end, base);
    return *end == '\0' || *end == ' ';
}

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return names;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

bool isDirectory(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A string the device may lack: no attribute is an empty string, an unreadable one a problem.
void readString(const std::string &path, std::string &text, std::string &problem)
{
    if (readAttribute(path, text))
        return;
    text.clear();
    if (access(path.c_str(), F_OK) == 0)
        problem = "its strings cannot be read from " + path;
}

// The same device by its number, or the same file by its inode (a node reached through a
// link, or a path another mount namespace or preload maps elsewhere, may differ in one only).
bool sameFile(const struct stat &a, const struct stat &b)
{
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode) && a.st_rdev == b.st_rdev)
        return true;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::vector<DeviceInfo> sysfsDevices(unsigned vendorId, unsigned productId)
{
    std::vector<DeviceInfo> found;
    for (const std::string &name : entries(kDevices)) {
        // Devices only: not the root hubs ("usb1") nor interfaces ("1-2:1.0").
        if (name.find(':') != std::string::npos || name.compare(0, 3, "usb") == 0)
            continue;
        const std::string dir = kDevices + name + "/";
        long vendor = 0, product = 0, bus = 0, address = 0;
        if (!readNumber(dir + "idVendor", 16, vendor) || !readNumber(dir + "idProduct", 16, product) ||
            static_cast<unsigned long>(vendor) != vendorId || static_cast<unsigned long>(product) != productId)
            continue;
        DeviceInfo info;
        info.location = name;
        if (!readNumber(dir + "busnum", 10, bus) || !readNumber(dir + "devnum", 10, address)) {
            info.problem = "its bus address cannot be read from " + dir;
        } else {
            info.bus = static_cast<int>(bus);
            info.address = static_cast<int>(address);
        }
        readString(dir + "serial", info.serial, info.problem);
        readString(dir + "product", info.description, info.problem);
        found.push_back(info);
    }
    std::stable_sort(found.begin(), found.end(), [](const DeviceInfo &a, const DeviceInfo &b) {
        return std::make_pair(a.bus, a.address) < std::make_pair(b.bus, b.address);
    });
    for (size_t i = 0; i < found.size(); ++i)
        found[i].index = static_cast<int>(i);
    return found;
}

bool sysfsDevicePresent(const std::string &location, int bus, int address)
{
    long b = 0, a = 0;
    const std::string dir = kDevices + location + "/";
    return readNumber(dir + "busnum", 10, b) && readNumber(dir + "devnum", 10, a) && b == bus && a == address;
}

std::vector<std::string> sysfsTtys(const std::string &location)
{
    // A USB serial driver puts its port under the interface (<interface>/ttyUSB0/tty/ttyUSB0),
    // an ACM driver straight in it (<interface>/tty/ttyACM0).
    std::vector<std::string> ttys;
    const std::string device = kDevices + location + "/";
    for (const std::string &interface : entries(device)) {
        if (interface.compare(0, location.size() + 1, location + ":") != 0)
            continue;
        const std::string dir = device + interface + "/";
        for (const std::string &child : entries(dir)) {
            std::string classDir = child == "tty" ? dir + "tty/" : dir + child + "/tty/";
            if (!isDirectory(classDir))
                continue;
            for (const std::string &tty : entries(classDir))
                ttys.push_back(tty);
        }
    }
    return ttys;
}

std::vector<PortHolder> portHolders(const std::string &tty)
{
    std::vector<PortHolder> holders;
    struct stat node;
    if (stat(("/dev/" + tty).c_str(), &node) != 0)
        return holders;
    const pid_t self = getpid();
    for (const std::string &entry : entries("/proc")) {
        if (entry.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::atol(entry.c_str()));
        if (pid == self)
            continue;
        const std::string fds = "/proc/" + entry + "/fd/";
        for (const std::string &fd : entries(fds)) {
            struct stat open;
            if (stat((fds + fd).c_str(), &open) != 0 || !sameFile(node, open))
                continue;
            PortHolder h;
            h.pid = pid;
            readAttribute("/proc/" + entry + "/comm", h.name);
            holders.push_back(h);
            break;
        }
    }
    return holders;
}

}  // namespace kplx::link
