#include "kplx/progress.h"

#include <cstdio>

namespace kplx {

namespace {

constexpr int kBarWidth = 24;

std::string clock(double seconds)
{
    if (seconds < 0)
        seconds = 0;
    long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%02ld:%02ld", s / 60, s % 60);
    return text;
}

std::string rate(double bytesPerSecond)
{
    char text[24];
    if (bytesPerSecond >= 1000)
        std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1000);
    else
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
}

// The rows a line of `length` characters takes at `columns`. Most terminals (VTE, Konsole,
// Windows Terminal, tmux) rewrap what is on screen when they are made narrower, so a line
// drawn to fit may take several rows after a resize; counting them keeps a redraw from
// leaving the top of the old lines behind.
int rowsOf(size_t length, int columns)
{
    const size_t c = static_cast<size_t>(columns);
    return length == 0 ? 1 : static_cast<int>((length + c - 1) / c);
}

std::string cursorUp(int rows)
{
    return rows > 0 ? "\x1b[" + std::to_string(rows) + "A" : "";
}

}  // namespace

ProgressDisplay::ProgressDisplay(ProgressMode mode, uint32_t blocks, ProgressOutput output)
    : mode_(mode), blocks_(blocks), output_(std::move(output))
{
}

void ProgressDisplay::add(const std::string &serial, const MeterProgress &progress)
{
    Meter m;
    m.serial = serial;
    m.progress = &progress;
    m.added = Clock::now();
    m.attemptStart = m.added;
    meters_.push_back(m);
    if (static_cast<int>(serial.size()) > serialWidth_)
        serialWidth_ = static_cast<int>(serial.size());
}

void ProgressDisplay::remove(const MeterProgress &progress)
{
    for (auto it = meters_.begin(); it != meters_.end(); ++it) {
        if (it->progress == &progress) {
            meters_.erase(it);
            return;
        }
    }
}

void ProgressDisplay::status(const std::string &text)
{
    status_ = text;
}

std::string ProgressDisplay::line(const std::string &serial, uint32_t sent, uint32_t total, double elapsed,
                                  double attemptElapsed, int width)
{
    if (total == 0)
        total = 1;
    if (sent > total)
        sent = total;
    int filled = static_cast<int>(uint64_t{sent} * kBarWidth / total);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '-');
    double bytesPerSecond = attemptElapsed > 0 ? sent * 128.0 / attemptElapsed : 0;
    std::string left = sent == 0 || bytesPerSecond <= 0 ? "--:--" : clock((total - sent) * 128.0 / bytesPerSecond);
    const int digits = static_cast<int>(std::to_string(total).size());
    char text[256];
    std::snprintf(text, sizeof text, "%-*s [%s] %*u/%u %3u%%  %s  %s  %s left", width, serial.c_str(), bar.c_str(),
                  digits, sent, total, static_cast<unsigned>(uint64_t{sent} * 100 / total), clock(elapsed).c_str(),
                  rate(bytesPerSecond).c_str(), left.c_str());
    return text;
}

void ProgressDisplay::observe(Meter &m, Clock::time_point now)
{
    uint32_t attempt = m.progress->attempt;
    if (attempt != m.attempt) {   // a new attempt counts from the start again
        m.attempt = attempt;
        m.attemptStart = now;
        m.lastDecile = 0;
    }
    const bool queued = m.progress->queued;
    if (m.queued && !queued)   // its transfer begins now: its rate counts from here
        m.attemptStart = now;
    m.queued = queued;
    if (!m.ended && m.progress->done) {
        m.ended = true;
        m.end = now;
    }
}

std::string ProgressDisplay::compactLine(const std::vector<Glance> &meters, uint32_t total, double elapsed)
{
    if (total == 0)
        total = 1;
    size_t done = 0, loading = 0, waiting = 0;
    uint32_t lowest = 100, highest = 0;
    for (const Glance &g : meters) {
        if (g.done) {
            ++done;
        } else if (g.sent == 0) {
            ++waiting;
        } else {
            ++loading;
            const uint32_t percent = static_cast<uint32_t>(uint64_t{g.sent < total ? g.sent : total} * 100 / total);
            lowest = percent < lowest ? percent : lowest;
            highest = percent > highest ? percent : highest;
        }
    }
    std::string text = std::to_string(meters.size()) + " meters:";
    std::string sep = " ";
    if (done) {
        text += sep + std::to_string(done) + " done";
        sep = ", ";
    }
    if (loading) {
        text += sep + std::to_string(loading) + " loading " + std::to_string(lowest) +
                (highest != lowest ? "-" + std::to_string(highest) : "") + " %";
        sep = ", ";
    }
    if (waiting)
        text += sep + std::to_string(waiting) + " waiting";
    return text + "  " + clock(elapsed);
}

int ProgressDisplay::rowsDrawn(int columns) const
{
    int rows = 0;
    for (size_t length : drawn_)
        rows += rowsOf(length, columns);
    return rows;
}

void ProgressDisplay::eraseLive()
{
    std::fputs((cursorUp(rowsDrawn(usableColumns())) + "\r\x1b[J").c_str(), output_.out);
    drawn_.clear();
}

int ProgressDisplay::usableColumns() const
{
    const int columns = output_.size().columns;
    return columns > 1 ? columns : 2;
}

void ProgressDisplay::drawLive()
{
    const platform::TerminalSize size = output_.size();
    const int columns = size.columns > 1 ? size.columns : 2;
    const Clock::time_point now = Clock::now();
    std::vector<std::string> lines;
    std::vector<Glance> glances;
    for (Meter &m : meters_) {
        observe(m, now);
        const Clock::time_point at = m.ended ? m.end : now;
        double elapsed = std::chrono::duration<double>(at - m.added).count();
        double attemptElapsed = std::chrono::duration<double>(at - m.attemptStart).count();
        if (m.queued && !m.ended)
            lines.push_back(m.serial + std::string(static_cast<size_t>(serialWidth_) > m.serial.size()
                                                       ? static_cast<size_t>(serialWidth_) - m.serial.size() : 0, ' ') +
                            " waiting for a transfer slot (--jobs)");
        else
            lines.push_back(line(m.serial, m.progress->blocksSent, blocks_, elapsed, attemptElapsed, serialWidth_));
        glances.push_back({m.ended, m.progress->blocksSent});
    }
    // The cursor's line sits below the meters' lines; were they more than the rows above it,
    // the top ones would scroll away where no redraw can reach them.
    const size_t statusRows = status_.empty() ? 0 : 1;
    if (lines.size() + statusRows + 1 > static_cast<size_t>(size.rows > 1 ? size.rows : 1))
        lines = {compactLine(glances, blocks_, std::chrono::duration<double>(now - start_).count())};
    if (glances.empty())
        lines.clear();
    if (!status_.empty())
        lines.push_back(status_);

    // Over the old lines, as many rows as they take now; each new line stops short of the last
    // column, where some terminals wrap at once. Whatever of the old is left below goes.
    std::string frame = cursorUp(rowsDrawn(columns));
    drawn_.clear();
    for (const std::string &text : lines) {
        const std::string shown = text.substr(0, static_cast<size_t>(columns - 1));
        frame += "\r" + shown + "\x1b[K\n";
        drawn_.push_back(shown.size());
    }
    // From the first column even with no line drawn: a terminal that echoed ^C has moved it.
    frame += "\r\x1b[J";
    std::fputs(frame.c_str(), output_.out);
    std::fflush(output_.out);
}

void ProgressDisplay::printDeciles()
{
    const Clock::time_point now = Clock::now();
    for (Meter &m : meters_) {
        observe(m, now);
        uint32_t sent = m.progress->blocksSent;
        uint32_t decile = blocks_ ? static_cast<uint32_t>(uint64_t{sent} * 10 / blocks_) : 0;
        // Every 10 % gets its line, however many were passed since the last look.
        while (m.lastDecile < decile) {
            m.lastDecile += 1;
            uint32_t at = static_cast<uint32_t>((uint64_t{blocks_} * m.lastDecile + 9) / 10);
            std::fprintf(output_.out, "%s: %3u%% (%u of %u blocks)\n", m.serial.c_str(), m.lastDecile * 10, at, blocks_);
        }
    }
    std::fflush(output_.out);
}

void ProgressDisplay::update()
{
    if (mode_ == ProgressMode::live)
        drawLive();
    else if (mode_ == ProgressMode::plain)
        printDeciles();
}

void ProgressDisplay::message(const std::string &text, bool error)
{
    if (mode_ == ProgressMode::live && !drawn_.empty()) {
        // Up over the live lines and clear them; they are drawn again below the message.
        eraseLive();
        std::fflush(output_.out);
    }
    std::FILE *to = error ? output_.err : output_.out;
    std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
    if (mode_ == ProgressMode::live && (!meters_.empty() || !status_.empty()))
        drawLive();
}

void ProgressDisplay::finish()
{
    update();
    mode_ = ProgressMode::none;   // what follows is written below the last lines drawn
}

}  // namespace kplx
