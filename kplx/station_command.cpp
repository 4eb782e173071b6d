#include "kplx/station_command.h"

#include "kplx/database_file.h"
#include "kplx/device_text.h"
#include "kplx/exit_codes.h"
#include "kplx/load_setup.h"
#include "kplx/meter_job.h"
#include "kplx/platform/interrupt.h"
#include "kplx/platform/terminal.h"
#include "kplx/platform/threads.h"
#include "kplx/progress.h"
#include "kplx/report_json.h"
#include "kplx/selection.h"
#include "kplx/station_plan.h"
#include "link/device_watch.h"
#include "link/link.h"

#include <cstdio>
#include <memory>

namespace kplx {

namespace {

// A plug-in is noticed within this, at the latest (sooner where the system tells of it).
constexpr unsigned kLookMs = 200;

struct StationJob {
    link::DeviceInfo device;
    MeterProgress progress;
    MeterReport report;
    std::unique_ptr<platform::Thread> thread;
};

std::string where(const link::DeviceInfo &d)
{
    std::string name = d.serial.empty() ? "a device without a serial number" : shownText(d.serial);
    return d.location.empty() ? name : name + " at " + d.location;
}

class Station {
public:
    explicit Station(const LoadOptions &o) : o_(o), out_(o), plan_(o.selection) { summary_.file = o.file; }

    int run()
    {
        DatabaseFile file;
        std::string error;
        if (!openInputs(o_, file, summary_, out_, error))
            return fail(kExitFile, error);

        backend_ = link::openBackend(error);
        if (!backend_)
            return fail(kExitPort, error);
        if (!o_.selection.ports.empty() && !backend_->knowsLocations())
            return fail(kExitPort, "-p needs the devices' USB locations, which " + backend_->locationsMissing());
        watch_ = link::makeDeviceWatch(backend_->usbEvents());

        settings_ = jobSettings(o_);
        TransferSlots slots(o_.jobs);
        if (o_.jobs > 0)
            settings_.slots = &slots;
        const ProgressMode mode = o_.json || o_.quiet ? ProgressMode::none
                                  : platform::stdoutIsLiveTerminal() ? ProgressMode::live : ProgressMode::plain;
        ProgressDisplay display(mode, static_cast<uint32_t>(file.view.dataFrames()));
        if (mode != ProgressMode::live)
            out_.say("kplx: station: " + waitingFor() + "; Ctrl-C to stop");

        loop(display, file.view);
        display.status("");
        display.finish();
        return finish();
    }

private:
    void loop(ProgressDisplay &display, const core::DatabaseView &database)
    {
        const StopRequest stop{platform::stopFlag(), platform::abandonFlag()};
        StopNotices stopNotices;
        bool listingFailed = false;
        for (;;) {
            bool settling = false;
            reap(display);
            if (!jobs_.empty())
                stopNotices.tell(display);
            const bool enough = o_.count > 0 && started_ >= o_.count;
            if ((platform::interrupted() || enough || out_.logFailed()) && jobs_.empty())
                return;
            if (!platform::interrupted() && !enough && !out_.logFailed()) {
                std::vector<link::DeviceInfo> listing;
                if (backend_->enumerate(listing) == link::Status::ok) {
                    listingFailed = false;
                    const StationPlan::Changes changes = plan_.update(listing);
                    settling = changes.settling;
                    look(changes, display, database, stop);
                } else if (!listingFailed) {
                    listingFailed = true;   // said once; the station keeps looking
                    display.message("kplx: cannot list the devices: " + backend_->detail(), true);
                }
            }
            for (const std::string &text : notices_.take())
                display.message("kplx: " + text, true);
            display.status(jobs_.empty() && !platform::interrupted() ? idleLine() : "");
            display.update();
            watch_->wait(settling ? kSettleMs : kLookMs);
        }
    }

    void look(const StationPlan::Changes &changes, ProgressDisplay &display, const core::DatabaseView &database,
              const StopRequest &stop)
    {
        for (const link::DeviceInfo &d : changes.notMeters)
            say(display, where(d) + ": not a meter (description \"" + shownText(d.description) + "\"), left alone");
        for (const link::DeviceInfo &d : changes.notNamed)
            say(display, where(d) + ": not named with -s or -p, left alone");
        for (const link::DeviceInfo &d : changes.load) {
            if (o_.count > 0 && started_ >= o_.count)
                break;
            ++started_;
            jobs_.push_back(std::make_unique<StationJob>());
            StationJob *job = jobs_.back().get();
            job->device = d;
            display.add(where(d), job->progress);
            job->thread = std::make_unique<platform::Thread>([this, job, &database, stop] {
                job->report = loadOne(job->device, database, job->progress, stop);
            });
        }
    }

    // The same steps as a load: open, the EEPROM's verdict, claim and configure, then the job.
    MeterReport loadOne(const link::DeviceInfo &d, const core::DatabaseView &database, MeterProgress &progress,
                        const StopRequest &stop)
    {
        ChosenMeter meter{d.serial, d.location, nullptr};
        MeterReport refusal;
        if (openMeter(*backend_, d, meter.link, refusal, platform::interrupted) != Verdict::meter) {
            refusal.location = d.location;
            progress.done = true;
            return refusal;
        }
        MeterReport r = runMeterJob(meter, database, settings_, progress, stop,
                                    [this, &d](const std::string &text) { notices_.push(where(d) + ": " + text); });
        meter.link.reset();   // the port closes as soon as the meter is done
        return r;
    }

    // Finished loads: their result line, their log line, their place in the counts.
    void reap(ProgressDisplay &display)
    {
        for (auto it = jobs_.begin(); it != jobs_.end();) {
            StationJob &job = **it;
            if (!job.progress.done) {
                ++it;
                continue;
            }
            job.thread->join();
            display.remove(job.progress);
            out_.log(job.report);
            if (succeeded(job.report.outcome)) {
                say(display, resultLine(job.report, true));
            } else {
                ++failed_;
                display.message("kplx: " + resultLine(job.report, true), true);
            }
            interrupted_ |= job.report.outcome == Outcome::interrupted ||
                            (!succeeded(job.report.outcome) && platform::interrupted());
            reports_.push_back(job.report);
            it = jobs_.erase(it);
        }
    }

    void say(ProgressDisplay &display, const std::string &text) const
    {
        if (!o_.quiet && !o_.json)
            display.message(text, false);
    }

    std::string waitingFor() const
    {
        std::string what = "waiting for meters";
        std::string names;
        for (const std::string &s : o_.selection.serials)
            names += (names.empty() ? "" : ", ") + shownText(rawText(s));
        for (const std::string &p : o_.selection.ports)
            names += (names.empty() ? "" : ", ") + std::string("port ") + shownText(p);
        if (!names.empty())
            what += " (" + names + ")";
        if (o_.count > 0)
            what += ", " + std::to_string(o_.count) + " load" + (o_.count == 1 ? "" : "s");
        return what;
    }

    std::string idleLine() const
    {
        return "station: " + waitingFor() + "; " + std::to_string(reports_.size() - failed_) + " " +
               (o_.dryRun ? "would load" : "loaded") + ", " + std::to_string(failed_) + " failed; Ctrl-C to stop";
    }

    int finish()
    {
        out_.say("station: " + std::to_string(reports_.size()) + " load" + (reports_.size() == 1 ? "" : "s") + ", " +
                 std::to_string(failed_) + " failed");
        summary_.meters = reports_;
        summary_.exitCode = interrupted_ ? kExitInterrupted
                            : failed_ > 0 ? kExitSomeFailed
                            : out_.logFailed() ? kExitFile : kExitOk;
        if (o_.json)
            std::printf("%s\n", loadJson(summary_).c_str());
        return summary_.exitCode;
    }

    int fail(int code, const std::string &error) { return failRun(summary_, o_.json, code, error); }

    const LoadOptions &o_;
    LoadOutputs out_;
    StationPlan plan_;
    LoadSummary summary_;
    JobSettings settings_;
    std::unique_ptr<link::Backend> backend_;
    std::unique_ptr<link::DeviceWatch> watch_;
    std::vector<std::unique_ptr<StationJob>> jobs_;
    std::vector<MeterReport> reports_;
    Notices notices_;
    unsigned started_ = 0;
    size_t failed_ = 0;
    bool interrupted_ = false;
};

}  // namespace

int runStation(const LoadOptions &options)
{
    return Station(options).run();
}

}  // namespace kplx
