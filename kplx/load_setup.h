// What a load and the station share around the meters' jobs: the settings each job gets, where
// results are said (stdout, stderr, the log) and the lines they are said in.
#pragma once

#include "core/database.h"
#include "kplx/database_file.h"
#include "kplx/load_command.h"
#include "kplx/load_log.h"
#include "kplx/meter_job.h"
#include "kplx/platform/threads.h"
#include "kplx/progress.h"
#include "kplx/report_json.h"

#include <string>
#include <vector>

namespace kplx {

std::string databaseSha256(const core::DatabaseView &database);
JobSettings jobSettings(const LoadOptions &options);

class LoadOutputs;

// The start of a load and of a station: FILE read and described in the summary, the log
// opened. False, with `error`, when either cannot be had (exit 2).
bool openInputs(const LoadOptions &options, DatabaseFile &file, LoadSummary &summary, LoadOutputs &out,
                std::string &error);

// A run that ends before any meter: the error on stderr and, with --json, in the document.
int failRun(LoadSummary &summary, bool json, int code, const std::string &error);

// "KP000001: loaded 70085 bytes in 548 blocks, 7.7 s", naming earlier attempts; with the
// location, "KP000001 at 1-2.3: ...".
std::string resultLine(const MeterReport &report, bool withLocation = false);

// stdout and stderr as --quiet and --json allow, and the log.
class LoadOutputs {
public:
    explicit LoadOutputs(const LoadOptions &options) : o_(options) {}

    // Opens --log, if given, before anything is loaded; false with `error` when it cannot be.
    bool openLog(const LoadSummary &summary, std::string &error);
    void log(const MeterReport &report);    // a line for it; a failure is said once, on stderr
    bool logFailed() const { return logFailed_; }

    void say(const std::string &text) const;        // stdout, unless --quiet or --json
    static void complain(const std::string &text);  // stderr, always

private:
    const LoadOptions &o_;
    LoadLog log_;
    LogContext context_;
    bool logFailed_ = false;
};

// Messages from the meters' threads, written out by the main thread.
class Notices {
public:
    void push(std::string text);
    std::vector<std::string> take();

private:
    platform::Mutex mutex_;
    std::vector<std::string> queue_;
};

// Says once that a stop was asked for (and how long finishing can take), and once that the
// wait is being given up.
class StopNotices {
public:
    void tell(ProgressDisplay &display);

private:
    bool toldStopping_ = false, toldAbandoning_ = false;
};

}  // namespace kplx
