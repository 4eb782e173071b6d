#include "kplx/load_setup.h"

#include "core/replies.h"
#include "core/steps.h"
#include "kplx/device_text.h"
#include "kplx/platform/interrupt.h"
#include "kplx/platform/sha256.h"
#include "kplx/platform/station.h"

#include <cstdio>

#ifndef KPLX_VERSION
#define KPLX_VERSION "0.0.0"
#endif

namespace kplx {

std::string databaseSha256(const core::DatabaseView &database)
{
    return platform::sha256Hex(database.image + database.offset, database.size);
}

JobSettings jobSettings(const LoadOptions &o)
{
    JobSettings s;
    s.session = o.session;
    s.dryRun = o.dryRun;
    s.askVersion = !o.log.empty() || o.dryRun;
    return s;
}

bool openInputs(const LoadOptions &o, DatabaseFile &file, LoadSummary &summary, LoadOutputs &out, std::string &error)
{
    file = readDatabaseFile(o.file, o.raw);
    if (!file.ok()) {
        error = file.error;
        return false;
    }
    summary.fileRead = true;
    summary.databaseBytes = file.view.size;
    summary.blocks = file.view.dataFrames();
    summary.databaseSha256 = databaseSha256(file.view);
    summary.dryRun = o.dryRun;
    return out.openLog(summary, error);
}

int failRun(LoadSummary &summary, bool json, int code, const std::string &error)
{
    LoadOutputs::complain(error);
    summary.exitCode = code;
    summary.error = error;
    if (json)
        std::printf("%s\n", loadJson(summary).c_str());
    return code;
}

std::string resultLine(const MeterReport &r, bool withLocation)
{
    std::string name = r.serial.empty() ? "" : shownText(r.serial);
    if (withLocation && !r.location.empty())
        name += (name.empty() ? "" : " ") + std::string("at ") + r.location;
    std::string line = (name.empty() ? "" : name + ": ") + r.message;
    if (r.outcome == Outcome::ok) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, ", %.1f s", r.seconds);
        line += seconds;
    }
    return line + earlierAttempts(r);
}

bool LoadOutputs::openLog(const LoadSummary &summary, std::string &error)
{
    if (o_.log.empty())
        return true;
    context_.station = o_.station.empty() ? platform::hostName() : o_.station;
    context_.kplxVersion = KPLX_VERSION;
    context_.file = o_.file;
    context_.databaseBytes = summary.databaseBytes;
    context_.databaseSha256 = summary.databaseSha256;
    context_.dryRun = o_.dryRun;
    if (!log_.open(o_.log, error)) {
        error = "--log: " + error + "; nothing loaded";
        return false;
    }
    return true;
}

void LoadOutputs::log(const MeterReport &report)
{
    if (!log_.isOpen())
        return;
    std::string error;
    if (!log_.write(context_, report, error) && !logFailed_) {
        logFailed_ = true;
        complain("--log: " + error);
    }
}

void LoadOutputs::say(const std::string &text) const
{
    if (!o_.quiet && !o_.json)
        std::printf("%s\n", text.c_str());
}

void LoadOutputs::complain(const std::string &text)
{
    std::fflush(stdout);
    std::fprintf(stderr, "kplx: %s\n", text.c_str());
}

void Notices::push(std::string text)
{
    platform::Locked hold(mutex_);
    queue_.push_back(std::move(text));
}

std::vector<std::string> Notices::take()
{
    platform::Locked hold(mutex_);
    std::vector<std::string> out;
    out.swap(queue_);
    return out;
}

namespace {

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

}  // namespace

void StopNotices::tell(ProgressDisplay &display)
{
    if (!toldStopping_ && platform::interrupted()) {
        toldStopping_ = true;
        display.message("kplx: " + stoppingLine(), true);
    }
    if (!toldAbandoning_ && platform::abandoning()) {
        toldAbandoning_ = true;
        display.message("kplx: abandoning the frame in flight; putting the bridges back and closing the ports", true);
    }
}

}  // namespace kplx
