#include "kplx/station_plan.h"

namespace kplx {

std::string StationPlan::plugInKey(const link::DeviceInfo &d)
{
    // Lengths first, so that no string can run into the next.
    std::string key;
    for (const std::string &part : {d.location, std::to_string(d.bus) + ":" + std::to_string(d.address), d.serial,
                                    d.description, d.problem.empty() ? std::string() : std::string("?")})
        key += std::to_string(part.size()) + ":" + part;
    return key;
}

std::string StationPlan::keyOf(const link::DeviceInfo &d, std::map<std::string, size_t> &claimed) const
{
    if (d.openHere && d.location.empty()) {
        for (const auto &entry : present_) {
            size_t &used = claimed[entry.first];
            const link::DeviceInfo &known = entry.second.front();
            if (used < entry.second.size() && known.serial == d.serial && known.description == d.description) {
                ++used;
                return entry.first;
            }
        }
    }
    return plugInKey(d);
}

StationPlan::Changes StationPlan::update(const std::vector<link::DeviceInfo> &listing)
{
    std::map<std::string, std::vector<link::DeviceInfo>> now;
    std::map<std::string, size_t> claimed;
    for (const link::DeviceInfo &d : listing) {
        const std::string key = keyOf(d, claimed);
        auto known = present_.find(key);
        // Kept as first seen: what a device in use no longer tells is still known.
        now[key].push_back(known != present_.end() && d.openHere && d.location.empty() ? known->second.front() : d);
    }

    Changes changes;
    for (const auto &entry : present_) {
        auto it = now.find(entry.first);
        const size_t stays = it == now.end() ? 0 : it->second.size();
        for (size_t i = stays; i < entry.second.size(); ++i)
            changes.left.push_back(entry.second[i]);
    }
    for (const auto &entry : now) {
        auto it = present_.find(entry.first);
        const size_t known = it == present_.end() ? 0 : it->second.size();
        for (size_t i = known; i < entry.second.size(); ++i) {
            const link::DeviceInfo &d = entry.second[i];
            if (request_.named() ? matches(d, request_) : isCandidate(d))
                changes.load.push_back(d);
            else if (isCandidate(d))
                changes.notNamed.push_back(d);
            else
                changes.notMeters.push_back(d);
        }
    }
    present_ = std::move(now);
    return changes;
}

}  // namespace kplx
