#include "kplx/load_command.h"

#include "core/replies.h"
#include "core/steps.h"
#include "kplx/database_file.h"
#include "kplx/device_text.h"
#include "kplx/exit_codes.h"
#include "kplx/load_log.h"
#include "kplx/load_setup.h"
#include "kplx/meter_job.h"
#include "kplx/platform/interrupt.h"
#include "kplx/platform/terminal.h"
#include "kplx/platform/threads.h"
#include "kplx/progress.h"
#include "kplx/report_json.h"
#include "kplx/station_command.h"
#include "kplx/station_plan.h"
#include "link/link.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

namespace kplx {

namespace {

constexpr unsigned kRedrawMs = 100;    // ten redraws a second at most
constexpr unsigned kWaitPollMs = 200;  // --wait looks at the device list this often

struct Job {
    ChosenMeter meter;
    MeterProgress progress;
    MeterReport report;
    bool failedStopping = false;   // its frame in flight failed after the stop was asked for
    bool logged = false;
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
        if (!succeeded(r.outcome))
            return kExitSomeFailed;
    return kExitOk;
}

class LoadRun {
public:
    explicit LoadRun(const LoadOptions &o) : o_(o), out_(o) { summary_.file = o.file; }

    int run()
    {
        DatabaseFile file;
        std::string error;
        if (!openInputs(o_, file, summary_, out_, error))
            return fail(kExitFile, error);
        if (stopRequested_())
            return fail(kExitInterrupted, "interrupted before any device was opened");

        std::unique_ptr<link::Backend> backend = link::openBackend(error);
        if (!backend)
            return fail(kExitPort, error);
        if (!o_.selection.ports.empty() && !backend->knowsLocations())
            return fail(kExitPort, "-p needs the devices' USB locations, which " + backend->locationsMissing());
        if (o_.waitSeconds > 0) {
            int code = waitForSelection(*backend);
            if (code != kExitOk)
                return code;
        }

        Selection selection = selectMeters(*backend, o_.selection, stopRequested_);
        if (selection.exitCode != 0)
            return fail(selection.exitCode, selection.error);
        for (const std::string &note : selection.notes)
            out_.say(note);
        if (o_.expect > 0 && selection.meters.size() < o_.expect)
            return fewerThanExpected(selection);

        std::vector<MeterReport> reports = selection.refused;
        for (const MeterReport &r : reports)
            out_.log(r);
        if (stopRequested_()) {
            // Chosen but not a frame sent: each is closed as it is reported.
            for (ChosenMeter &m : selection.meters) {
                m.link.reset();
                reports.push_back(interruptedBeforeTransfer(m));
                out_.log(reports.back());
            }
            return finish(reports);
        }
        std::vector<MeterReport> loaded = loadAll(std::move(selection.meters), file.view);
        reports.insert(reports.end(), loaded.begin(), loaded.end());
        return finish(reports);
    }

private:
    // --wait: until what the selection names is plugged in, judged without opening anything.
    int waitForSelection(link::Backend &backend)
    {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long>(o_.waitSeconds * 1000));
        bool told = false;
        std::string missing, problem;
        std::vector<std::string> lastKeys;
        for (;;) {
            std::vector<link::DeviceInfo> devices;
            std::vector<std::string> keys;
            if (backend.enumerate(devices) == link::Status::ok) {
                missing = missingFor(devices, o_.selection, o_.expect);
                problem.clear();
                for (const link::DeviceInfo &d : devices)
                    keys.push_back(StationPlan::plugInKey(d));
            } else {
                problem = "cannot list the devices: " + backend.detail();
            }
            // Satisfied by two listings alike, as the station judges a new device settled.
            if (missing.empty() && problem.empty()) {
                if (keys == lastKeys || Clock::now() >= deadline)
                    return kExitOk;
                lastKeys = std::move(keys);
                platform::sleepMs(kSettleMs);
                continue;
            }
            lastKeys = std::move(keys);
            if (stopRequested_())
                return fail(kExitInterrupted, "interrupted while waiting for " + missing);
            if (Clock::now() >= deadline)
                return problem.empty() ? fail(kExitNoMeter, "waited " + seconds(o_.waitSeconds) + " s and still missing " + missing)
                                       : fail(kExitPort, problem);
            if (!told && problem.empty()) {
                told = true;
                out_.say("kplx: waiting up to " + seconds(o_.waitSeconds) + " s for " + missing);
            }
            platform::sleepMs(kWaitPollMs);
        }
    }

    int fewerThanExpected(Selection &selection)
    {
        const std::string found = std::to_string(selection.meters.size());
        selection.meters.clear();   // closes them, nothing sent
        for (const MeterReport &r : selection.refused)
            out_.complain(shownText(r.serial) + (r.serial.empty() ? "" : ": ") + r.message);
        return fail(kExitNoMeter, "found " + found + " meter" + (found == "1" ? "" : "s") + " that can be loaded, --expect " +
                                      std::to_string(o_.expect) + ": nothing loaded");
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

        JobSettings settings = jobSettings(o_);
        TransferSlots slots(o_.jobs);
        if (o_.jobs > 0)
            settings.slots = &slots;
        // The meters read the stop where the signal handlers set it, so that none is a redraw late.
        const StopRequest stop{platform::stopFlag(), platform::abandonFlag()};
        Notices notices;
        std::vector<std::unique_ptr<platform::Thread>> threads;
        for (auto &job : jobs) {
            Job *j = job.get();
            threads.push_back(std::make_unique<platform::Thread>([&, j] {
                j->report = runMeterJob(j->meter, database, settings, j->progress, stop,
                                        [&, j](const std::string &text) { notices.push(shownText(j->meter.serial) + ": " + text); });
                j->failedStopping = !succeeded(j->report.outcome) && stop.stop;
                j->meter.link.reset();   // the port is closed as soon as this meter is done
            }));
        }

        StopNotices stopNotices;
        for (;;) {
            bool running = false;
            for (auto &job : jobs) {
                running |= !job->progress.done;
                if (job->progress.done && !job->logged) {
                    // Written as each meter ends: what happened is on record at once.
                    job->logged = true;
                    threads[static_cast<size_t>(&job - &jobs[0])]->join();
                    out_.log(job->report);
                }
            }
            stopNotices.tell(display);
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
            if (succeeded(r.outcome))
                out_.say(resultLine(r));
            else {
                ++failed;
                out_.complain(resultLine(r));
            }
        }
        if (reports.size() > 1)
            out_.say(std::to_string(reports.size() - failed) + " of " + std::to_string(reports.size()) + " meters " +
                     (o_.dryRun ? "would be loaded" : "loaded"));
        summary_.meters = reports;
        summary_.exitCode = overallExitCode(reports, failedStopping_);
        if (summary_.exitCode == kExitOk && out_.logFailed())
            summary_.exitCode = kExitFile;
        if (o_.json)
            std::printf("%s\n", loadJson(summary_).c_str());
        return summary_.exitCode;
    }

    int fail(int code, const std::string &error) { return failRun(summary_, o_.json, code, error); }

    static std::string seconds(double s)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%g", s);
        return text;
    }

    const LoadOptions &o_;
    LoadOutputs out_;
    LoadSummary summary_;
    // Whether to stop before touching more devices.
    std::function<bool()> stopRequested_ = platform::interrupted;
    bool failedStopping_ = false;
};

}  // namespace

int runLoad(const LoadOptions &options)
{
    if (options.watch)
        return runStation(options);
    return LoadRun(options).run();
}

}  // namespace kplx
