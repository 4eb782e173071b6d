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
    case Outcome::wouldLoad: return "would-load";
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
    case Outcome::ok:
    case Outcome::wouldLoad: return kExitOk;
    case Outcome::notAMeter: return kExitNoMeter;
    case Outcome::portError: return kExitPort;
    case Outcome::handshake: return kExitHandshake;
    case Outcome::endNotConfirmed: return kExitEndNotConfirmed;
    case Outcome::unplugged: return kExitUnplugged;
    case Outcome::interrupted: return kExitInterrupted;
    }
    return kExitUsage;
}

bool succeeded(Outcome outcome) { return outcome == Outcome::ok || outcome == Outcome::wouldLoad; }

namespace {

using core::Step;

constexpr char kInterruptedBeforeTransfer[] = "interrupted before the transfer began";

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
             const StopRequest &stop)
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
            // At step 0 this is the last look before "DATABASE": a stop asked for by now sends nothing.
            if (stop_.stop)
                return interrupted(a, step);
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
            link::Status waited = collectReply(reply, core::replyLength(kind), received);
            if (waited == link::Status::gone)
                return unplugged(a, step);
            if (waited == link::Status::cancelled) {
                a.outcome = Outcome::interrupted;
                a.message = "interrupted: gave up waiting for the reply to " + stepName(step);
                return a;
            }

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
    // Reads into the start of `reply` until something arrives or two reads come back empty.
    // Gone when the meter is; cancelled when the wait was given up (abandon).
    link::Status collectReply(uint8_t *reply, size_t length, size_t &received)
    {
        core::ReplyWait wait;
        link_.cancelReadsWhen(&stop_.abandon);
        link::Status result = link::Status::ok;
        while (!wait.finished()) {
            size_t got = 0;
            link::Status st = link_.read(reply, length, got);
            if (st == link::Status::gone || st == link::Status::cancelled) {
                result = st;
                break;
            }
            wait.record(st == link::Status::ok ? got : 0);   // a failed read counts as an empty one
        }
        link_.cancelReadsWhen(nullptr);
        received = wait.total < length ? wait.total : length;
        return result;
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

    Attempt &interrupted(Attempt &a, int step)
    {
        a.outcome = Outcome::interrupted;
        a.message = step == 0 ? std::string(kInterruptedBeforeTransfer)
                              : "interrupted at block " + std::to_string(progress_.blocksSent.load()) + " of " +
                                    std::to_string(blocks_);
        return a;
    }

    link::MeterLink &link_;
    const core::DatabaseView &db_;
    MeterProgress &progress_;
    const StopRequest &stop_;
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

// How long the meter may keep talking after a failed attempt before kplx gives up on it.
constexpr int kMaxSilenceReads = 5;

enum class Silence { reached, stopped, gone, failed, endless };

// Before another attempt: the meter may still be answering the broken frame, committing what
// it had, or waiting for the rest of a frame; "DATABASE" sent into that would be misread or
// swallowed. So read, dropping what comes, until one whole read timeout passes without a byte.
// A stop ends the wait at once: no other attempt follows.
Silence waitForSilence(link::MeterLink &link, const StopRequest &stop, std::string &why)
{
    link.cancelReadsWhen(&stop.stop);
    Silence result = Silence::endless;
    for (int reads = 0; reads < kMaxSilenceReads && result == Silence::endless; ++reads) {
        uint8_t dropped[64];
        size_t got = 0;
        link::Status st = link.read(dropped, sizeof dropped, got);
        if (st == link::Status::ok && got == 0)
            result = Silence::reached;
        else if (st == link::Status::cancelled)
            result = Silence::stopped;
        else if (st == link::Status::gone)
            result = Silence::gone;
        else if (st != link::Status::ok) {
            why = link.detail();
            result = Silence::failed;
        }
    }
    link.cancelReadsWhen(nullptr);
    if (result == Silence::endless)
        why = "the meter kept sending for " + std::to_string(kMaxSilenceReads * core::kTransferReadTimeoutMs / 1000) + " s";
    return result;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::string earlierAttempts(const MeterReport &report)
{
    if (report.attempts.size() < 2)
        return "";
    std::string out = ", after " + std::to_string(report.attempts.size()) + " attempts (";
    for (size_t i = 0; i + 1 < report.attempts.size(); ++i)
        out += (i ? "; attempt " : "attempt ") + std::to_string(i + 1) + ": " + report.attempts[i].message;
    return out + ")";
}

MeterReport loadMeter(link::MeterLink &link, const std::string &serial, const core::DatabaseView &database,
                      const SessionOptions &options, MeterProgress &progress, const StopRequest &stop,
                      const AttemptNotice &notice)
{
    const auto started = std::chrono::steady_clock::now();
    MeterReport report;
    report.serial = serial;
    if (stop.stop) {
        // Nothing touched: not even the bridge's settings.
        report.outcome = Outcome::interrupted;
        report.message = kInterruptedBeforeTransfer;
        progress.done = true;
        return report;
    }
    report.tuned = true;
    report.tuning = tune(link, options.tuning);
    // As the utility starts a transfer: both directions purged before step -1.
    link.purgeReceive();
    link.purgeTransmit();

    Transfer transfer(link, database, progress, stop);
    const unsigned allowed = options.retries + 1;
    Attempt last;
    for (unsigned attempt = 1; attempt <= allowed; ++attempt) {
        if (attempt > 1) {
            if (notice)
                notice("attempt " + std::to_string(attempt - 1) + " of " + std::to_string(allowed) + " failed: " +
                       last.message + "; starting again from DATABASE once the meter has been silent for " +
                       std::to_string(core::kTransferReadTimeoutMs / 1000) + " s");
            progress.blocksSent = 0;
            std::string why;
            Silence silence = waitForSilence(link, stop, why);
            const std::string before = " before attempt " + std::to_string(attempt) + " (attempt " +
                                       std::to_string(attempt - 1) + ": " + last.message + ")";
            if (silence == Silence::gone) {
                last.outcome = Outcome::unplugged;
                last.message = "the meter was unplugged" + before;
                break;
            }
            if (silence == Silence::stopped) {
                last.outcome = Outcome::interrupted;
                last.message = "interrupted" + before;
                break;
            }
            if (silence != Silence::reached) {
                last.message += "; not tried again: " + why;
                break;
            }
        }
        progress.attempt = attempt;
        const auto attemptStarted = std::chrono::steady_clock::now();
        last = transfer.run();
        if (last.framesSent > 0 || last.outcome != Outcome::interrupted)
            report.attempts.push_back({last.outcome, last.message, last.framesSent, secondsSince(attemptStarted)});
        if (!retryable(last.outcome) || attempt == allowed || stop.stop)
            break;
    }
    report.outcome = last.outcome;
    report.message = last.message;
    report.framesSent = last.framesSent;
    if (last.outcome == Outcome::ok)
        report.message = "loaded " + std::to_string(database.size) + " bytes in " +
                         std::to_string(database.dataFrames()) + " blocks";
    if (!report.attempts.empty() && last.outcome == Outcome::ok)
        report.attempts.back().message = report.message;
    if (last.outcome != Outcome::unplugged)
        restore(link, report.tuning);
    report.seconds = secondsSince(started);
    progress.done = true;
    return report;
}

}  // namespace kplx
