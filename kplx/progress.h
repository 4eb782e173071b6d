// Progress while meters load. On a terminal: one line per meter, redrawn in place (serial,
// bar, blocks sent of total, percent, elapsed, bytes/s, time left). Otherwise a plain line per
// meter at every 10 %. Quiet or JSON runs show none. Messages that arrive meanwhile are
// written above the live lines.
#pragma once

#include "kplx/meter_session.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kplx {

enum class ProgressMode { live, plain, none };

class ProgressDisplay {
public:
    ProgressDisplay(ProgressMode mode, uint32_t blocks);

    void add(const std::string &serial, const MeterProgress &progress);
    void update();                                    // at most ten times a second
    void message(const std::string &text, bool error);   // a whole line, stdout or stderr
    void finish();                                    // the last redraw; lines stay on screen

    // One live line, for a meter `elapsed` seconds into its load and `attemptElapsed` into
    // its current attempt (which the rate and the time left are reckoned from).
    static std::string line(const std::string &serial, uint32_t sent, uint32_t total, double elapsed,
                            double attemptElapsed, int width);

private:
    using Clock = std::chrono::steady_clock;
    struct Meter {
        std::string serial;
        const MeterProgress *progress;
        uint32_t lastDecile = 0;
        uint32_t attempt = 1;
        Clock::time_point attemptStart;
        Clock::time_point end;   // when it was seen done; its line stands still from then on
        bool ended = false;
    };

    void observe(Meter &m, Clock::time_point now);   // a new attempt, or the end
    void drawLive();
    void printDeciles();

    ProgressMode mode_;
    uint32_t blocks_;
    std::vector<Meter> meters_;
    Clock::time_point start_ = Clock::now();
    size_t drawnLines_ = 0;
    int serialWidth_ = 8;
};

}  // namespace kplx
