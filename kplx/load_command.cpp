#include "kplx/load_command.h"

#include "core/replies.h"
#include "core/steps.h"
#include "kplx/database_file.h"
#include "kplx/device_text.h"
#include "kplx/exit_codes.h"
#include "kplx/platform/interrupt.h"
#include "kplx/platform/terminal.h"
#include "kplx/platform/threads.h"
#include "kplx/progress.h"
#include "kplx/report_json.h"
#include "kplx/selection.h"
#include "link/link.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

namespace kplx {

namespace {

constexpr unsigned kRedrawMs = 100;   // ten redraws a second at most

// Messages from the meters' threads, written out by the main thread.
class Notices {
public:
    void push(std::string text)
    {
        platform::Locked hold(mutex_);
        queue_.push_back(std::move(text));
    }
    std::vector<std::string> take()
    {
        platform::Locked hold(mutex_);
        std::vector<std::string> out;
        out.swap(queue_);
        return out;
    }

private:
    platform::Mutex mutex_;
    std::vector<std::string> queue_;
};

struct Job {
    ChosenMeter meter;
    MeterProgress progress;
    MeterReport report;
    bool failedStopping = false;   // its frame in flight failed after the stop was asked for
};

// A stop that cost a meter its load makes the run an interrupted one, whatever else failed.
int overallExitCode(const std::vector<MeterReport> &reports, bool failedStopping)
{
    for (const MeterReport &r : reports)
        if (r.outcome == Outcome::interrupted || failedStopping)
            return kExitInterrupted;
    if (reports.size() == 1)
        return exitCodeOf(reports.front().outcome);
    for (const MeterReport &r : reports)
        if (r.outcome != Outcome::ok)
            return kExitSomeFailed;
    return kExitOk;
}

// What the first stop says, while meters are loading.
std::string stoppingLine()
{
    const std::string frame = "finishing the frame in flight (at most " +
                              std::to_string(core::ReplyWait::kMaxEmptyReads * core::kTransferReadTimeoutMs / 1000) + " s)";
    switch (platform::stopCause()) {
    case platform::StopCause::terminate: return "stopping on SIGTERM: " + frame;
    case platform::StopCause::hangup: return "stopping on SIGHUP: " + frame;
    case platform::StopCause::consoleClosed: return "stopping, the console is closing: " + frame;
    case platform::StopCause::interrupt:
    case platform::StopCause::none: break;
    }
    return "stopping: " + frame + "; press Ctrl-C again to abandon it";
}

class LoadRun {
public:
    explicit LoadRun(const LoadOptions &o) : o_(o) { summary_.file = o.file; }

    int run()
    {
        DatabaseFile file = readDatabaseFile(o_.file, o_.raw);
        if (!file.ok())
            return fail(kExitFile, file.error);
        summary_.fileRead = true;
        summary_.databaseBytes = file.view.size;
        summary_.blocks = file.view.dataFrames();
        if (stopRequested_())
            return fail(kExitInterrupted, "interrupted before any device was opened");

        std::string error;
        std::unique_ptr<link::Backend> backend = link::openBackend(error);
        if (!backend)
            return fail(kExitPort, error);

        Selection selection = selectMeters(*backend, o_.serials, o_.all);
        if (selection.exitCode != 0)
            return fail(selection.exitCode, selection.error);
        for (const std::string &note : selection.notes)
            say(note);

        std::vector<MeterReport> reports = selection.refused;
        if (stopRequested_()) {
            // Chosen but not a frame sent: each is closed as it is reported.
            for (ChosenMeter &m : selection.meters) {
                m.link.reset();
                reports.push_back(interruptedBeforeTransfer(m.serial));
            }
            return finish(reports);
        }
        std::vector<MeterReport> loaded = loadAll(std::move(selection.meters), file.view);
        reports.insert(reports.end(), loaded.begin(), loaded.end());
        return finish(reports);
    }

private:
    static MeterReport interruptedBeforeTransfer(const std::string &serial)
    {
        MeterReport r;
        r.serial = serial;
        r.outcome = Outcome::interrupted;
        r.message = "interrupted before the transfer began";
        return r;
    }

    std::vector<MeterReport> loadAll(std::vector<ChosenMeter> meters, const core::DatabaseView &database)
    {
        ProgressMode mode = o_.json || o_.quiet ? ProgressMode::none
                            : platform::stdoutIsLiveTerminal() ? ProgressMode::live : ProgressMode::plain;
        ProgressDisplay display(mode, static_cast<uint32_t>(database.dataFrames()));
        std::vector<std::unique_ptr<Job>> jobs;
        for (ChosenMeter &m : meters) {
            jobs.push_back(std::make_unique<Job>());
            jobs.back()->meter = std::move(m);
            display.add(shownText(jobs.back()->meter.serial), jobs.back()->progress);
        }

        // The meters read the stop where the signal handlers set it, so that none is a redraw late.
        const StopRequest stop{platform::stopFlag(), platform::abandonFlag()};
        Notices notices;
        std::vector<std::unique_ptr<platform::Thread>> threads;
        for (auto &job : jobs) {
            Job *j = job.get();
            threads.push_back(std::make_unique<platform::Thread>([&, j] {
                j->report = loadMeter(*j->meter.link, j->meter.serial, database, o_.session, j->progress, stop,
                                      [&, j](const std::string &text) { notices.push(shownText(j->meter.serial) + ": " + text); });
                j->failedStopping = j->report.outcome != Outcome::ok && stop.stop;
                j->meter.link.reset();   // the port is closed as soon as this meter is done
            }));
        }

        bool toldStopping = false, toldAbandoning = false;
        for (;;) {
            bool running = false;
            for (auto &job : jobs)
                running |= !job->progress.done;
            if (!toldStopping && platform::interrupted()) {
                toldStopping = true;
                display.message("kplx: " + stoppingLine(), true);
            }
            if (!toldAbandoning && platform::abandoning()) {
                toldAbandoning = true;
                display.message("kplx: abandoning the frame in flight; putting the bridges back and closing the ports", true);
            }
            for (const std::string &text : notices.take())
                display.message("kplx: " + text, true);
            display.update();
            if (!running)
                break;
            platform::sleepMs(kRedrawMs);
        }
        threads.clear();   // joins
        display.finish();

        std::vector<MeterReport> reports;
        for (auto &job : jobs) {
            reports.push_back(job->report);
            failedStopping_ |= job->failedStopping;
        }
        return reports;
    }

    int finish(const std::vector<MeterReport> &reports)
    {
        int failed = 0;
        for (const MeterReport &r : reports) {
            if (r.outcome == Outcome::ok) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
                say(shownText(r.serial) + ": " + r.message + ", " + seconds + " s" + earlierAttempts(r));
            } else {
                ++failed;
                complain(shownText(r.serial) + ": " + r.message + earlierAttempts(r));
            }
        }
        if (reports.size() > 1)
            say(std::to_string(reports.size() - failed) + " of " + std::to_string(reports.size()) + " meters loaded");
        summary_.meters = reports;
        summary_.exitCode = overallExitCode(reports, failedStopping_);
        if (o_.json)
            std::printf("%s\n", loadJson(summary_).c_str());
        return summary_.exitCode;
    }

    int fail(int code, const std::string &error)
    {
        complain(error);
        summary_.exitCode = code;
        summary_.error = error;
        if (o_.json)
            std::printf("%s\n", loadJson(summary_).c_str());
        return code;
    }

    void say(const std::string &text) const
    {
        if (!o_.quiet && !o_.json)
            std::printf("%s\n", text.c_str());
    }

    static void complain(const std::string &text)
    {
        std::fflush(stdout);
        std::fprintf(stderr, "kplx: %s\n", text.c_str());
    }

    const LoadOptions &o_;
    LoadSummary summary_;
    // Whether to stop before touching more devices.
    std::function<bool()> stopRequested_ = platform::interrupted;
    bool failedStopping_ = false;
};

}  // namespace

int runLoad(const LoadOptions &options)
{
    return LoadRun(options).run();
}

}  // namespace kplx
