// One meter's transfer, exactly the conversation the utility has with it: purge, timeouts
// (6000 ms read, 100 ms write), then "DATABASE", every block and "END", each frame after a
// receive purge and each waiting for its reply. With retries, a failed transfer starts again
// from "DATABASE" on the same port, once the meter has been silent for a whole read timeout.
#pragma once

#include "core/database.h"
#include "link/link.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kplx {

// `wouldLoad`: a dry run found the meter ready; nothing was sent.
enum class Outcome { ok, wouldLoad, notAMeter, portError, handshake, endNotConfirmed, unplugged, interrupted };

const char *outcomeName(Outcome outcome);   // as in --json: "ok", "would-load", "not-a-meter", ...
int exitCodeOf(Outcome outcome);
bool succeeded(Outcome outcome);            // ok, or a dry run's would-load

// The bridge's latency timer for the transfer. The bridge sends a short reply at the timer's
// next expiry, so each ACK waits up to a whole period: 16 ms as the bridge comes, 2 ms here
// (FTDI advises against 1 ms, the USB frame's length). Put back as found before the port closes.
struct Tuning {
    uint8_t latencyMs = 2;    // 1 .. 255
};

struct TuningReport {
    int latencyFoundMs = -1;   // the bridge's latency timer at open (-1: it could not be read)
    int latencyMs = -1;        // in effect for the transfer (-1: unknown)
    bool restored = true;      // what was changed has been put back
    std::string problem;       // what could not be done ("" when all went as asked)
};

// What the display reads while the meter loads; written by the meter's own thread only.
struct MeterProgress {
    std::atomic<uint32_t> blocksSent{0};   // data blocks acknowledged in the current attempt
    std::atomic<uint32_t> attempt{1};
    std::atomic<bool> queued{false};       // waiting for one of the --jobs slots
    std::atomic<bool> done{false};
};

// One transfer from "DATABASE" on.
struct AttemptReport {
    Outcome outcome = Outcome::ok;
    std::string message;
    uint32_t framesSent = 0;
    double seconds = 0;        // from its first frame to its end
};

struct MeterReport {
    std::string serial;        // as the device has it; outputs show it escaped
    std::string location;      // where it is plugged in ("" where the system does not say)
    bool hasVersion = false;   // it answered "VERSION" (asked for the log and for a dry run)
    std::string version;       // its answer, as it gave it
    Outcome outcome = Outcome::ok;
    std::string message;       // one line, in the user's terms, without the serial
    uint32_t framesSent = 0;   // frames written in the last attempt
    std::vector<AttemptReport> attempts;   // in order; none when no transfer began
    double seconds = 0;
    bool tuned = false;        // a transfer ran, so `tuning` tells what became of the settings
    TuningReport tuning;
};

struct SessionOptions {
    unsigned retries = 0;
    Tuning tuning;
};

// What ends a load early: `stop` once the frame in flight has its reply (nothing more is
// sent, no other attempt starts); `abandon` at once, giving up the wait for that reply. Either
// way the bridge is put back.
struct StopRequest {
    const std::atomic<bool> &stop;
    const std::atomic<bool> &abandon;
};

// Called from the meter's thread when an attempt fails and another follows.
using AttemptNotice = std::function<void(const std::string &message)>;

// Loads `database` through `link`, which is open, configured and holds a meter.
MeterReport loadMeter(link::MeterLink &link, const std::string &serial, const core::DatabaseView &database,
                      const SessionOptions &options, MeterProgress &progress, const StopRequest &stop,
                      const AttemptNotice &notice);

// ", after 2 attempts (attempt 1: ...)", naming each attempt before the last, whose outcome
// the report's message tells; "" for a load that needed one.
std::string earlierAttempts(const MeterReport &report);

}  // namespace kplx
