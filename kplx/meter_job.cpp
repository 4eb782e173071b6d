#include "kplx/meter_job.h"

#include "kplx/platform/threads.h"
#include "kplx/version_query.h"

namespace kplx {

namespace {

constexpr unsigned kSlotPollMs = 20;   // how often a queued meter looks for a free slot

}  // namespace

bool TransferSlots::tryAcquire()
{
    unsigned n = free_.load();
    while (n > 0)
        if (free_.compare_exchange_weak(n, n - 1))
            return true;
    return false;
}

MeterReport interruptedBeforeTransfer(const ChosenMeter &meter)
{
    MeterReport r;
    r.serial = meter.serial;
    r.location = meter.location;
    r.outcome = Outcome::interrupted;
    r.message = "interrupted before the transfer began";
    return r;
}

MeterReport runMeterJob(ChosenMeter &meter, const core::DatabaseView &database, const JobSettings &settings,
                        MeterProgress &progress, const StopRequest &stop, const AttemptNotice &notice)
{
    auto finished = [&](MeterReport r) {
        progress.queued = false;
        progress.done = true;
        return r;
    };
    if (stop.stop)
        return finished(interruptedBeforeTransfer(meter));

    bool hasVersion = false;
    std::string version;
    if (settings.askVersion)
        hasVersion = askVersion(*meter.link, version);
    const auto identify = [&](MeterReport &r) {
        r.serial = meter.serial;
        r.location = meter.location;
        r.hasVersion = hasVersion;
        r.version = version;
    };

    if (settings.dryRun) {
        MeterReport r;
        identify(r);
        r.outcome = Outcome::wouldLoad;
        r.message = "would load " + std::to_string(database.size) + " bytes in " +
                    std::to_string(database.dataFrames()) + " blocks (dry run: nothing sent)";
        return finished(r);
    }

    if (settings.slots != nullptr) {
        progress.queued = true;
        while (!settings.slots->tryAcquire()) {
            if (stop.stop) {
                MeterReport r = interruptedBeforeTransfer(meter);
                identify(r);
                return finished(r);
            }
            platform::sleepMs(kSlotPollMs);
        }
        progress.queued = false;
    }
    MeterReport r = loadMeter(*meter.link, meter.serial, database, settings.session, progress, stop, notice);
    if (settings.slots != nullptr)
        settings.slots->release();
    identify(r);
    return r;
}

}  // namespace kplx
