// The station's rules, apart from any device or clock: each plug-in is looked at once. One that
// the selection names and whose descriptors say it is a meter is to be loaded, once; one whose
// descriptors say it is not a meter is reported once and left alone, as is a meter the selection
// does not name. A device that leaves is forgotten, so plugging it in again is a new plug-in.
// A device is looked at once two listings in a row show it alike: the kernel fills a new
// device's sysfs entry (and empties a leaving one's) a file at a time, so a look in between
// would see a serial-less meter, or a cable without its description.
#pragma once

#include "kplx/selection.h"
#include "link/link.h"

#include <map>
#include <string>
#include <vector>

namespace kplx {

class StationPlan {
public:
    explicit StationPlan(SelectionRequest request) : request_(std::move(request)) {}

    struct Changes {
        std::vector<link::DeviceInfo> load;        // new plug-ins to load
        std::vector<link::DeviceInfo> notMeters;   // new plug-ins that say they are not meters
        std::vector<link::DeviceInfo> notNamed;    // new meters the selection leaves out
        std::vector<link::DeviceInfo> left;        // gone since the last listing
        bool settling = false;                     // new devices wait for the next listing
    };

    // The listing as it is now, against the last one.
    Changes update(const std::vector<link::DeviceInfo> &listing);

    // What tells one plug-in from another: where the device is and its strings, and on Linux
    // its bus address, which the kernel gives anew at every plug-in. (Through D2XX a device
    // pulled out and plugged back in between two looks is the same plug-in.)
    static std::string plugInKey(const link::DeviceInfo &device);

private:
    // A device this process has open is the plug-in it was, though D2XX then hides its location.
    std::string keyOf(const link::DeviceInfo &device, std::map<std::string, size_t> &claimed) const;

    SelectionRequest request_;
    std::map<std::string, std::vector<link::DeviceInfo>> present_;   // by key: devices share one only when alike
    std::map<std::string, size_t> lastListed_;                        // how many the last listing had, by key
};

// How soon to list again while a new device settles: far longer than the kernel takes to
// write a device's attributes, far shorter than a plug-in may wait to be noticed.
constexpr unsigned kSettleMs = 50;

}  // namespace kplx
