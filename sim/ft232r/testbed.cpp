#include "sim/ft232r/testbed.h"

#include "sim/internal.h"
#include "sim/lock.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>

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

// A hub between the root and a device, so that the tree is whole: a USB device of its own
// (a common USB 2.0 hub, 05e3:0608), so that libusb finds it as the device's parent and tells
// the device's ports (libusb_get_port_numbers) as the kernel names them. No node: nothing here
// opens it.
std::string hubRecord(const std::string &port, int address)
{
    static const char kDescriptors[] =
        "1201000209000140e305080660850001" "0001"     // device: class 9 (hub), 05e3:0608
        "0902190001010000e032"                          // configuration: one interface
        "090400000109000000"                            // interface: hub class
        "0705810301000c";                               // the status change endpoint
    return "P: " + devicePath(port) + "\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: SUBSYSTEM=usb\n"
           "A: bDeviceClass=09\nA: bConfigurationValue=1\nA: bNumConfigurations=1\nA: busnum=1\n"
           "A: devnum=" + std::to_string(address) + "\nA: idVendor=05e3\nA: idProduct=0608\nA: speed=480\n"
           "H: descriptors=" + std::string(kDescriptors) + "\n\n";
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
    applyChanges();   // the devices present from the start
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
    nodeMode_ = static_cast<int>(nodeMode);
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (shown_[i].onBus)
            chmod((root + nodes_[i]->devnode()).c_str(), nodeMode);
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
    // A pull-out falls where it falls in the program's requests, not at the loop's next turn.
    detail::applyTimeline();
    Node *node = t->nodeOf(umockdev_ioctl_client_get_devnode(client));
    if (node == nullptr) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);   // a device that has left the bus
        return TRUE;
    }
    node->handle(client);
    return TRUE;
}

void Testbed::onVanished(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
{
    Testbed *t = static_cast<Testbed *>(self);
    detail::Lock lock;
    if (Node *node = t->nodeOf(umockdev_ioctl_client_get_devnode(client)))
        node->vanished(client);
}

// The kernel gives a new device the next number after the last it gave on the bus
// (choose_devnum in drivers/usb/core/hub.c), so a device plugged in again has a new one. The
// emulator never gives a number twice (umockdev attaches a node's handler once): it has 126.
int Testbed::nextAddress()
{
    return lastAddress_ < 127 ? ++lastAddress_ : -1;
}

// As the kernel announces a new device: its sysfs entry and node, then the "add" uevents of
// the device and its interface (records added from text send none), the node answering before
// anyone can hear of it.
bool Testbed::plugIn(Node &node)
{
    const std::string &port = node.port();
    // The hubs on its way, the first time one is needed.
    for (size_t dot = port.find('.'); dot != std::string::npos; dot = port.find('.', dot + 1)) {
        const std::string hub = port.substr(0, dot);
        if (std::find(hubs_.begin(), hubs_.end(), hub) != hubs_.end())
            continue;
        if (!add(hubRecord(hub, hubAddresses_[hub])))
            return false;
        hubs_.push_back(hub);
        umockdev_testbed_uevent(testbed_, ("/sys" + devicePath(hub)).c_str(), "add");
    }
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, node.devnode().c_str(), handler_, &error)) {
        error_ = "cannot attach " + node.devnode() + ": " + (error ? error->message : "?");
        if (error)
            g_error_free(error);
        return false;
    }
    const Eeprom &e = device(node.device()).eeprom;
    if (!add(udevRecord(e, node.address(), port)) || !add(interfaceRecord(port)))
        return false;
    if (nodeMode_ >= 0)
        chmod((rootDir() + node.devnode()).c_str(), static_cast<mode_t>(nodeMode_));
    umockdev_testbed_uevent(testbed_, node.syspath().c_str(), "add");
    umockdev_testbed_uevent(testbed_, (node.syspath() + "/" + port + ":1.0").c_str(), "add");
    return true;
}

// ftdi_sio's tty comes and goes with the driver. Its node and pseudo-terminal stay: umockdev
// cannot make a node of the same name twice, and the next bridge to get the number uses it.
void Testbed::showTty(Node &node, Shown &shown, bool bound)
{
    if (bound) {
        int tty = 0;
        for (bool taken = true; taken; tty += taken ? 1 : 0) {
            taken = false;
            for (const Shown &other : shown_)
                taken = taken || other.tty == tty;
        }
        if (ttyNodes_.size() <= static_cast<size_t>(tty))
            ttyNodes_.resize(static_cast<size_t>(tty) + 1, false);
        add(ttyRecords(node.port(), tty, !ttyNodes_[static_cast<size_t>(tty)]));
        ttyNodes_[static_cast<size_t>(tty)] = true;
        shown.tty = tty;
        const std::string path = "/sys" + ttyPortPath(node.port(), tty);
        umockdev_testbed_uevent(testbed_, path.c_str(), "add");
        umockdev_testbed_uevent(testbed_, (path + "/tty/ttyUSB" + std::to_string(tty)).c_str(), "add");
        return;
    }
    const std::string root = rootDir(), name = "ttyUSB" + std::to_string(shown.tty);
    const std::string path = "/sys" + ttyPortPath(node.port(), shown.tty);
    umockdev_testbed_uevent(testbed_, (path + "/tty/" + name).c_str(), "remove");
    umockdev_testbed_uevent(testbed_, path.c_str(), "remove");
    // The device folders and the links umockdev made to them.
    std::error_code ec;
    std::filesystem::remove_all(root + path, ec);
    std::filesystem::remove(root + "/sys/bus/usb-serial/devices/" + name, ec);
    std::filesystem::remove(root + "/sys/class/tty/" + name, ec);
    std::filesystem::remove(root + "/sys/dev/char/188:" + std::to_string(shown.tty), ec);   // or another
    std::filesystem::remove(root + "/dev/.node/" + name, ec);                                // bridge's tty of
                                                                                             // that number fails
    shown.tty = -1;
}

// As the kernel lets a device go: its driver's tty first, then the "remove" uevents of the
// interface and the device, then its sysfs entry and node.
void Testbed::takeOff(Node &node, Shown &shown)
{
    if (shown.tty >= 0)
        showTty(node, shown, false);
    const std::string interface = node.syspath() + "/" + node.port() + ":1.0";
    umockdev_testbed_uevent(testbed_, interface.c_str(), "remove");
    umockdev_testbed_uevent(testbed_, node.syspath().c_str(), "remove");
    // The interface first: umockdev removes a child's folder with its parent but not the
    // child's links, which would stand in the way of the device's next plug-in.
    umockdev_testbed_remove_device(testbed_, interface.c_str());
    umockdev_testbed_remove_device(testbed_, node.syspath().c_str());
    shown.onBus = false;
}

void Testbed::applyChanges()
{
    std::vector<size_t> leaving, arriving;
    std::vector<bool> bound;
    {
        detail::Lock lock;
        detail::applyTimeline();
        // A device leaves sysfs once the hub has reported it gone.
        for (size_t i = 0; i < nodes_.size(); ++i) {
            if (!shown_[i].onBus)
                continue;
            nodes_[i]->notePullOut();
            if (nodes_[i]->offTheBus()) {
                nodes_[i]->disconnect();
                leaving.push_back(i);
            }
        }
        const std::deque<detail::Device> &devices = detail::state().devices;
        for (size_t d = 0; d < devices.size(); ++d) {
            if (!devices[d].plugged)
                continue;
            bool known = false;
            for (const auto &n : nodes_)
                known = known || (n->device() == static_cast<int>(d) && n->plugIn() == devices[d].plugIns);
            if (known)
                continue;
            // The kernel numbers a hub before the devices behind it.
            const std::string port = usbPort(static_cast<int>(d));
            for (size_t dot = port.find('.'); dot != std::string::npos; dot = port.find('.', dot + 1))
                if (hubAddresses_.count(port.substr(0, dot)) == 0)
                    hubAddresses_[port.substr(0, dot)] = nextAddress();
            const int address = nextAddress();
            if (address < 0) {
                std::fprintf(stderr, "kplx-ft232r-emu: no USB address left for device %zu\n", d + 1);
                continue;
            }
            nodes_.push_back(std::make_unique<Node>(static_cast<int>(d), devices[d].plugIns, address, port,
                                                    "/dev/bus/usb/001/" + text(address, "%03d"),
                                                    "/sys" + devicePath(port)));
            shown_.push_back(Shown());
            arriving.push_back(nodes_.size() - 1);
        }
        for (const auto &n : nodes_)
            bound.push_back(n->driverBound() && !n->unplugged());
    }
    for (size_t i : leaving)
        takeOff(*nodes_[i], shown_[i]);
    for (size_t i : arriving) {
        shown_[i].onBus = plugIn(*nodes_[i]);
        if (!shown_[i].onBus)
            std::fprintf(stderr, "kplx-ft232r-emu: %s\n", error_.c_str());
    }
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (shown_[i].onBus && bound[i] != (shown_[i].tty >= 0))
            showTty(*nodes_[i], shown_[i], bound[i]);
}

}  // namespace ft232r
}  // namespace sim
