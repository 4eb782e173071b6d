// Progress while meters load. On a terminal: one line per meter, redrawn in place (serial,
// bar, blocks sent of total, percent, elapsed, bytes/s, time left), or one line for them all
// when their lines would not fit. Otherwise a plain line per meter at every 10 %. Quiet or
// JSON runs show none. Messages that arrive meanwhile are written above the live lines.
#pragma once

#include "kplx/meter_session.h"
#include "kplx/platform/terminal.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kplx {

enum class ProgressMode { live, plain, none };

// Where the progress goes: the terminal's size as it is now, stdout and stderr.
struct ProgressOutput {
    std::function<platform::TerminalSize()> size = platform::terminalSize;
    std::FILE *out = stdout;
    std::FILE *err = stderr;
};

class ProgressDisplay {
public:
    ProgressDisplay(ProgressMode mode, uint32_t blocks, ProgressOutput output = ProgressOutput());

    void add(const std::string &serial, const MeterProgress &progress);   // serial as shown
    void remove(const MeterProgress &progress);   // its line goes (the station, once it is reported)
    // A last live line below the meters' (the station's idle line); "" for none. Terminal only.
    void status(const std::string &text);
    void update();                                    // at most ten times a second
    void message(const std::string &text, bool error);   // a whole line, stdout or stderr
    void finish();                                    // the last redraw; lines stay on screen

    // One live line, for a meter `elapsed` seconds into its load and `attemptElapsed` into
    // its current attempt (which the rate and the time left are reckoned from).
    static std::string line(const std::string &serial, uint32_t sent, uint32_t total, double elapsed,
                            double attemptElapsed, int width);

    // The one line for all meters: "8 meters: 3 done, 4 loading 41-67 %, 1 waiting  00:12".
    // Waiting: no block acknowledged yet in the current attempt.
    struct Glance {
        bool done;
        uint32_t sent;
    };
    static std::string compactLine(const std::vector<Glance> &meters, uint32_t total, double elapsed);

private:
    using Clock = std::chrono::steady_clock;
    struct Meter {
        std::string serial;
        const MeterProgress *progress;
        uint32_t lastDecile = 0;
        uint32_t attempt = 1;
        Clock::time_point added;   // its elapsed time counts from here (the station adds meters as they come)
        Clock::time_point attemptStart;
        Clock::time_point end;   // when it was seen done; its line stands still from then on
        bool ended = false;
        bool queued = false;     // last seen waiting for a --jobs slot
    };

    void observe(Meter &m, Clock::time_point now);   // a new attempt, or the end
    void drawLive();
    void eraseLive();                     // back to where the live lines began, and clear from there
    int rowsDrawn(int columns) const;     // the rows the live lines take at that width
    int usableColumns() const;
    void printDeciles();

    ProgressMode mode_;
    uint32_t blocks_;
    ProgressOutput output_;
    std::vector<Meter> meters_;
    Clock::time_point start_ = Clock::now();
    std::vector<size_t> drawn_;   // the length of each live line on screen
    int serialWidth_ = 8;
    std::string status_;
};

}  // namespace kplx
