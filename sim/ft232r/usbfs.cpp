#include "sim/ft232r/usbfs.h"

#include "sim/internal.h"

#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace ft232r {

namespace {

constexpr unsigned kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr char kKernelDriver[] = "ftdi_sio";
constexpr uint8_t kBulkIn = 0x81;
constexpr uint8_t kBulkOut = 0x02;
// How long after an unplug the hub reports it: a hub tells through its Status Change endpoint,
// polled every bInterval (up to 255 ms at full speed; USB 2.0, chapter 11, the hub endpoint
// descriptor). Until then transfers fail at the host controller. A short figure, so that the
// product cannot lean on a long one.
constexpr std::chrono::milliseconds kHubNotice(50);

template <typename T> void store(UMockdevIoctlData *data, size_t offset, T value)
{
    umockdev_ioctl_data_update(data, offset, reinterpret_cast<guint8 *>(&value), sizeof value);
}

template <typename T> T fetch(const UMockdevIoctlData *data, size_t offset)
{
    T value;
    std::memcpy(&value, data->data + offset, sizeof value);
    return value;
}

UMockdevIoctlData *resolve(UMockdevIoctlData *data, size_t offset, size_t length)
{
    GError *error = nullptr;
    UMockdevIoctlData *r = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (error != nullptr)
        g_error_free(error);
    return r;
}

bool isControl(UMockdevIoctlData *arg)
{
    UMockdevIoctlData *urb = resolve(arg, 0, sizeof(usbdevfs_urb));
    if (urb == nullptr)
        return false;
    const bool control = fetch<uint8_t>(urb, offsetof(usbdevfs_urb, type)) == USBDEVFS_URB_TYPE_CONTROL;
    g_object_unref(urb);
    return control;
}

}  // namespace

Node::Node(int device, int plugIn, int address, std::string port, std::string devnode, std::string syspath)
    : chip_(device, plugIn), address_(address), port_(std::move(port)), devnode_(std::move(devnode)),
      syspath_(std::move(syspath))
{
}

// The device has left: every later request fails. With `unplug-error` the host controller
// fails transfers with that error until the hub reports the device gone.
void Node::goneNow()
{
    gone_ = true;
    cutShort_ = sim::device(chip_.device()).faults.unplugUrbError;
    hubNotices_ = std::chrono::steady_clock::now() + (cutShort_ != 0 ? kHubNotice : std::chrono::milliseconds(0));
}

void Node::notePullOut()
{
    if (!gone_ && !chip_.plugged())
        goneNow();
}

void Node::disconnect()
{
    if (claimedBy_ == nullptr)
        return;
    claimedBy_ = nullptr;
    ++releases_;
    chip_.close();
}

Node::~Node()
{
    for (Urb &u : urbs_)
        release(u);
    for (Urb &u : reaped_)
        release(u);
}

void Node::release(Urb &u)
{
    if (u.buffer != nullptr)
        g_object_unref(u.buffer);
    if (u.urb != nullptr)
        g_object_unref(u.urb);
    u.buffer = u.urb = nullptr;
}

void Node::handle(UMockdevIoctlClient *client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    notePullOut();   // pulled out since the last request
    long result = 0;
    int error = 0;
    if (request == USBDEVFS_SUBMITURB && isControl(arg))
        ++controls_;
    else
        ++others_;

    const bool cutting = gone_ && cutShort_ != 0 && std::chrono::steady_clock::now() < hubNotices_;
    if (cutting && request == USBDEVFS_SUBMITURB) {
        result = submitCutShort(client, arg, error);
    } else if (gone_ || !chip_.plugged()) {
        gone_ = true;
        result = -1;
        error = ENODEV;
        // What was in flight comes back failed, as the kernel hands back a gone device's URBs
        // (libusb then ends the transfers waiting on them with "no device").
        if ((request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) && !urbs_.empty()) {
            for (Urb &u : urbs_) {
                if (u.client == client && !u.done) {
                    u.done = true;
                    u.status = cutting ? -cutShort_ : -ENODEV;
                    u.actual = 0;
                }
            }
            error = 0;
            result = reap(client, arg, error);
        }
    } else {
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            result = capabilities(arg, error);
            break;
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_RESET:
        case USBDEVFS_CLEAR_HALT:
            break;
        case USBDEVFS_CLAIMINTERFACE:
            if ((claimedBy_ != nullptr && claimedBy_ != client) || chip_.openFails()) {
                result = -1;
                error = EBUSY;   // another program has it
            } else if (claimedBy_ == nullptr) {
                claimedBy_ = client;
                ++claims_;
                chip_.open();
            }
            break;
        case USBDEVFS_RELEASEINTERFACE:
            if (claimedBy_ == client) {
                claimedBy_ = nullptr;
                ++releases_;
                chip_.close();
            }
            break;
        case USBDEVFS_GETDRIVER:
            result = getDriver(arg, error);
            break;
        case USBDEVFS_IOCTL:
            result = usbIoctl(arg, error);
            break;
        case USBDEVFS_SUBMITURB:
            result = submit(client, arg, error);
            break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            result = reap(client, arg, error);
            break;
        case USBDEVFS_DISCARDURB:
            result = discard(arg, error);
            break;
        default:
            result = -1;
            error = ENOTTY;   // not a request this device knows (libusb then takes another way)
            break;
        }
        if (!chip_.plugged())
            goneNow();   // unplugged by what this request carried: it still went through
    }
    if (std::getenv("KPLX_EMU_TRACE") != nullptr && !(request == USBDEVFS_REAPURBNDELAY && error == EAGAIN))
        std::fprintf(stderr, "[emu] %p %s 0x%lx -> %ld %s\n", static_cast<void *>(client), devnode_.c_str(), request,
                     result, error ? std::strerror(error) : "");
    umockdev_ioctl_client_complete(client, result, error);
    for (Urb &u : reaped_)
        release(u);
    reaped_.clear();
}

// The argument of most requests is the address of a structure in the client; `resolve`
// fetches it, and what is written to it goes back when the request completes.
long Node::capabilities(UMockdevIoctlData *arg, int &error)
{
    UMockdevIoctlData *caps = resolve(arg, 0, sizeof(uint32_t));
    if (caps == nullptr) {
        error = EFAULT;
        return -1;
    }
    store<uint32_t>(caps, 0, kCapabilities);
    g_object_unref(caps);
    return 0;
}

long Node::getDriver(UMockdevIoctlData *arg, int &error)
{
    if (!driverBound_) {
        error = ENODATA;
        return -1;
    }
    UMockdevIoctlData *d = resolve(arg, 0, sizeof(usbdevfs_getdriver));
    if (d == nullptr) {
        error = EFAULT;
        return -1;
    }
    guint8 name[USBDEVFS_MAXDRIVERNAME + 1] = {};
    std::memcpy(name, kKernelDriver, sizeof kKernelDriver);
    umockdev_ioctl_data_update(d, offsetof(usbdevfs_getdriver, driver), name, sizeof name);
    g_object_unref(d);
    return 0;
}

long Node::usbIoctl(UMockdevIoctlData *arg, int &error)
{
    UMockdevIoctlData *request = resolve(arg, 0, sizeof(usbdevfs_ioctl));
    if (request == nullptr) {
        error = EFAULT;
        return -1;
    }
    const int code = fetch<int>(request, offsetof(usbdevfs_ioctl, ioctl_code));
    g_object_unref(request);
    if (code == static_cast<int>(USBDEVFS_DISCONNECT)) {
        if (!driverBound_) {
            error = ENODATA;
            return -1;
        }
        driverBound_ = false;
        return 0;
    }
    if (code == static_cast<int>(USBDEVFS_CONNECT)) {
        driverBound_ = true;
        return 0;
    }
    error = ENOTTY;
    return -1;
}

long Node::submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg, int &error)
{
    UMockdevIoctlData *urb = resolve(arg, 0, sizeof(usbdevfs_urb));
    if (urb == nullptr) {
        error = EFAULT;
        return -1;
    }
    Urb u;
    u.client = client;
    u.urb = urb;
    u.type = fetch<uint8_t>(urb, offsetof(usbdevfs_urb, type));
    u.endpoint = fetch<uint8_t>(urb, offsetof(usbdevfs_urb, endpoint));
    u.length = fetch<int>(urb, offsetof(usbdevfs_urb, buffer_length));
    u.submittedMs = nowMs();
    if (u.length > 0)
        u.buffer = resolve(urb, offsetof(usbdevfs_urb, buffer), static_cast<size_t>(u.length));

    if (u.type == USBDEVFS_URB_TYPE_CONTROL && u.buffer != nullptr && u.length >= 8) {
        const guint8 *p = u.buffer->data;
        Setup s{p[0], p[1], static_cast<uint16_t>(p[2] | p[3] << 8), static_cast<uint16_t>(p[4] | p[5] << 8),
                static_cast<uint16_t>(p[6] | p[7] << 8)};
        Bytes in;
        u.done = true;
        const double late = chip_.answerDelayMs(s);
        if (late > 0) {
            u.done = false;
            u.doneAtMs = u.submittedMs + late;
        }
        if (!chip_.control(s, p + 8, in)) {
            u.status = -EPIPE;   // stalled
        } else if ((s.requestType & 0x80) != 0) {
            size_t n = in.size() < static_cast<size_t>(u.length - 8) ? in.size() : static_cast<size_t>(u.length - 8);
            if (n > 0)
                umockdev_ioctl_data_update(u.buffer, 8, in.data(), static_cast<gint>(n));
            u.actual = static_cast<int>(n);
        } else {
            u.actual = s.length;
        }
    } else if (u.type == USBDEVFS_URB_TYPE_BULK && u.endpoint == kBulkOut) {
        if (u.buffer != nullptr)
            chip_.bulkOut(u.buffer->data, static_cast<size_t>(u.length));
        u.done = true;
        u.actual = u.length;
    } else if (!(u.type == USBDEVFS_URB_TYPE_BULK && u.endpoint == kBulkIn)) {
        release(u);
        error = EINVAL;
        return -1;
    }
    urbs_.push_back(u);
    return 0;
}

// Until the hub reports the device gone, the host controller ends each transfer to it with an
// error of its own (`unplug-error`: a protocol error or a stall) instead of "no device".
long Node::submitCutShort(UMockdevIoctlClient *client, UMockdevIoctlData *arg, int &error)
{
    UMockdevIoctlData *urb = resolve(arg, 0, sizeof(usbdevfs_urb));
    if (urb == nullptr) {
        error = EFAULT;
        return -1;
    }
    Urb u;
    u.client = client;
    u.urb = urb;
    u.type = fetch<uint8_t>(urb, offsetof(usbdevfs_urb, type));
    u.endpoint = fetch<uint8_t>(urb, offsetof(usbdevfs_urb, endpoint));
    u.done = true;
    u.status = -cutShort_;
    urbs_.push_back(u);
    return 0;
}

long Node::reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg, int &error)
{
    for (auto it = urbs_.begin(); it != urbs_.end(); ++it) {
        Urb &u = *it;
        if (u.client != client)
            continue;
        if (!u.done && u.type == USBDEVFS_URB_TYPE_CONTROL && nowMs() >= u.doneAtMs)
            u.done = true;
        if (!u.done && u.type == USBDEVFS_URB_TYPE_BULK && u.buffer != nullptr) {
            Bytes in;
            if (chip_.bulkIn(static_cast<size_t>(u.length), u.submittedMs, in)) {
                if (!in.empty())
                    umockdev_ioctl_data_update(u.buffer, 0, in.data(), static_cast<gint>(in.size()));
                u.done = true;
                u.actual = static_cast<int>(in.size());
            }
        }
        if (!u.done)
            continue;
        store<int>(u.urb, offsetof(usbdevfs_urb, status), u.status);
        store<int>(u.urb, offsetof(usbdevfs_urb, actual_length), u.actual);
        // The caller's `void *` now points at its own URB again.
        UMockdevIoctlData *slot = resolve(arg, 0, sizeof(void *));
        if (slot != nullptr) {
            umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
            g_object_unref(slot);
        }
        reaped_.push_back(u);
        urbs_.erase(it);
        return 0;
    }
    error = EAGAIN;
    return -1;
}

void Node::vanished(UMockdevIoctlClient *client)
{
    for (auto it = urbs_.begin(); it != urbs_.end();) {
        if (it->client == client) {
            release(*it);
            it = urbs_.erase(it);
        } else {
            ++it;
        }
    }
    if (claimedBy_ == client) {   // a program that ended without letting go
        claimedBy_ = nullptr;
        ++releases_;
        chip_.close();
    }
}

long Node::discard(UMockdevIoctlData *arg, int &error)
{
    // The argument is the URB's address in the client.
    const gulong address = fetch<gulong>(arg, 0);
    for (Urb &u : urbs_) {
        if (u.urb->client_addr == address && !u.done) {
            u.done = true;   // libusb's timeout or cancel: reaped as -ENOENT
            u.status = -ENOENT;
            u.actual = 0;
            return 0;
        }
    }
    error = EINVAL;
    return -1;
}

}  // namespace ft232r
}  // namespace sim
