// The configuration file (sim/README.md): one directive a line, '#' to the end of a line is a
// comment. A file with any error changes nothing.
#include "sim/internal.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {
namespace detail {
namespace {

struct Parsed {
    std::vector<DeviceConfig> devices;
    std::vector<int> deviceLines;   // where each device starts in the file
    bool hasScale = false, hasLink = false, hasClock = false;
    double timeScale = 1;
    Link link;
    bool virtualClock = false;
};

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool toNumber(const std::string &text, unsigned long max, unsigned long &out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char *end = nullptr;
    errno = 0;
    out = std::strtoul(text.c_str(), &end, hex ? 16 : 10);
    return errno == 0 && *end == '\0' && out <= max;
}

bool toByteString(const std::string &token, std::vector<uint8_t> &out) {
    if (token.size() % 2 != 0 && token.size() != 1) return false;
    std::string digits = token.size() == 1 ? "0" + token : token;
    for (size_t i = 0; i < digits.size(); i += 2) {
        std::string pair = digits.substr(i, 2);
        char *end = nullptr;
        unsigned long v = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0' || pair.find_first_of("+- ") != std::string::npos) return false;
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

// Device text as kplx shows it: \xNN is that byte (for control characters and bytes that are
// not UTF-8), any other character itself.
std::string unescaped(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned long byte = 0;
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            isxdigit(static_cast<unsigned char>(text[i + 2])) && isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            byte = std::strtoul(text.substr(i + 2, 2).c_str(), nullptr, 16);
            out += static_cast<char>(byte);
            i += 3;
            continue;
        }
        out += text[i];
    }
    return out;
}

// A USB port as sysfs names it, on the emulation's one bus: 1-P or 1-P.P..., each port 1 to 15
// and seven at most, so that the location ID has a hex digit for each.
bool usbPortName(const std::string &text) {
    return text.compare(0, 2, "1-") == 0 && locationId(text) != 0;
}

// Whether two ports are one, or one is a hub on the other's way.
bool portsMeet(const std::string &a, const std::string &b) {
    const std::string &shorter = a.size() <= b.size() ? a : b, &longer = a.size() <= b.size() ? b : a;
    return shorter == longer || longer.compare(0, shorter.size() + 1, shorter + ".") == 0;
}

bool overlap(const std::vector<std::pair<double, double>> &a, const std::vector<std::pair<double, double>> &b) {
    for (const auto &x : a)
        for (const auto &y : b)
            if (x.first < y.second && y.first < x.second) return true;
    return false;
}

// A port holds one device at a time, and a device is not a hub: two devices may share a port
// (a fixture's socket) only while their timelines keep them apart.
std::string portClash(const Parsed &p) {
    for (size_t i = 0; i < p.devices.size(); ++i) {
        const std::string a = p.devices[i].usbPort.empty() ? "1-" + std::to_string(i + 1) : p.devices[i].usbPort;
        for (size_t j = 0; j < i; ++j) {
            const std::string b = p.devices[j].usbPort.empty() ? "1-" + std::to_string(j + 1) : p.devices[j].usbPort;
            if (portsMeet(a, b) && overlap(presence(p.devices[i]), presence(p.devices[j])))
                return "line " + std::to_string(p.deviceLines[i]) + ": the device at port " + a +
                       " is plugged in while the device of line " + std::to_string(p.deviceLines[j]) + " is at " + b;
        }
    }
    return "";
}

// plug-in-at and pull-out-at: in time order, each changing what the last one left.
std::string plugEvent(DeviceConfig &d, bool plugIn, const std::string &key, const std::vector<std::string> &args) {
    unsigned long ms = 0;
    if (args.size() != 1 || !toNumber(args[0], 0x7FFFFFFF, ms)) return key + " needs a time in milliseconds";
    const std::vector<PlugEvent> &t = d.timeline;
    if (!t.empty() && !(static_cast<double>(ms) > t.back().atMs))
        return key + " " + args[0] + " is not after the device's last plug-in or pull-out";
    const bool inBefore = t.empty() ? !plugIn : t.back().plugIn;
    if (plugIn == inBefore)
        return key + " " + args[0] + (plugIn ? ": the device is plugged in already" : ": the device is out already");
    d.timeline.push_back(PlugEvent{static_cast<double>(ms), plugIn});
    return "";
}

// One line; returns an error text, empty when fine.
std::string directive(Parsed &p, int lineNumber, const std::string &key, const std::string &rest) {
    std::istringstream in(rest);
    std::vector<std::string> args;
    for (std::string a; in >> a;) args.push_back(a);
    unsigned long n = 0;

    if (key == "time-scale") {
        char *end = nullptr;
        p.timeScale = args.size() == 1 ? std::strtod(args[0].c_str(), &end) : 0;
        if (args.size() != 1 || *end != '\0' || !(p.timeScale > 0)) return "time-scale needs one number above 0";
        p.hasScale = true;
        return "";
    }
    if (key == "link") {
        p.link = Link();
        p.link.enabled = true;
        if (args.size() % 2 != 0) return "link takes pairs: latency-ms L process-ms P";
        for (size_t i = 0; i < args.size(); i += 2) {
            if (!toNumber(args[i + 1], 1000000, n)) return "bad number " + args[i + 1];
            if (args[i] == "latency-ms") p.link.latencyMs = static_cast<uint32_t>(n);
            else if (args[i] == "process-ms") p.link.processMs = static_cast<uint32_t>(n);
            else return "unknown link setting " + args[i];
        }
        p.hasLink = true;
        return "";
    }
    if (key == "clock") {
        if (args.size() != 1 || (args[0] != "virtual" && args[0] != "real")) return "clock virtual | real";
        p.virtualClock = args[0] == "virtual";
        p.hasClock = true;
        return "";
    }
    if (key == "device") {
        if (args.size() != 1 || (args[0] != "meter" && args[0] != "cable")) return "device meter | cable";
        Role role = args[0] == "meter" ? Role::meter : Role::cable;
        p.devices.push_back(numberedDefaults(role, static_cast<int>(p.devices.size()) + 1));
        p.deviceLines.push_back(lineNumber);
        return "";
    }
    if (p.devices.empty()) return key + " before any device line";
    DeviceConfig &d = p.devices.back();
    Eeprom &e = d.eeprom;

    struct Text { const char *name; std::string *field; bool escapes; };
    const Text texts[] = {{"description", &e.description, true}, {"manufacturer", &e.manufacturer, true},
                          {"manufacturer-id", &e.manufacturerId, true}, {"serial", &e.serialNumber, true},
                          {"version", &d.version, true}, {"database-out", &d.databaseOut, false},
                          {"frames-out", &d.framesOut, false}, {"calls-out", &d.callsOut, false}};
    for (const Text &t : texts) {
        if (key != t.name) continue;
        *t.field = t.escapes ? unescaped(rest) : rest;
        return "";
    }
    if (key == "port") {
        if (args.size() != 1 || !usbPortName(args[0]))
            return "port needs a USB port on bus 1, such as 1-2.3 (ports 1 to 15, seven deep at most)";
        d.usbPort = args[0];
        return "";
    }
    if (key == "plug-in-at" || key == "pull-out-at") return plugEvent(d, key == "plug-in-at", key, args);
    struct Word { const char *name; uint16_t *field; };
    const Word words[] = {{"vendor-id", &e.vendorId}, {"product-id", &e.productId}, {"max-power", &e.maxPower},
                          {"pnp", &e.pnp}, {"self-powered", &e.selfPowered}, {"remote-wakeup", &e.remoteWakeup}};
    for (const Word &w : words) {
        if (key != w.name) continue;
        if (args.size() != 1 || !toNumber(args[0], 0xFFFF, n)) return key + " needs a number up to 65535";
        *w.field = static_cast<uint16_t>(n);
        return "";
    }
    struct Byte { const char *name; uint8_t *field; };
    const Byte bytes[] = {{"invert-txd", &e.invertTxd}, {"invert-rxd", &e.invertRxd},
                          {"invert-dtr", &e.invertDtr}, {"cbus4", &e.cbus4}};
    for (const Byte &b : bytes) {
        if (key != b.name) continue;
        if (args.size() != 1 || !toNumber(args[0], 0xFF, n)) return key + " needs a number up to 255";
        *b.field = static_cast<uint8_t>(n);
        return "";
    }

    Faults &f = d.faults;
    struct At { const char *name; int *field; };
    const At ats[] = {{"nak-at", &f.nakAtFrame}, {"silent-from", &f.silentFromFrame}, {"unplug-at", &f.unplugAtFrame}};
    for (const At &a : ats) {
        if (key != a.name) continue;
        if (args.size() != 1 || !toNumber(args[0], 0x7FFFFFFF, n)) return key + " needs a frame number";
        *a.field = static_cast<int>(n);
        return "";
    }
    if (key == "raw-at") {
        if (args.empty() || !toNumber(args[0], 0x7FFFFFFF, n)) return "raw-at needs a frame number";
        f.rawReplyAtFrame = static_cast<int>(n);
        f.rawReply.clear();
        for (size_t i = 1; i < args.size(); ++i)
            if (!toByteString(args[i], f.rawReply)) return "bad hex " + args[i];
        return "";
    }
    if (key == "pieces") {
        if (args.empty()) return "pieces needs sizes";
        f.replyPieces.clear();
        for (const std::string &a : args) {
            if (!toNumber(a, 0xFFFF, n) || n == 0) return "bad piece size " + a;
            f.replyPieces.push_back(static_cast<int>(n));
        }
        return "";
    }
    if (key == "eeprom-string-length") {
        const char *names[] = {"manufacturer", "description", "serial"};
        int which = -1;
        for (int i = 0; i < 3; ++i)
            if (args.size() == 2 && args[0] == names[i]) which = i;
        if (which < 0 || !toNumber(args[1], 1, n))
            return "eeprom-string-length needs manufacturer | description | serial, and 0 or 1";
        f.stringLength[which] = static_cast<int>(n);
        return "";
    }
    if (key == "unplug-error") {
        if (args.size() != 1 || (args[0] != "EPROTO" && args[0] != "EPIPE"))
            return "unplug-error EPROTO | EPIPE";
        f.unplugUrbError = args[0] == "EPROTO" ? EPROTO : EPIPE;
        return "";
    }
    if (key == "eeprom-delay-ms") {
        if (args.size() != 1 || !toNumber(args[0], 600000, n)) return key + " needs a number of ms up to 600000";
        f.eepromDelayMs = static_cast<uint32_t>(n);
        return "";
    }
    if (key == "eeprom-fail-from-open") {
        if (args.size() != 1 || !toNumber(args[0], 0x7FFFFFFF, n)) return key + " needs an open number";
        f.eepromFailFromOpen = static_cast<int>(n);
        return "";
    }
    struct Flag { const char *name; bool *field; };
    const Flag flags[] = {{"eeprom-fail", &f.eepromReadFails}, {"eeprom-partial", &f.eepromPartial},
                          {"eeprom-bad-checksum", &f.eepromBadChecksum},
                          {"open-fail", &f.openFails}};
    for (const Flag &fl : flags) {
        if (key != fl.name) continue;
        if (!args.empty()) return key + " takes nothing";
        *fl.field = true;
        return "";
    }
    return "unknown directive " + key;
}

}  // namespace
}  // namespace detail

using namespace detail;

bool loadConfig(const std::string &path) {
    State &s = state();
    std::ifstream file(path);
    if (!file) {
        s.configError = "cannot open the file";
        return false;
    }
    Parsed p;
    int lineNumber = 0;
    for (std::string line; std::getline(file, line);) {
        ++lineNumber;
        line = trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        size_t gap = line.find_first_of(" \t");
        std::string key = line.substr(0, gap);
        std::string rest = gap == std::string::npos ? "" : trim(line.substr(gap));
        std::string error = directive(p, lineNumber, key, rest);
        if (!error.empty()) {
            s.configError = "line " + std::to_string(lineNumber) + ": " + error;
            return false;
        }
    }
    std::string clash = portClash(p);
    if (!clash.empty()) {
        s.configError = clash;
        return false;
    }
    s.configError.clear();
    s.devices.clear();
    for (DeviceConfig &d : p.devices) {
        // A slot too short for a descriptor holds an empty string, whatever the line said.
        std::string *strings[] = {&d.eeprom.manufacturer, &d.eeprom.description, &d.eeprom.serialNumber};
        for (int i = 0; i < 3; ++i)
            if (d.faults.stringLength[i] >= 0) strings[i]->clear();
        addDevice(d);
    }
    if (p.hasScale) setTimeScale(p.timeScale);
    if (p.hasLink) setLink(p.link);
    if (p.hasClock) useVirtualClock(p.virtualClock);
    return true;
}

}  // namespace sim
