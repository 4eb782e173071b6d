// The meter's end of the line: frames out of the byte stream, replies, faults, and when each
// reply byte reaches the host.
#include "sim/internal.h"

#include <algorithm>
#include <string>

namespace sim {
namespace detail {

static const std::string kDatabase = "DATABASE";
static const std::string kEnd = "END";
static const std::string kVersion = "VERSION";

static std::vector<uint8_t> frameOf(const std::string &payload) {
    std::string text = payload.substr(0, 255);
    std::vector<uint8_t> f{kStx, static_cast<uint8_t>(text.size())};
    unsigned sum = static_cast<unsigned>(text.size());
    for (char c : text) {
        f.push_back(static_cast<uint8_t>(c));
        sum += static_cast<uint8_t>(c);
    }
    f.push_back(static_cast<uint8_t>(~sum & 0xFF));
    return f;
}

static bool checksumOk(const std::vector<uint8_t> &frame) {
    unsigned sum = 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i) sum += frame[i];
    return static_cast<uint8_t>(~sum & 0xFF) == frame.back();
}

static std::vector<uint8_t> normalReply(const Device &d, bool valid, const std::string &payload) {
    if (!valid) return {kNak};
    std::vector<uint8_t> reply{kAck};
    std::vector<uint8_t> tail;
    if (payload == kEnd) tail = frameOf("SUCCESS");
    if (payload == kVersion) tail = frameOf(d.config.version);
    reply.insert(reply.end(), tail.begin(), tail.end());
    return reply;
}

// A frame takes effect only when the meter acknowledged it: a NAKed block is not kept.
static void apply(Device &d, const std::string &payload, const std::vector<uint8_t> &frame) {
    if (payload == kDatabase) {
        d.database.clear();
        d.recording = true;
        d.complete = false;
    } else if (payload == kEnd) {
        if (d.recording) d.complete = true;
        d.recording = false;
    } else if (payload != kVersion && d.recording) {
        d.database.insert(d.database.end(), frame.begin() + 2, frame.end() - 1);
    }
}

// Sends the reply to frame `k` down the wire: each byte takes its wire time, after the meter's
// processing time, and enters the bridge as it arrives. Returns when the whole reply will be
// readable where the driver keeps a read pending; otherwise that is known when a read gets it.
static double queueReply(Device &d, int k, const std::vector<uint8_t> &reply, double frameDoneMs) {
    const Link &link = state().link;
    double byteMs = link.enabled ? 10000.0 / d.port.baudRate : 0;
    double start = frameDoneMs;
    if (link.enabled) start = std::max(frameDoneMs + link.processMs, d.rxLineFreeMs);
    const std::vector<int> &pieces = d.config.faults.replyPieces;
    size_t piece = 0, pieceEnd = 0;
    for (size_t j = 0; j < reply.size(); ++j) {
        while (piece < pieces.size() && pieceEnd <= j) pieceEnd += static_cast<size_t>(std::max(pieces[piece++], 1));
        if (piece >= pieces.size() && pieceEnd <= j) pieceEnd = reply.size();
        double arrived = start + static_cast<double>(j + 1) * byteMs;
        d.bridge.arrive(reply[j], arrived, !pieces.empty() && j + 1 == pieceEnd, j + 1 == reply.size() ? k : -1);
    }
    d.rxLineFreeMs = start + static_cast<double>(reply.size()) * byteMs;
    return d.bridge.alwaysReading() ? d.bridge.drainedMs() : -1;
}

static void frameArrived(Device &d, double doneMs) {
    FrameRecord r;
    r.timeMs = doneMs;
    r.bytes = d.pending;
    r.valid = checksumOk(d.pending);
    r.replyReadableMs = -1;
    r.firstByteMs = d.pendingFirstByteMs;
    std::string payload(d.pending.begin() + 2, d.pending.end() - 1);

    const Faults &f = d.config.faults;
    // Faults count the frames of this plug-in; the log and the bridge number every frame.
    const int logged = static_cast<int>(d.frames.size());
    const int k = logged - static_cast<int>(d.framesAtPlugIn);
    bool answers = true;
    if (k == f.unplugAtFrame) {
        d.plugged = false;
        answers = false;
    } else if (f.silentFromFrame >= 0 && k >= f.silentFromFrame) {
        answers = false;
    } else if (k == f.nakAtFrame) {
        r.reply = {kNak};
    } else if (k == f.rawReplyAtFrame) {
        r.reply = f.rawReply;
    } else {
        r.reply = normalReply(d, r.valid, payload);
    }
    if (answers && !r.reply.empty()) {
        if (r.reply[0] == kAck) apply(d, payload, d.pending);
        r.replyReadableMs = queueReply(d, logged, r.reply, doneMs);
    }
    d.frames.push_back(std::move(r));
}

void deliver(Device &d, const uint8_t *data, size_t size, double writeMs) {
    if (d.config.role != Role::meter) return;   // a cable's bytes go nowhere
    const Link &link = state().link;
    double byteMs = link.enabled ? 10000.0 / d.port.baudRate : 0;
    double t = std::max(writeMs, d.txLineFreeMs);
    for (size_t i = 0; i < size && d.plugged; ++i) {
        t += byteMs;
        if (t > d.pullOutMs) break;   // still on the wire when the cable was pulled: never arrives
        if (d.pending.empty()) {
            if (data[i] != kStx) continue;   // noise between frames
            d.pendingFirstByteMs = writeMs;
        }
        d.pending.push_back(data[i]);
        if (d.pending.size() >= 3 && d.pending.size() == static_cast<size_t>(d.pending[1]) + 3) {
            frameArrived(d, t);
            d.pending.clear();
        }
    }
    d.txLineFreeMs = t;
}

}  // namespace detail
}  // namespace sim
