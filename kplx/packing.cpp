#include "kplx/packing.h"

#include "core/database.h"
#include "kplx/exit_codes.h"
#include "kplx/input_file.h"
#include "kplx/output_file.h"
#include "kplx/platform/interrupt.h"
#include "kplx/platform/sha256.h"
#include "kplx/windows_executable.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

namespace kplx {

namespace {

namespace fs = std::filesystem;

struct Failure {
    int code = kExitOk;
    std::string message;
    explicit operator bool() const { return code != kExitOk; }
};

Failure failure(int code, std::string message) { return Failure{code, std::move(message)}; }

std::string inQuotes(const fs::path &p) { return "'" + p.string() + "'"; }

// The temporary file goes with the failure; the output is left as it was.
Failure interruptedWriting(const std::string &output)
{
    return failure(kExitInterrupted, "interrupted; " + inQuotes(output) + " not written");
}

Failure opened(const InputFile &file)
{
    if (!file.ok())
        return failure(kExitFile, file.error());
    return {};
}

Failure readTrailer(InputFile &file, core::Trailer &trailer)
{
    const uint64_t size = file.size();
    const size_t tailLength = size < core::kTrailerSize ? static_cast<size_t>(size) : core::kTrailerSize;
    uint8_t tail[core::kTrailerSize] = {};
    if (!file.readAt(size - tailLength, tail, tailLength))
        return failure(kExitFile, file.error());
    trailer = core::parseTrailer(tail, tailLength, size);
    return {};
}

// Copies exactly `count` bytes: an input that shrank while it was read is an error.
Failure copyBytes(InputFile &from, uint64_t count, OutputFile &to, const std::string &output)
{
    std::vector<uint8_t> buffer(64 * 1024);
    for (uint64_t at = 0; at < count;) {
        if (platform::interrupted())
            return interruptedWriting(output);
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(count - at, buffer.size()));
        if (!from.readAt(at, buffer.data(), chunk))
            return failure(kExitFile, from.error());
        if (!to.write(buffer.data(), chunk))
            return failure(kExitFile, to.error());
        at += chunk;
    }
    return {};
}

bool sameFile(const fs::path &a, const fs::path &b)
{
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

// The utility must be a Windows program; when it is not and the database is, the two were
// given the wrong way round.
Failure checkPrograms(InputFile &utility, InputFile &database)
{
    const ExecutableCheck u = checkWindowsExecutable(utility);
    if (u.verdict == ExecutableCheck::Verdict::unreadable)
        return failure(kExitFile, u.found);
    const ExecutableCheck d = checkWindowsExecutable(database);
    if (d.verdict == ExecutableCheck::Verdict::unreadable)
        return failure(kExitFile, d.found);
    if (!u.isWindowsProgram())
        return failure(kExitFile, utility.shown() + " is not a Windows program: " + u.found +
                                      (d.isWindowsProgram() ? "; " + database.shown() +
                                                                  " is one: are they swapped? (kplx pack UTILITY DATABASE -o OUT)"
                                                            : ""));
    if (d.isWindowsProgram())
        return failure(kExitFile, database.shown() + " is a Windows program, not a database (kplx pack UTILITY DATABASE -o OUT)");
    return {};
}

// How much of the utility to keep: all of it, or what lies before the database it carries.
Failure utilityPart(const PackRequest &r, InputFile &utility, uint64_t &keep)
{
    const uint64_t utilitySize = utility.size();
    keep = utilitySize;
    core::Trailer old;
    if (Failure f = readTrailer(utility, old))
        return f;
    if (old.status == core::TrailerStatus::found) {
        if (!r.replace)
            return failure(kExitFile, inQuotes(r.utility) + " already carries a database of " + std::to_string(old.size) +
                                          " bytes; use --replace to swap it");
        keep = old.offset;
    } else if (old.status == core::TrailerStatus::tooSmall || old.status == core::TrailerStatus::tooLarge) {
        const bool removable = uint64_t{old.size} + core::kTrailerSize <= utilitySize;
        if (!r.replace || !removable)
            return failure(kExitFile, inQuotes(r.utility) + " ends with a damaged trailer (" + core::describe(old.status) +
                                          (removable ? "); use --replace to drop it" : ")"));
        keep = utilitySize - core::kTrailerSize - old.size;
    }
    if (keep > kMaxUtilityBytes)
        return failure(kExitFile, utility.shown() + " has " + std::to_string(keep) + " bytes of program, more than a utility has (at most " +
                                      std::to_string(kMaxUtilityBytes) + ")");
    return {};
}

// Sizes are checked before anything is read.
Failure checkSizes(const InputFile &utility, const InputFile &database)
{
    const uint64_t databaseSize = database.size();
    if (databaseSize < core::kMinDatabaseSize)
        return failure(kExitFile, database.shown() + " has " + std::to_string(databaseSize) +
                                      " bytes; a meter needs at least 128");
    if (!core::fitsTrailer(databaseSize))
        return failure(kExitFile, database.shown() + " has " + std::to_string(databaseSize) +
                                      " bytes; the trailer holds at most " + std::to_string(kMaxDatabaseBytes));
    if (utility.size() > kMaxPackedBytes)
        return failure(kExitFile, tooLargeToBePacked(utility.shown(), utility.size()));
    return {};
}

Failure write(const PackRequest &r, InputFile &utility, uint64_t keep, InputFile &database)
{
    OutputFile out(r.output, inQuotes(r.output));
    if (!out.create(utility.permissions()))
        return failure(kExitFile, out.error());
    if (Failure f = copyBytes(utility, keep, out, r.output))
        return f;
    if (Failure f = copyBytes(database, database.size(), out, r.output))
        return f;
    const auto trailer = core::makeTrailer(static_cast<uint32_t>(database.size()));
    if (!out.write(trailer.data(), trailer.size()))
        return failure(kExitFile, out.error());
    // The last moment a stop can still leave the output as it was: on disk, not yet renamed.
    if (!out.commit([] { return !platform::interrupted(); }))
        return platform::interrupted() ? interruptedWriting(r.output) : failure(kExitFile, out.error());
    return {};
}

Failure pack(const PackRequest &r)
{
    InputFile utility(r.utility, "utility " + inQuotes(r.utility));
    if (Failure f = opened(utility))
        return f;
    InputFile database(r.database, "database " + inQuotes(r.database));
    if (Failure f = opened(database))
        return f;
    if (sameFile(r.output, r.utility) || sameFile(r.output, r.database))
        return failure(kExitUsage, "output " + inQuotes(r.output) + " is one of the inputs; write elsewhere");
    if (Failure f = checkSizes(utility, database))
        return f;
    if (Failure f = checkPrograms(utility, database))
        return f;
    uint64_t keep = 0;
    if (Failure f = utilityPart(r, utility, keep))
        return f;
    if (Failure f = write(r, utility, keep, database))
        return f;

    std::cout << "kplx: wrote " << r.output << ": " << keep << " bytes of utility, " << database.size()
              << " bytes of database, " << core::kTrailerSize << "-byte trailer\n";
    return {};
}

Failure info(const fs::path &path)
{
    InputFile file(path.string(), inQuotes(path));
    if (Failure f = opened(file))
        return f;
    const uint64_t size = file.size();
    if (size > kMaxPackedBytes)
        return failure(kExitFile, tooLargeToBePacked(file.shown(), size));
    core::Trailer t;
    if (Failure f = readTrailer(file, t))
        return f;
    if (t.status != core::TrailerStatus::found) {
        std::string detail = core::describe(t.status);
        if (t.status == core::TrailerStatus::tooSmall || t.status == core::TrailerStatus::tooLarge)
            detail += ": N = " + std::to_string(t.size) + ", file has " + std::to_string(size) + " bytes";
        return failure(kExitFile, file.shown() + " carries no database: " + detail);
    }
    platform::Sha256 digest;
    std::vector<uint8_t> buffer(64 * 1024);
    for (uint64_t at = 0; at < t.size;) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(t.size - at, buffer.size()));
        if (!file.readAt(t.offset + at, buffer.data(), chunk))
            return failure(kExitFile, file.error());
        digest.update(buffer.data(), chunk);
        at += chunk;
    }
    std::cout << "file: " << path.string() << "\n"
              << "database size: " << t.size << " bytes\n"
              << "database sha256: " << digest.hex() << "\n"
              << "block count: " << t.blockCount << " (N >> 7)\n"
              << "frames sent: " << t.frameCount << "\n"
              << "offset: " << t.offset << "\n";
    return {};
}

int report(const Failure &f)
{
    if (f)
        std::cerr << "kplx: " << f.message << "\n";
    return f.code;
}

}  // namespace

int runPack(const PackRequest &request) { return report(pack(request)); }
int runInfo(const std::string &file) { return report(info(file)); }

}  // namespace kplx
