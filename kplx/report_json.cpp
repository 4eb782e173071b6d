#include "kplx/report_json.h"

#include "kplx/device_text.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace kplx {

namespace {

using json = nlohmann::ordered_json;   // keys in the documented order

json orNull(bool known, const std::string &text) { return known ? json(text) : json(nullptr); }

json tuningJson(const TuningReport &t)
{
    return json{{"latencyMs", t.latencyMs >= 0 ? json(t.latencyMs) : json(nullptr)},
                {"latencyFoundMs", t.latencyFoundMs >= 0 ? json(t.latencyFoundMs) : json(nullptr)},
                {"restored", t.restored},
                {"problem", orNull(!t.problem.empty(), t.problem)}};
}

double milliRounded(double seconds) { return std::round(seconds * 1000) / 1000; }

json meterJson(const MeterReport &m)
{
    json attempts = json::array();
    for (const AttemptReport &a : m.attempts)
        attempts.push_back(json{{"result", outcomeName(a.outcome)},
                                {"message", a.message},
                                {"framesSent", a.framesSent},
                                {"seconds", milliRounded(a.seconds)}});
    json j{{"serial", shownText(m.serial)},
           {"location", orNull(!m.location.empty(), m.location)},
           {"meterVersion", orNull(m.hasVersion, shownText(m.version))},
           {"result", outcomeName(m.outcome)},
           {"message", m.message},
           {"framesSent", m.framesSent},
           {"attempts", attempts},
           {"seconds", milliRounded(m.seconds)}};
    if (m.tuned)
        j["tuning"] = tuningJson(m.tuning);
    return j;
}

}  // namespace

std::string loadJson(const LoadSummary &s)
{
    json meters = json::array();
    for (const MeterReport &m : s.meters)
        meters.push_back(meterJson(m));
    json doc{{"file", s.file},
             {"databaseBytes", s.fileRead ? json(s.databaseBytes) : json(nullptr)},
             {"blocks", s.fileRead ? json(s.blocks) : json(nullptr)},
             {"databaseSha256", s.fileRead ? json(s.databaseSha256) : json(nullptr)},
             {"dryRun", s.dryRun},
             {"exitCode", s.exitCode},
             {"meters", meters}};
    if (!s.error.empty())
        doc["error"] = s.error;
    // Replacement characters for any byte that is not UTF-8 (a description from an EEPROM).
    return doc.dump(2, ' ', false, json::error_handler_t::replace);
}

std::string listJson(const std::vector<ListedDevice> &devices)
{
    json list = json::array();
    for (const ListedDevice &d : devices)
        list.push_back(json{{"index", d.index},
                            {"location", orNull(!d.location.empty(), d.location)},
                            {"serial", orNull(!d.serial.empty(), d.serial)},
                            {"description", d.description},
                            {"meter", d.checked ? json(d.meter) : json(nullptr)},
                            {"version", orNull(d.hasVersion, d.version)}});
    return list.dump(2, ' ', false, json::error_handler_t::replace);
}

}  // namespace kplx
