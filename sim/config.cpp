// The configuration file (sim/README.md): one directive a line, '#' to the end of a line is a
// comment. A file with any error changes nothing.
#include "sim/internal.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {
namespace detail {
namespace {

struct Parsed {
    std::vector<DeviceConfig> devices;
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

// One line; returns an error text, empty when fine.
std::string directive(Parsed &p, const std::string &key, const std::string &rest) {
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
        return "";
    }
    if (p.devices.empty()) return key + " before any device line";
    DeviceConfig &d = p.devices.back();
    Eeprom &e = d.eeprom;

    struct Text { const char *name; std::string *field; };
    const Text texts[] = {{"description", &e.description}, {"manufacturer", &e.manufacturer},
                          {"manufacturer-id", &e.manufacturerId}, {"serial", &e.serialNumber},
                          {"version", &d.version}, {"database-out", &d.databaseOut},
                          {"frames-out", &d.framesOut}, {"port-out", &d.portOut}};
    for (const Text &t : texts) {
        if (key != t.name) continue;
        *t.field = rest;
        return "";
    }
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
        std::string error = directive(p, key, rest);
        if (!error.empty()) {
            s.configError = "line " + std::to_string(lineNumber) + ": " + error;
            return false;
        }
    }
    s.configError.clear();
    s.devices.clear();
    for (const DeviceConfig &d : p.devices) addDevice(d);
    if (p.hasScale) setTimeScale(p.timeScale);
    if (p.hasLink) setLink(p.link);
    if (p.hasClock) useVirtualClock(p.virtualClock);
    return true;
}

}  // namespace sim
