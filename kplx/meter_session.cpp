#include "kplx/meter_session.h"

#include "core/frame.h"
#include "core/replies.h"
#include "core/steps.h"
#include "kplx/exit_codes.h"

#include <chrono>
#include <cstdio>

namespace kplx {

const char *outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::ok: return "ok";
    case Outcome::notAMeter: return "not-a-meter";
    case Outcome::portError: return "port-error";
    case Outcome::handshake: return "handshake";
    case Outcome::endNotConfirmed: return "end-not-confirmed";
    case Outcome::unplugged: return "unplugged";
    case Outcome::interrupted: return "interrupted";
    }
    return "unknown";
}

int exitCodeOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::ok: return kExitOk;
    case Outcome::notAMeter: return kExitNoMeter;
    case Outcome::portError: return kExitPort;
    case Outcome::handshake: return kExitHandshake;
    case Outcome::endNotConfirmed: return kExitEndNotConfirmed;
    case Outcome::unplugged: return kExitUnplugged;
    case Outcome::interrupted: return kExitInterrupted;
    }
    return kExitUsage;
}

namespace {

using core::Step;

struct Attempt {
    Outcome outcome = Outcome::ok;
    std::string message;
    uint32_t framesSent = 0;
};

std::string hexBytes(const uint8_t *bytes, size_t n)
{
    std::string out;
    char two[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%s%02X", i ? " " : "", bytes[i]);
        out += two;
    }
    return out;
}

class Transfer {
public:
    Transfer(link::MeterLink &link, const core::DatabaseView &database, MeterProgress &progress,
             const std::atomic<bool> &stop)
        : link_(link), db_(database), progress_(progress), stop_(stop),
          stepCount_(core::stepCount(database.blockCount())), blocks_(static_cast<uint32_t>(database.dataFrames()))
    {
    }

    Attempt run()
    {
        Attempt a;
        progress_.blocksSent = 0;
        // Step -1: nothing is sent.
        link_.purgeReceive();
        if (link_.setTimeouts(core::kTransferReadTimeoutMs, core::kTransferWriteTimeoutMs) == link::Status::gone)
            return unplugged(a, 0);

        for (int step = 0; step < stepCount_; ++step) {
            if (stop_)
                return interrupted(a);
            // Left-over bytes (a meter that answered twice) must not pass for this reply.
            if (link_.purgeReceive() == link::Status::gone)
                return unplugged(a, step);

            uint8_t payload[core::kMaxStepPayload];
            uint8_t frame[core::kMaxFrameSize];
            size_t size = core::buildFrame(payload, core::stepPayload(db_, step, payload), frame);
            link::Status st = link_.write(frame, size);
            if (st == link::Status::gone)
                return unplugged(a, step);
            if (st != link::Status::ok) {
                a.outcome = Outcome::portError;
                a.message = "cannot send " + stepName(step) + ": " + link_.detail();
                return a;
            }
            a.framesSent += 1;

            Step kind = core::stepAt(step, stepCount_);
            uint8_t reply[core::kReplyBufferSize] = {};
            size_t received = 0;
            if (!collectReply(reply, core::replyLength(kind), received))
                return unplugged(a, step);

            if (kind == Step::end) {
                if (!core::endConfirmed(reply)) {
                    a.outcome = Outcome::endNotConfirmed;
                    a.message = "the meter did not confirm the end of the database (" +
                                (received ? "it answered " + hexBytes(reply, received) : std::string("no answer")) + ")";
                }
                return a;
            }
            if (!core::acknowledged(reply)) {
                a.outcome = Outcome::handshake;
                a.message = handshakeMessage(step, reply, received);
                return a;
            }
            if (kind == Step::block)
                progress_.blocksSent = static_cast<uint32_t>(step);
        }
        return a;
    }

private:
    // Reads into the start of `reply` until something arrives or two reads come back empty;
    // false when the meter is gone.
    bool collectReply(uint8_t *reply, size_t length, size_t &received)
    {
        core::ReplyWait wait;
        while (!wait.finished()) {
            size_t got = 0;
            link::Status st = link_.read(reply, length, got);
            if (st == link::Status::gone)
                return false;
            wait.record(st == link::Status::ok ? got : 0);   // a failed read counts as an empty one
        }
        received = wait.total < length ? wait.total : length;
        return true;
    }

    std::string stepName(int step) const
    {
        switch (core::stepAt(step, stepCount_)) {
        case Step::setup: return "the set-up";
        case Step::database: return "the DATABASE command";
        case Step::end: return "END";
        case Step::block: break;
        }
        return "block " + std::to_string(step) + " of " + std::to_string(blocks_);
    }

    std::string handshakeMessage(int step, const uint8_t *reply, size_t received) const
    {
        if (received == 0)
            return "the meter stopped answering at " + stepName(step) + " (nothing in two read timeouts of " +
                   std::to_string(core::kTransferReadTimeoutMs / 1000) + " s)";
        if (reply[0] == core::kNak)
            return "the meter answered NAK to " + stepName(step);
        char what[8];
        std::snprintf(what, sizeof what, "0x%02X", reply[0]);
        return std::string("the meter answered ") + what + " instead of ACK to " + stepName(step);
    }

    Attempt &unplugged(Attempt &a, int step)
    {
        a.outcome = Outcome::unplugged;
        a.message = step <= 0 ? "the meter was unplugged before the first block"
                              : "the meter was unplugged at " + stepName(step);
        return a;
    }

    Attempt &interrupted(Attempt &a)
    {
        a.outcome = Outcome::interrupted;
        a.message = "interrupted at block " + std::to_string(progress_.blocksSent.load()) + " of " +
                    std::to_string(blocks_);
        return a;
    }

    link::MeterLink &link_;
    const core::DatabaseView &db_;
    MeterProgress &progress_;
    const std::atomic<bool> &stop_;
    int stepCount_;
    uint32_t blocks_;
};

// A failure here is not an error: the transfer goes on at the bridge's own pace. Nothing is
// changed that cannot be put back, so without a readable latency timer it is left alone.
TuningReport tune(link::MeterLink &link, const Tuning &want)
{
    TuningReport r;
    uint8_t found = 0;
    if (link.getLatencyTimer(found) != link::Status::ok) {
        r.problem = "the latency timer cannot be read: " + link.detail();
    } else {
        r.latencyFoundMs = r.latencyMs = found;
        if (found != want.latencyMs) {
            if (link.setLatencyTimer(want.latencyMs) == link::Status::ok)
                r.latencyMs = want.latencyMs;
            else
                r.problem = "the latency timer cannot be set: " + link.detail();
        }
    }
    return r;
}

// Puts back the latency timer found at open.
void restore(link::MeterLink &link, TuningReport &r)
{
    if (r.latencyMs != r.latencyFoundMs && link.setLatencyTimer(static_cast<uint8_t>(r.latencyFoundMs)) != link::Status::ok)
        r.restored = false;
}

bool retryable(Outcome outcome) { return outcome == Outcome::handshake || outcome == Outcome::endNotConfirmed; }

}  // namespace

MeterReport loadMeter(link::MeterLink &link, const std::string &serial, const core::DatabaseView &database,
                      const SessionOptions &options, MeterProgress &progress, const std::atomic<bool> &stop,
                      const AttemptNotice &notice)
{
    const auto started = std::chrono::steady_clock::now();
    MeterReport report;
    report.serial = serial;
    report.tuned = true;
    report.tuning = tune(link, options.tuning);
    // As the utility starts a transfer: both directions purged before step -1.
    link.purgeReceive();
    link.purgeTransmit();

    Transfer transfer(link, database, progress, stop);
    const unsigned allowed = options.retries + 1;
    Attempt last;
    for (unsigned attempt = 1; attempt <= allowed; ++attempt) {
        progress.attempt = attempt;
        report.attempts = attempt;
        last = transfer.run();
        if (!retryable(last.outcome) || attempt == allowed || stop)
            break;
        if (notice)
            notice("attempt " + std::to_string(attempt) + " of " + std::to_string(allowed) + " failed: " +
                   last.message + "; starting again from DATABASE");
    }
    report.outcome = last.outcome;
    report.message = last.message;
    report.framesSent = last.framesSent;
    if (last.outcome == Outcome::ok)
        report.message = "loaded " + std::to_string(database.size) + " bytes in " +
                         std::to_string(database.dataFrames()) + " blocks";
    if (last.outcome != Outcome::unplugged)
        restore(link, report.tuning);
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    progress.done = true;
    return report;
}

}  // namespace kplx
