// The version query against meters that answer "VERSION" with bytes from the input, readable
// in pieces from the input. The list must hold the texts of valid answers only, each
// within its 64-byte buffer, and the query must end within its read timeouts.
//
// Input: a layout byte (meters: 1 + b % 3; a cable at place (b >> 2) % 4, none past the
// meters), then for each meter: reply length (modulo 141), piece count (modulo 5), that many
// piece sizes (modulo 110), the reply.
#include "fuzz_device.h"

#include "protocol/version_query.h"

#include <algorithm>

namespace {

// Five bytes of answer: no split of it can stop the reads early, so the second query tests
// only what the first one left behind.
const std::string healthyVersion = "V";

struct Meter {
    int device;
    std::vector<uint8_t> reply;
    std::vector<int> pieces;
};

// What an answer allows. A text may be listed only when the answer is ACK and a frame of at
// most 63 payload bytes that all arrived; a checksum that does not match can only be excused
// by zero bytes, which the utility blanks out after them. The text must be listed when the
// frame is valid, has no zero byte, and arrives within the reads the query makes (a read
// stops at the end of a piece or after 100 bytes).
struct Verdict {
    bool allowed = false;
    bool required = false;
    std::string text;
};

Verdict judge(const Meter &m)
{
    Verdict v;
    const std::vector<uint8_t> &r = m.reply;
    if (r.size() < 4 || r[0] != ACK || r[1] != STX)
        return v;
    const size_t len = r[2];
    const size_t frameEnd = len + 4;   // ACK, STX, LEN, payload, CHK
    if (len + 1 > VERSION_TEXT_SIZE || frameEnd > r.size())
        return v;
    unsigned sum = 0;
    for (size_t i = 2; i < len + 3; ++i)
        sum += r[i];
    const bool checksumOk = static_cast<uint8_t>(~sum & 0xFF) == r[len + 3];
    const bool zeros = std::find(r.begin(), r.begin() + static_cast<long>(frameEnd), 0) != r.begin() + static_cast<long>(frameEnd);
    for (size_t i = 0; i < len && r[3 + i] != 0; ++i)
        v.text += static_cast<char>(r[3 + i]);
    v.allowed = checksumOk || zeros;
    if (!checksumOk || zeros)
        return v;

    // Reads needed to have the whole frame.
    std::vector<bool> pieceEnd(r.size(), false);
    if (!m.pieces.empty()) {
        size_t end = 0;
        for (int p : m.pieces) {
            end += static_cast<size_t>(p > 1 ? p : 1);
            if (end <= r.size())
                pieceEnd[end - 1] = true;
        }
        pieceEnd[r.size() - 1] = true;
    }
    size_t pos = 0;
    int reads = 0;
    while (pos < frameEnd) {
        size_t got = 0;
        while (got < VERSION_CHUNK_SIZE && pos < r.size()) {
            ++got;
            if (pieceEnd[pos++])
                break;
        }
        ++reads;
    }
    v.required = reads <= VERSION_MAX_READS;
    return v;
}

std::string describe(const std::vector<std::string> &items)
{
    std::string s = std::to_string(items.size()) + " items:";
    for (const auto &i : items)
        s += " \"" + i + "\"";
    return s;
}

// What each device saw, for a broken second query.
std::string secondStory()
{
    std::string s;
    for (int d = 0; d < sim::deviceCount(); ++d) {
        s += " device " + std::to_string(d) + ":";
        for (const auto &f : sim::frames(d))
            s += " [" + hexBytes(f.bytes, 12) + "-> " + hexBytes(f.reply, 24) + "]";
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputReader in(data, size);
    const uint8_t layout = in.byte();
    const int meterCount = 1 + layout % 3;
    const int cableAt = (layout >> 2) % 4;

    freshDevices();
    std::vector<Meter> meters;
    std::vector<int> cables;
    for (int place = 0; place <= meterCount; ++place) {
        if (place == cableAt) {
            cables.push_back(sim::addDevice(sim::defaultConfig(sim::Role::cable)));
        }
        if (place == meterCount)
            break;
        Meter m;
        const size_t length = in.byte() % 141;
        const int pieceCount = in.byte() % 5;
        for (int i = 0; i < pieceCount; ++i)
            m.pieces.push_back(in.byte() % 110);
        m.reply = in.take(length);
        sim::DeviceConfig config = sim::defaultConfig(sim::Role::meter);
        config.version = healthyVersion;
        config.faults.rawReplyAtFrame = 0;
        config.faults.rawReply = m.reply;
        config.faults.replyPieces = m.pieces;
        m.device = sim::addDevice(config);
        meters.push_back(m);
    }

    std::vector<Verdict> verdicts;
    std::string why;
    for (const Meter &m : meters) {
        verdicts.push_back(judge(m));
        const Verdict &v = verdicts.back();
        why += " meter " + std::to_string(m.device) + (v.required ? " must be listed" : v.allowed ? " may be listed" : " must be skipped") +
               ", reply " + hexBytes(m.reply, 24) + " pieces " + std::to_string(m.pieces.size());
        for (int p : m.pieces)
            why += " " + std::to_string(p);
    }

    HWND list = testhost::makeListBox();
    const double startMs = sim::nowMs();
    const int count = queryMeters(list);
    const double elapsedMs = sim::nowMs() - startMs;
    const std::vector<std::string> items = testhost::listBoxItems(list);

    FUZZ_CHECK(count == static_cast<int>(items.size()), "count " + std::to_string(count) + ", " + describe(items));
    for (const auto &item : items)
        FUZZ_CHECK(item.size() <= VERSION_TEXT_SIZE - 1, "item of " + std::to_string(item.size()) + " characters");
    // A meter whose answer does not start with ACK adds nothing, whatever follows.
    size_t acknowledged = 0;
    for (const Meter &m : meters)
        acknowledged += !m.reply.empty() && m.reply[0] == ACK;
    FUZZ_CHECK(items.size() <= acknowledged, describe(items) + " from " + std::to_string(acknowledged) + " ACKs;" + why);
    // The list is in device order: match each meter's verdict against the next item.
    size_t next = 0;
    for (size_t i = 0; i < meters.size(); ++i) {
        const Verdict &v = verdicts[i];
        const bool listed = next < items.size() && v.allowed && items[next] == v.text;
        FUZZ_CHECK(listed || !v.required, "meter " + std::to_string(meters[i].device) + " (\"" + v.text + "\") missing: " +
                                               describe(items) + ";" + why);
        next += listed;
    }
    FUZZ_CHECK(next == items.size(), "listed what no answer allows: " + describe(items) + ";" + why);
    FUZZ_CHECK(elapsedMs <= static_cast<double>(meters.size()) * VERSION_MAX_READS * VERSION_READ_TIMEOUT_MS,
               "took " + std::to_string(elapsedMs) + " ms");
    FUZZ_CHECK(testhost::messageBoxes().empty(), "messages " + joined(boxTexts()));
    for (const Meter &m : meters) {
        FUZZ_CHECK(!sim::port(m.device).open, "meter left open");
        FUZZ_CHECK(sim::frames(m.device).size() == 1 && sim::frames(m.device)[0].bytes == frameOf("VERSION"),
                   "meter got " + std::to_string(sim::frames(m.device).size()) + " frames");
    }
    for (int c : cables)
        FUZZ_CHECK(!sim::port(c).open && sim::frames(c).empty(), "cable was written to or left open");

    // Nothing of the first answers may reach the next query, where every meter is healthy.
    HWND second = testhost::makeListBox();
    FUZZ_CHECK(queryMeters(second) == static_cast<int>(meters.size()) &&
                   testhost::listBoxItems(second) == std::vector<std::string>(meters.size(), healthyVersion),
               "second query: " + describe(testhost::listBoxItems(second)) + ";" + secondStory());
    return 0;
}
