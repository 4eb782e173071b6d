// The files a test reads after the client is done: whole files, rewritten each time, so that
// they are complete whenever the client has closed the device.
#include "sim/internal.h"

#include <cstdio>

namespace sim {
namespace detail {

static std::string hex(const std::vector<uint8_t> &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 0x0F];
    }
    return s.empty() ? "-" : s;
}

static void writeFile(const std::string &path, const std::string &content) {
    if (path.empty()) return;
    FILE *f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(content.data(), 1, content.size(), f) == content.size();
    if (f != nullptr && std::fclose(f) != 0) ok = false;
    if (!ok) std::fprintf(stderr, "simulated D2XX: cannot write %s\n", path.c_str());
}

static std::string frameLog(const std::vector<FrameRecord> &frames) {
    std::string out;
    char times[96];
    for (const FrameRecord &r : frames) {
        std::snprintf(times, sizeof times, "%.3f %d ", r.timeMs, r.valid ? 1 : 0);
        out += times;
        out += hex(r.bytes);
        std::snprintf(times, sizeof times, " %.3f %.3f ", r.replyReadableMs, r.firstByteMs);
        out += times;
        out += hex(r.reply);
        out += '\n';
    }
    return out;
}

static std::string numbers(const char *name, const std::vector<int> &values) {
    std::string line = name;
    for (int v : values) line += " " + std::to_string(v);
    return line + "\n";
}

// What the host left of the bridge's settings since its last open: a client that restored
// them shows the value it found last.
static std::string portLog(const Port &port) {
    return numbers("latency-sets", port.latencySets) + numbers("event-chars", port.eventChars);
}

}  // namespace detail

using namespace detail;

void writeOutputs() {
    for (const Device &d : state().devices) {
        writeFile(d.config.databaseOut, std::string(d.database.begin(), d.database.end()));
        writeFile(d.config.framesOut, frameLog(d.frames));
        writeFile(d.config.portOut, portLog(d.port));
    }
}

}  // namespace sim
