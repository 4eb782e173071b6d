#include "kplx/packing.h"

#include "core/database.h"
#include "kplx/exit_codes.h"
#include "kplx/platform/interrupt.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

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
Failure interruptedWriting(const fs::path &output)
{
    return failure(kExitInterrupted, "interrupted; " + inQuotes(output) + " not written");
}

Failure regularFileSize(const fs::path &p, uint64_t &size)
{
    std::error_code ec;
    if (!fs::is_regular_file(p, ec))
        return failure(kExitFile, "cannot read " + inQuotes(p) + ": " + (fs::exists(p, ec) ? "not a regular file" : "no such file"));
    size = fs::file_size(p, ec);
    if (ec)
        return failure(kExitFile, "cannot read " + inQuotes(p) + ": " + ec.message());
    return {};
}

Failure readTrailer(const fs::path &p, uint64_t size, core::Trailer &trailer)
{
    std::ifstream in(p, std::ios::binary);
    const uint64_t tailLength = std::min<uint64_t>(size, core::kTrailerSize);
    uint8_t tail[core::kTrailerSize] = {};
    in.seekg(static_cast<std::streamoff>(size - tailLength));
    in.read(reinterpret_cast<char *>(tail), static_cast<std::streamsize>(tailLength));
    if (!in || static_cast<uint64_t>(in.gcount()) != tailLength)
        return failure(kExitFile, "cannot read the end of " + inQuotes(p));
    trailer = core::parseTrailer(tail, static_cast<size_t>(tailLength), size);
    return {};
}

// Copies exactly `count` bytes: an input that shrank while it was read is an error.
Failure copyBytes(const fs::path &from, std::ostream &out, const fs::path &to, uint64_t count)
{
    std::ifstream in(from, std::ios::binary);
    if (!in)
        return failure(kExitFile, "cannot open " + inQuotes(from));
    std::vector<char> buffer(64 * 1024);
    while (count > 0) {
        if (platform::interrupted())
            return interruptedWriting(to);
        const auto chunk = static_cast<std::streamsize>(std::min<uint64_t>(count, buffer.size()));
        in.read(buffer.data(), chunk);
        if (in.gcount() != chunk)
            return failure(kExitFile, "cannot read " + inQuotes(from) + ": file changed or truncated");
        out.write(buffer.data(), chunk);
        if (!out)
            return failure(kExitFile, "cannot write " + inQuotes(to));
        count -= static_cast<uint64_t>(chunk);
    }
    return {};
}

bool sameFile(const fs::path &a, const fs::path &b)
{
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

unsigned long processId()
{
#ifdef _WIN32
    return static_cast<unsigned long>(_getpid());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

Failure replaceFile(const fs::path &from, const fs::path &to)
{
#ifdef _WIN32
    // std::filesystem::rename has not always replaced an existing file on MinGW.
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return failure(kExitFile, "cannot rename the temporary file to " + inQuotes(to) + ": Windows error " +
                                      std::to_string(GetLastError()));
#else
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec)
        return failure(kExitFile, "cannot rename the temporary file to " + inQuotes(to) + ": " + ec.message());
#endif
    return {};
}

// Removed unless the rename went through.
class TemporaryFile {
public:
    explicit TemporaryFile(const fs::path &target)
        : path_(target.parent_path() / (target.filename().string() + ".kplx-" + std::to_string(processId()) + ".tmp"))
    {
    }
    ~TemporaryFile()
    {
        std::error_code ec;
        if (!committed_)
            fs::remove(path_, ec);
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    const fs::path &path() const { return path_; }
    Failure commitTo(const fs::path &target)
    {
        Failure f = replaceFile(path_, target);
        committed_ = !f;
        return f;
    }

private:
    fs::path path_;
    bool committed_ = false;
};

// How much of the utility to keep: all of it, or what lies before the database it carries.
Failure utilityPart(const PackRequest &r, uint64_t utilitySize, uint64_t &keep)
{
    keep = utilitySize;
    core::Trailer old;
    if (Failure f = readTrailer(r.utility, utilitySize, old))
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
    return {};
}

Failure pack(const PackRequest &r)
{
    uint64_t utilitySize = 0, databaseSize = 0;
    if (Failure f = regularFileSize(r.utility, utilitySize))
        return f;
    if (Failure f = regularFileSize(r.database, databaseSize))
        return f;
    if (sameFile(r.output, r.utility) || sameFile(r.output, r.database))
        return failure(kExitUsage, "output " + inQuotes(r.output) + " is one of the inputs; write elsewhere");
    if (databaseSize < core::kMinDatabaseSize)
        return failure(kExitFile, "database " + inQuotes(r.database) + " has " + std::to_string(databaseSize) +
                                      " bytes; a meter needs at least 128");
    if (!core::fitsTrailer(databaseSize))
        return failure(kExitFile, "database " + inQuotes(r.database) + " has " + std::to_string(databaseSize) +
                                      " bytes; the trailer holds at most 4294967295");
    uint64_t keep = 0;
    if (Failure f = utilityPart(r, utilitySize, keep))
        return f;

    TemporaryFile temporary(r.output);
    {
        std::ofstream out(temporary.path(), std::ios::binary | std::ios::trunc);
        if (!out)
            return failure(kExitFile, "cannot create " + inQuotes(temporary.path()));
        if (Failure f = copyBytes(r.utility, out, r.output, keep))
            return f;
        if (Failure f = copyBytes(r.database, out, r.output, databaseSize))
            return f;
        const auto trailer = core::makeTrailer(static_cast<uint32_t>(databaseSize));
        out.write(reinterpret_cast<const char *>(trailer.data()), static_cast<std::streamsize>(trailer.size()));
        out.close();
        if (!out)
            return failure(kExitFile, "cannot write " + inQuotes(temporary.path()));
    }
    // Keep the utility runnable where permissions matter, but never read-only.
    std::error_code ec;
    fs::permissions(temporary.path(), fs::status(r.utility, ec).permissions() | fs::perms::owner_write, ec);
    // The last moment a stop can still leave the output as it was.
    if (platform::interrupted())
        return interruptedWriting(r.output);
    if (Failure f = temporary.commitTo(r.output))
        return f;

    std::cout << "kplx: wrote " << r.output << ": " << keep << " bytes of utility, " << databaseSize
              << " bytes of database, " << core::kTrailerSize << "-byte trailer\n";
    return {};
}

Failure info(const fs::path &file)
{
    uint64_t size = 0;
    if (Failure f = regularFileSize(file, size))
        return f;
    core::Trailer t;
    if (Failure f = readTrailer(file, size, t))
        return f;
    if (t.status != core::TrailerStatus::found) {
        std::string detail = core::describe(t.status);
        if (t.status == core::TrailerStatus::tooSmall || t.status == core::TrailerStatus::tooLarge)
            detail += ": N = " + std::to_string(t.size) + ", file has " + std::to_string(size) + " bytes";
        return failure(kExitFile, inQuotes(file) + " carries no database: " + detail);
    }
    std::cout << "file: " << file.string() << "\n"
              << "database size: " << t.size << " bytes\n"
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
