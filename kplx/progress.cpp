#include "kplx/progress.h"

#include "kplx/platform/terminal.h"

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

}  // namespace

ProgressDisplay::ProgressDisplay(ProgressMode mode, uint32_t blocks) : mode_(mode), blocks_(blocks) {}

void ProgressDisplay::add(const std::string &serial, const MeterProgress &progress)
{
    Meter m;
    m.serial = serial;
    m.progress = &progress;
    m.attemptStart = start_;
    meters_.push_back(m);
    if (static_cast<int>(serial.size()) > serialWidth_)
        serialWidth_ = static_cast<int>(serial.size());
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
    if (!m.ended && m.progress->done) {
        m.ended = true;
        m.end = now;
    }
}

void ProgressDisplay::drawLive()
{
    if (drawnLines_ > 0)
        std::printf("\x1b[%uA", static_cast<unsigned>(drawnLines_));
    const Clock::time_point now = Clock::now();
    // A line that wrapped would take two rows, and the next redraw would start one too low.
    const size_t columns = static_cast<size_t>(platform::terminalColumns() > 1 ? platform::terminalColumns() - 1 : 1);
    for (Meter &m : meters_) {
        observe(m, now);
        const Clock::time_point at = m.ended ? m.end : now;
        double elapsed = std::chrono::duration<double>(at - start_).count();
        double attemptElapsed = std::chrono::duration<double>(at - m.attemptStart).count();
        std::string text = line(m.serial, m.progress->blocksSent, blocks_, elapsed, attemptElapsed, serialWidth_);
        std::printf("\r%s\x1b[K\n", text.substr(0, columns).c_str());
    }
    drawnLines_ = meters_.size();
    std::fflush(stdout);
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
            std::printf("%s: %3u%% (%u of %u blocks)\n", m.serial.c_str(), m.lastDecile * 10, at, blocks_);
        }
    }
    std::fflush(stdout);
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
    if (mode_ == ProgressMode::live && drawnLines_ > 0) {
        // Up over the live lines and clear them; they are drawn again below the message.
        std::printf("\x1b[%uA\r\x1b[J", static_cast<unsigned>(drawnLines_));
        std::fflush(stdout);
        drawnLines_ = 0;
    }
    std::FILE *to = error ? stderr : stdout;
    std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
    if (mode_ == ProgressMode::live && !meters_.empty())
        drawLive();
}

void ProgressDisplay::finish()
{
    update();
    mode_ = ProgressMode::none;   // what follows is written below the last lines drawn
}

}  // namespace kplx
