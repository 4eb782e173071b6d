#include "kplx/station_plan.h"

#include <algorithm>
#include <iterator>

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
    std::map<std::string, size_t> listed;
    for (auto &entry : now) {
        auto it = present_.find(entry.first);
        const size_t known = it == present_.end() ? 0 : it->second.size();
        const size_t count = entry.second.size();
        listed[entry.first] = count;
        // Alike in the last listing too, or not yet looked at.
        auto last = lastListed_.find(entry.first);
        const size_t settled = std::min(count, std::max(known, last == lastListed_.end() ? 0 : last->second));
        if (settled < count)
            changes.settling = true;
        for (size_t i = known; i < settled; ++i) {
            const link::DeviceInfo &d = entry.second[i];
            if (request_.named() ? matches(d, request_) : isCandidate(d))
                changes.load.push_back(d);
            else if (isCandidate(d))
                changes.notNamed.push_back(d);
            else
                changes.notMeters.push_back(d);
        }
        entry.second.resize(settled);
    }
    for (auto it = now.begin(); it != now.end();)
        it = it->second.empty() ? now.erase(it) : std::next(it);
    present_ = std::move(now);
    lastListed_ = std::move(listed);
    return changes;
}

}  // namespace kplx
