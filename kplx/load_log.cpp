#include "kplx/load_log.h"

#include "kplx/device_text.h"
#include "kplx/platform/station.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace kplx {

namespace {

using json = nlohmann::ordered_json;

json textOrNull(bool known, const std::string &text) { return known ? json(text) : json(nullptr); }
double milliRounded(double seconds) { return std::round(seconds * 1000) / 1000; }

}  // namespace

std::string logLine(const LogContext &c, const MeterReport &r, const std::string &utcTime)
{
    json attempts = json::array();
    for (const AttemptReport &a : r.attempts)
        attempts.push_back(json{{"result", outcomeName(a.outcome)},
                                {"message", a.message},
                                {"framesSent", a.framesSent},
                                {"seconds", milliRounded(a.seconds)}});
    json line{{"time", utcTime},
              {"station", shownText(c.station)},
              {"kplxVersion", c.kplxVersion},
              {"file", shownText(c.file)},
              {"databaseBytes", c.databaseBytes},
              {"databaseSha256", c.databaseSha256},
              {"serial", textOrNull(!r.serial.empty(), shownText(r.serial))},
              {"location", textOrNull(!r.location.empty(), r.location)},
              {"meterVersion", textOrNull(r.hasVersion, shownText(r.version))},
              {"result", outcomeName(r.outcome)},
              {"message", r.message},
              {"attempts", attempts},
              {"seconds", milliRounded(r.seconds)},
              {"latencyMs", r.tuned && r.tuning.latencyMs >= 0 ? json(r.tuning.latencyMs) : json(nullptr)},
              {"dryRun", c.dryRun}};
    return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

bool LoadLog::open(const std::string &path, std::string &error)
{
    return file_.open(path, error);
}

bool LoadLog::write(const LogContext &context, const MeterReport &report, std::string &error)
{
    return file_.append(logLine(context, report, platform::utcTimestamp()), error);
}

}  // namespace kplx
