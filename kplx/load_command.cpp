#include "kplx/load_command.h"

#include "kplx/database_file.h"
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
};

int overallExitCode(const std::vector<MeterReport> &reports)
{
    for (const MeterReport &r : reports)
        if (r.outcome == Outcome::interrupted)
            return kExitInterrupted;
    if (reports.size() == 1)
        return exitCodeOf(reports.front().outcome);
    for (const MeterReport &r : reports)
        if (r.outcome != Outcome::ok)
            return kExitSomeFailed;
    return kExitOk;
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
        std::vector<MeterReport> loaded = loadAll(std::move(selection.meters), file.view);
        reports.insert(reports.end(), loaded.begin(), loaded.end());
        return finish(reports);
    }

private:
    std::vector<MeterReport> loadAll(std::vector<ChosenMeter> meters, const core::DatabaseView &database)
    {
        ProgressMode mode = o_.json || o_.quiet ? ProgressMode::none
                            : platform::stdoutIsLiveTerminal() ? ProgressMode::live : ProgressMode::plain;
        ProgressDisplay display(mode, static_cast<uint32_t>(database.dataFrames()));
        std::vector<std::unique_ptr<Job>> jobs;
        for (ChosenMeter &m : meters) {
            jobs.push_back(std::make_unique<Job>());
            jobs.back()->meter = std::move(m);
            display.add(jobs.back()->meter.serial, jobs.back()->progress);
        }

        std::atomic<bool> stop{false};
        Notices notices;
        std::vector<std::unique_ptr<platform::Thread>> threads;
        for (auto &job : jobs) {
            Job *j = job.get();
            threads.push_back(std::make_unique<platform::Thread>([&, j] {
                j->report = loadMeter(*j->meter.link, j->meter.serial, database, o_.session, j->progress, stop,
                                      [&, j](const std::string &text) { notices.push(j->meter.serial + ": " + text); });
                j->meter.link.reset();   // the port is closed as soon as this meter is done
            }));
        }

        for (;;) {
            bool running = false;
            for (auto &job : jobs)
                running |= !job->progress.done;
            if (platform::interrupted())
                stop = true;
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
        for (auto &job : jobs)
            reports.push_back(job->report);
        return reports;
    }

    int finish(const std::vector<MeterReport> &reports)
    {
        int failed = 0;
        for (const MeterReport &r : reports) {
            if (r.outcome == Outcome::ok) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
                say(r.serial + ": " + r.message + ", " + seconds + " s" +
                    (r.attempts > 1 ? " (attempt " + std::to_string(r.attempts) + ")" : ""));
            } else {
                ++failed;
                complain(r.serial + ": " + r.message);
            }
        }
        if (reports.size() > 1)
            say(std::to_string(reports.size() - failed) + " of " + std::to_string(reports.size()) + " meters loaded");
        summary_.meters = reports;
        summary_.exitCode = overallExitCode(reports);
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
};

}  // namespace

int runLoad(const LoadOptions &options)
{
    return LoadRun(options).run();
}

}  // namespace kplx
