#include "sim/ft232r/testbed.h"

#include "sim/internal.h"
#include "sim/lock.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace sim {
namespace ft232r {

namespace {

std::string hex(const Bytes &bytes)
{
    std::string s;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        s += two;
    }
    return s;
}

std::string text(int number, const char *format)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, number);
    return buffer;
}

const char kRootHub[] = "/devices/pci0000:00/0000:00:14.0/usb1";

// Where a port's device sits: under the hubs its name passes through (1-2.3 is port 3 of the
// hub at 1-2).
std::string devicePath(const std::string &port)
{
    std::string path = kRootHub;
    for (size_t dot = port.find('.'); dot != std::string::npos; dot = port.find('.', dot + 1))
        path += "/" + port.substr(0, dot);
    return path + "/" + port;
}

// A string attribute as the kernel keeps it: UTF-8 from the device's UTF-16, ending in a
// newline; none at all for an empty string (usb_cache_string keeps no empty string).
std::string stringAttribute(const char *name, const std::string &value)
{
    if (value.empty())
        return "";
    std::string utf8;
    Bytes d = stringDescriptor(value);
    for (size_t i = 2; i + 1 < d.size(); i += 2) {
        uint32_t u = static_cast<uint32_t>(d[i] | d[i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < d.size()) {
            u = 0x10000 + ((u - 0xD800) << 10) + ((static_cast<uint32_t>(d[i + 2] | d[i + 3] << 8)) - 0xDC00);
            i += 2;
        }
        if (u < 0x80) {
            utf8 += static_cast<char>(u);
        } else if (u < 0x800) {
            utf8 += static_cast<char>(0xC0 | u >> 6);
            utf8 += static_cast<char>(0x80 | (u & 0x3F));
        } else if (u < 0x10000) {
            utf8 += static_cast<char>(0xE0 | u >> 12);
            utf8 += static_cast<char>(0x80 | (u >> 6 & 0x3F));
            utf8 += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | u >> 18);
            utf8 += static_cast<char>(0x80 | (u >> 12 & 0x3F));
            utf8 += static_cast<char>(0x80 | (u >> 6 & 0x3F));
            utf8 += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return std::string("H: ") + name + "=" + hex(Bytes(utf8.begin(), utf8.end())) + "0a\n";
}

// A hub between the root and a device, so that the tree is whole.
std::string hubRecord(const std::string &port)
{
    return "P: " + devicePath(port) + "\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: SUBSYSTEM=usb\n"
           "A: bDeviceClass=09\nA: busnum=1\n\n";
}

// The device as udev and sysfs describe it: enough for libusb to enumerate it and libftdi to
// find it by vendor and product.
std::string udevRecord(const Eeprom &e, int address, const std::string &port)
{
    const std::string dev = "bus/usb/001/" + text(address, "%03d");
    return "P: " + devicePath(port) + "\n"
           "N: " + dev + "\n"
           "E: BUSNUM=001\nE: DEVNAME=/dev/" + dev + "\nE: DEVNUM=" + text(address, "%03d") + "\n"
           "E: DEVTYPE=usb_device\nE: DRIVER=usb\n"
           "E: ID_VENDOR_ID=" + text(e.vendorId, "%04x") + "\nE: ID_MODEL_ID=" + text(e.productId, "%04x") + "\n"
           "E: MAJOR=189\nE: MINOR=" + std::to_string(address - 1) + "\n"
           "E: PRODUCT=" + text(e.vendorId, "%x") + "/" + text(e.productId, "%x") + "/600\n"
           "E: SUBSYSTEM=usb\nE: TYPE=0/0/0\n"
           "A: bConfigurationValue=1\nA: bDeviceClass=00\nA: bMaxPacketSize0=8\nA: bNumConfigurations=1\n"
           "A: bNumInterfaces= 1\nA: bcdDevice=0600\nA: busnum=1\n"
           "H: descriptors=" + hex(deviceDescriptor(e)) + hex(configurationDescriptor(e)) + "\n"
           "A: dev=189:" + std::to_string(address - 1) + "\nA: devnum=" + std::to_string(address) + "\n"
           "A: idProduct=" + text(e.productId, "%04x") + "\nA: idVendor=" + text(e.vendorId, "%04x") + "\n"
           + stringAttribute("manufacturer", e.manufacturer) + stringAttribute("product", e.description) +
           stringAttribute("serial", e.serialNumber) + "A: speed=12\n\n";
}

std::string ttyPortPath(const std::string &port, int tty)
{
    return devicePath(port) + "/" + port + ":1.0/ttyUSB" + std::to_string(tty);
}

// What ftdi_sio makes of the bridge while it is bound: the interface's serial port and its
// tty, whose node umockdev backs with a pseudo-terminal (`withNode`: made once, kept).
std::string ttyRecords(const std::string &port, int tty, bool withNode)
{
    const std::string name = "ttyUSB" + std::to_string(tty);
    const std::string path = ttyPortPath(port, tty);
    return "P: " + path + "\nE: DRIVER=ftdi_sio\nE: SUBSYSTEM=usb-serial\n\n"
           "P: " + path + "/tty/" + name + "\n" + (withNode ? "N: " + name + "\n" : "") + "E: DEVNAME=/dev/" + name +
           "\nE: MAJOR=188\nE: MINOR=" + std::to_string(tty) + "\nE: SUBSYSTEM=tty\nA: dev=188:" +
           std::to_string(tty) + "\n\n";
}

std::string interfaceRecord(const std::string &port)
{
    return "P: " + devicePath(port) + "/" + port + ":1.0\nE: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb\n"
           "A: bInterfaceClass=ff\nA: bInterfaceNumber=00\nA: bNumEndpoints=02\n\n";
}

}  // namespace

Testbed::Testbed()
{
    testbed_ = umockdev_testbed_new();
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&Testbed::onIoctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(&Testbed::onVanished), this);
    const int count = deviceCount();
    std::vector<std::string> hubs, ports;
    for (int i = 0; i < count; ++i)
        ports.push_back(device(i).usbPort.empty() ? "1-" + std::to_string(i + 1) : device(i).usbPort);
    for (const std::string &port : ports) {
        // A port holds one device, and a device is not a hub.
        for (const std::string &other : ports) {
            if (&other != &port && (other == port || other.compare(0, port.size() + 1, port + ".") == 0)) {
                error_ = "two devices at port " + port + " (or one behind it)";
                return;
            }
        }
    }
    for (int i = 0; i < count; ++i) {
        const Eeprom &e = device(i).eeprom;
        const int address = i + 2;
        const std::string &port = ports[static_cast<size_t>(i)];
        for (size_t dot = port.find('.'); dot != std::string::npos; dot = port.find('.', dot + 1)) {
            const std::string hub = port.substr(0, dot);
            if (std::find(hubs.begin(), hubs.end(), hub) == hubs.end() && add(hubRecord(hub)))
                hubs.push_back(hub);
        }
        if (!add(udevRecord(e, address, port)) || !add(interfaceRecord(port)))
            return;
        std::string devnode = "/dev/bus/usb/001/" + text(address, "%03d");
        std::string syspath = "/sys" + devicePath(port);
        GError *error = nullptr;
        if (!umockdev_testbed_attach_ioctl(testbed_, devnode.c_str(), handler_, &error)) {
            error_ = "cannot attach " + devnode + ": " + (error ? error->message : "?");
            if (error)
                g_error_free(error);
            return;
        }
        nodes_.push_back(std::make_unique<Node>(i, devnode, syspath));
        ports_.push_back(port);
        ttyShown_.push_back(false);
        ttyNode_.push_back(false);
    }
    applyChanges();
}

bool Testbed::add(const std::string &record)
{
    GError *error = nullptr;
    if (umockdev_testbed_add_from_string(testbed_, record.c_str(), &error))
        return true;
    error_ = std::string("cannot add ") + record.substr(0, record.find('\n')) + ": " + (error ? error->message : "?");
    if (error)
        g_error_free(error);
    return false;
}

Testbed::~Testbed()
{
    if (handler_ != nullptr)
        g_object_unref(handler_);
    if (testbed_ != nullptr)
        g_object_unref(testbed_);
}

std::string Testbed::rootDir() const
{
    gchar *dir = umockdev_testbed_get_root_dir(testbed_);
    std::string s = dir != nullptr ? dir : "";
    g_free(dir);
    return s;
}

void Testbed::openTo(unsigned nodeMode)
{
    const std::string root = rootDir();
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(root, fs::perms::all, ec);
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_symlink(ec))
            continue;
        // The other user makes its sockets in the folders, and reaches the ioctl sockets; the
        // device nodes themselves decide.
        fs::perms mode = it->is_directory(ec) || it->is_socket(ec) ? fs::perms::all : fs::perms(0644);
        fs::permissions(it->path(), mode, ec);
    }
    for (const auto &n : nodes_)
        chmod((root + n->devnode()).c_str(), nodeMode);
}

Node *Testbed::nodeOf(const char *devnode)
{
    for (const auto &n : nodes_)
        if (devnode != nullptr && n->devnode() == devnode)
            return n.get();
    return nullptr;
}

gboolean Testbed::onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
{
    Testbed *t = static_cast<Testbed *>(self);
    detail::Lock lock;
    Node *node = t->nodeOf(umockdev_ioctl_client_get_devnode(client));
    if (node == nullptr) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);   // a device that has left the bus
        return TRUE;
    }
    if (node->handle(client))
        t->unplugged_.push_back(node->syspath());
    return TRUE;
}

void Testbed::onVanished(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
{
    Testbed *t = static_cast<Testbed *>(self);
    detail::Lock lock;
    if (Node *node = t->nodeOf(umockdev_ioctl_client_get_devnode(client)))
        node->vanished(client);
}

void Testbed::applyChanges()
{
    std::vector<std::string> gone;
    std::vector<bool> bound;
    {
        detail::Lock lock;
        // A device leaves sysfs once the hub has reported it gone.
        for (auto it = unplugged_.begin(); it != unplugged_.end();) {
            Node *n = nullptr;
            for (const auto &candidate : nodes_)
                if (candidate->syspath() == *it)
                    n = candidate.get();
            if (n == nullptr || n->offTheBus()) {
                gone.push_back(*it);
                it = unplugged_.erase(it);
            } else {
                ++it;
            }
        }
        for (const auto &n : nodes_)
            bound.push_back(n->driverBound() && !n->unplugged());
    }
    // The tty comes and goes with ftdi_sio in sysfs. Its node and pseudo-terminal stay:
    // umockdev cannot make a node of the same name twice.
    for (size_t i = 0; i < nodes_.size(); ++i) {
        if (bound[i] == ttyShown_[i])
            continue;
        const int tty = static_cast<int>(i);
        if (bound[i]) {
            add(ttyRecords(ports_[i], tty, !ttyNode_[i]));
            ttyNode_[i] = true;
        } else {
            // The device folders and the links umockdev made to them.
            const std::string root = rootDir(), name = "ttyUSB" + std::to_string(tty);
            std::error_code ec;
            std::filesystem::remove_all(root + "/sys" + ttyPortPath(ports_[i], tty), ec);
            std::filesystem::remove(root + "/sys/bus/usb-serial/devices/" + name, ec);
            std::filesystem::remove(root + "/sys/class/tty/" + name, ec);
            std::filesystem::remove(root + "/dev/.node/" + name, ec);
        }
        ttyShown_[i] = bound[i];
    }
    for (const std::string &syspath : gone) {
        umockdev_testbed_remove_device(testbed_, syspath.c_str());
    }
}

}  // namespace ft232r
}  // namespace sim
