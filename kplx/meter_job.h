// A chosen meter's work once selection has it open, claimed and configured, the same for a
// load and for the station: its answer to "VERSION" when the log or a dry run wants it, then,
// unless this is a dry run, its transfer in one of the --jobs slots.
#pragma once

#include "core/database.h"
#include "kplx/meter_session.h"
#include "kplx/selection.h"

#include <atomic>

namespace kplx {

// --jobs N: at most N transfers at once; the others wait for a slot.
class TransferSlots {
public:
    explicit TransferSlots(unsigned count) : free_(count) {}
    bool tryAcquire();
    void release() { free_.fetch_add(1); }

private:
    std::atomic<unsigned> free_;
};

struct JobSettings {
    SessionOptions session;
    bool askVersion = false;           // for the log, and a dry run's report
    bool dryRun = false;               // no "DATABASE": the meter is reported as would-load
    TransferSlots *slots = nullptr;    // null: no limit
};

// Runs in the meter's own thread; marks `progress` done at the end, whatever the outcome.
MeterReport runMeterJob(ChosenMeter &meter, const core::DatabaseView &database, const JobSettings &settings,
                        MeterProgress &progress, const StopRequest &stop, const AttemptNotice &notice);

// The report of a chosen meter that a stop kept from its transfer.
MeterReport interruptedBeforeTransfer(const ChosenMeter &meter);

}  // namespace kplx
