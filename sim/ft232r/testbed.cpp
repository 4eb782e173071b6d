#include "sim/ft232r/testbed.h"

#include "sim/internal.h"
#include "sim/lock.h"

#include <sys/stat.h>

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

// The device as udev and sysfs describe it: enough for libusb to enumerate it and libftdi to
// find it by vendor and product.
std::string udevRecord(const Eeprom &e, int address, int port)
{
    const std::string dev = "bus/usb/001/" + text(address, "%03d");
    return "P: /devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port) + "\n"
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
           "A: manufacturer=" + e.manufacturer + "\nA: product=" + e.description + "\n"
           "A: serial=" + e.serialNumber + "\nA: speed=12\n\n";
}

}  // namespace

Testbed::Testbed()
{
    testbed_ = umockdev_testbed_new();
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&Testbed::onIoctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(&Testbed::onVanished), this);
    const int count = deviceCount();
    for (int i = 0; i < count; ++i) {
        const Eeprom &e = device(i).eeprom;
        const int address = i + 2, port = i + 1;
        GError *error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed_, udevRecord(e, address, port).c_str(), &error)) {
            error_ = std::string("cannot add device ") + std::to_string(i) + ": " + (error ? error->message : "?");
            if (error)
                g_error_free(error);
            return;
        }
        std::string devnode = "/dev/bus/usb/001/" + text(address, "%03d");
        std::string syspath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port);
        if (!umockdev_testbed_attach_ioctl(testbed_, devnode.c_str(), handler_, &error)) {
            error_ = "cannot attach " + devnode + ": " + (error ? error->message : "?");
            if (error)
                g_error_free(error);
            return;
        }
        nodes_.push_back(std::make_unique<Node>(i, devnode, syspath));
    }
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

void Testbed::removeUnplugged()
{
    std::vector<std::string> gone;
    {
        detail::Lock lock;
        gone.swap(unplugged_);
    }
    for (const std::string &syspath : gone) {
        umockdev_testbed_remove_device(testbed_, syspath.c_str());
    }
}

}  // namespace ft232r
}  // namespace sim
