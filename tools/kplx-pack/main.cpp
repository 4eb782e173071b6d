// kplx-pack: appends a database and its trailer to a copy of the utility, or reports what a
// file already carries.
#include "kplx-pack/trailer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using namespace kplx::pack;

enum ExitCode : int {
    kOk = 0,
    kUsage = 1,
    kCannotRead = 2,
    kDatabaseTooSmall = 3,
    kDatabaseTooLarge = 4,
    kAlreadyPacked = 5,
    kCannotWrite = 6,
    kNoDatabase = 7,
    kOutputIsInput = 8,
    kDamagedTrailer = 9,
};

const char kUsageText[] =
    "usage: kplx-pack UTILITY.exe DATABASE -o OUT.exe [--replace]\n"
    "       kplx-pack --info FILE\n"
    "       kplx-pack --help\n"
    "\n"
    "Writes OUT.exe: a copy of UTILITY.exe, then DATABASE, then an 8-byte trailer\n"
    "(database size as uint32 little-endian, then \"DATA\"). OUT.exe is written beside\n"
    "itself under a temporary name and renamed into place; the inputs are only read.\n"
    "\n"
    "  -o, --output OUT  file to write; must not be UTILITY.exe or DATABASE\n"
    "  --replace         UTILITY.exe already carries a database: drop it, pack the new one\n"
    "  --info FILE       print the size, block count and offset of the database in FILE\n"
    "  -h, --help        print this help\n"
    "\n"
    "exit codes:\n"
    "  0  success\n"
    "  1  usage error\n"
    "  2  cannot read an input\n"
    "  3  database under 128 bytes\n"
    "  4  database too large for the 32-bit size in the trailer\n"
    "  5  UTILITY.exe already carries a database (see --replace)\n"
    "  6  cannot write the output\n"
    "  7  --info: FILE carries no database\n"
    "  8  output is one of the inputs\n"
    "  9  UTILITY.exe ends with a damaged trailer (--replace drops it if it fits the file)\n";

struct Failure {
    int code;
    std::string message;
};

[[noreturn]] void fail(int code, std::string message) { throw Failure{code, std::move(message)}; }

std::string quoted(const fs::path &p) { return "'" + p.string() + "'"; }

std::uint64_t regularFileSize(const fs::path &p) {
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) {
        fail(kCannotRead, "cannot read " + quoted(p) + ": " +
                              (fs::exists(p, ec) ? "not a regular file" : "no such file"));
    }
    const std::uint64_t size = fs::file_size(p, ec);
    if (ec) fail(kCannotRead, "cannot read " + quoted(p) + ": " + ec.message());
    return size;
}

std::ifstream openForReading(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) fail(kCannotRead, "cannot open " + quoted(p));
    return in;
}

Trailer readTrailer(const fs::path &p, std::uint64_t size) {
    std::ifstream in = openForReading(p);
    const std::uint64_t tailLength = std::min<std::uint64_t>(size, kTrailerSize);
    unsigned char tail[kTrailerSize] = {};
    in.seekg(static_cast<std::streamoff>(size - tailLength));
    in.read(reinterpret_cast<char *>(tail), static_cast<std::streamsize>(tailLength));
    if (static_cast<std::uint64_t>(in.gcount()) != tailLength) {
        fail(kCannotRead, "cannot read the end of " + quoted(p));
    }
    return parseTrailer(tail, static_cast<std::size_t>(tailLength), size);
}

// Copies exactly `count` bytes: an input that shrank while we read it is an error, not a short file.
void copyBytes(std::istream &in, const fs::path &from, std::ostream &out, const fs::path &to,
               std::uint64_t count) {
    std::vector<char> buffer(64 * 1024);
    while (count > 0) {
        const auto chunk = static_cast<std::streamsize>(std::min<std::uint64_t>(count, buffer.size()));
        in.read(buffer.data(), chunk);
        if (in.gcount() != chunk) fail(kCannotRead, "cannot read " + quoted(from) + ": file changed or truncated");
        out.write(buffer.data(), chunk);
        if (!out) fail(kCannotWrite, "cannot write " + quoted(to));
        count -= static_cast<std::uint64_t>(chunk);
    }
}

bool sameFile(const fs::path &a, const fs::path &b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

unsigned long processId() {
#ifdef _WIN32
    return static_cast<unsigned long>(_getpid());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

void replaceFile(const fs::path &from, const fs::path &to) {
#ifdef _WIN32
    // std::filesystem::rename has not always replaced an existing file on MinGW.
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        fail(kCannotWrite, "cannot rename the temporary file to " + quoted(to) +
                               ": Windows error " + std::to_string(GetLastError()));
    }
#else
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) fail(kCannotWrite, "cannot rename the temporary file to " + quoted(to) + ": " + ec.message());
#endif
}

// Removes the temporary file unless the rename went through.
class TemporaryFile {
public:
    explicit TemporaryFile(const fs::path &target)
        : path_(target.parent_path() /
                (target.filename().string() + ".kplx-pack-" + std::to_string(processId()) + ".tmp")) {}
    ~TemporaryFile() {
        if (!committed_) {
            std::error_code ec;
            fs::remove(path_, ec);
        }
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    const fs::path &path() const { return path_; }
    void commitTo(const fs::path &target) {
        replaceFile(path_, target);
        committed_ = true;
    }

private:
    fs::path path_;
    bool committed_ = false;
};

struct PackRequest {
    fs::path utility;
    fs::path database;
    fs::path output;
    bool replace = false;
};

int pack(const PackRequest &r) {
    const std::uint64_t utilitySize = regularFileSize(r.utility);
    const std::uint64_t databaseSize = regularFileSize(r.database);

    if (sameFile(r.output, r.utility) || sameFile(r.output, r.database)) {
        fail(kOutputIsInput, "output " + quoted(r.output) + " is one of the inputs; write elsewhere");
    }
    if (databaseSize < kMinDatabaseSize) {
        fail(kDatabaseTooSmall, "database " + quoted(r.database) + " has " + std::to_string(databaseSize) +
                                    " bytes; the utility needs at least 128");
    }
    if (!fitsTrailer(databaseSize)) {
        fail(kDatabaseTooLarge, "database " + quoted(r.database) + " has " + std::to_string(databaseSize) +
                                    " bytes; the trailer holds at most 4294967295");
    }

    std::uint64_t keep = utilitySize;
    const Trailer old = readTrailer(r.utility, utilitySize);
    if (old.status == TrailerStatus::Found) {
        if (!r.replace) {
            fail(kAlreadyPacked, quoted(r.utility) + " already carries a database of " +
                                     std::to_string(old.size) + " bytes; use --replace to swap it");
        }
        keep = old.offset;
    } else if (old.status == TrailerStatus::TooSmall || old.status == TrailerStatus::TooLarge) {
        const bool removable = std::uint64_t{old.size} + kTrailerSize <= utilitySize;
        if (!r.replace || !removable) {
            fail(kDamagedTrailer, quoted(r.utility) + " ends with a damaged trailer (" + describe(old.status) +
                                      (removable ? "); use --replace to drop it" : ")"));
        }
        keep = utilitySize - kTrailerSize - old.size;
    }

    TemporaryFile temporary(r.output);
    {
        std::ofstream out(temporary.path(), std::ios::binary | std::ios::trunc);
        if (!out) fail(kCannotWrite, "cannot create " + quoted(temporary.path()));
        std::ifstream utility = openForReading(r.utility);
        copyBytes(utility, r.utility, out, r.output, keep);
        std::ifstream database = openForReading(r.database);
        copyBytes(database, r.database, out, r.output, databaseSize);
        const auto trailer = makeTrailer(static_cast<std::uint32_t>(databaseSize));
        out.write(reinterpret_cast<const char *>(trailer.data()), static_cast<std::streamsize>(trailer.size()));
        out.close();
        if (!out) fail(kCannotWrite, "cannot write " + quoted(temporary.path()));
    }
    // Keep the utility runnable where permissions matter, but never read-only.
    std::error_code ec;
    fs::permissions(temporary.path(), fs::status(r.utility, ec).permissions() | fs::perms::owner_write, ec);
    temporary.commitTo(r.output);

    std::cout << "kplx-pack: wrote " << r.output.string() << ": " << keep << " bytes of utility, "
              << databaseSize << " bytes of database, " << kTrailerSize << "-byte trailer\n";
    return kOk;
}

int info(const fs::path &file) {
    const std::uint64_t size = regularFileSize(file);
    const Trailer t = readTrailer(file, size);
    if (t.status != TrailerStatus::Found) {
        std::string detail = describe(t.status);
        if (t.status == TrailerStatus::TooSmall || t.status == TrailerStatus::TooLarge) {
            detail += ": N = " + std::to_string(t.size) + ", file has " + std::to_string(size) + " bytes";
        }
        fail(kNoDatabase, quoted(file) + " carries no database: " + detail);
    }
    std::cout << "file: " << file.string() << "\n"
              << "database size: " << t.size << " bytes\n"
              << "block count: " << t.blockCount << " (N >> 7)\n"
              << "frames sent: " << t.frameCount << "\n"
              << "offset: " << t.offset << "\n";
    return kOk;
}

int run(int argc, char **argv) {
    std::vector<std::string> positional;
    std::optional<std::string> output;
    std::optional<std::string> infoFile;
    bool replace = false;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsageText;
            return kOk;
        } else if (arg == "-o" || arg == "--output") {
            if (!hasValue) fail(kUsage, arg + " needs a file name");
            if (output) fail(kUsage, "more than one output given");
            output = argv[++i];
        } else if (arg == "--info") {
            if (!hasValue) fail(kUsage, "--info needs a file name");
            infoFile = argv[++i];
        } else if (arg == "--replace") {
            replace = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            fail(kUsage, "unknown option " + arg + " (see --help)");
        } else {
            positional.push_back(arg);
        }
    }

    if (infoFile) {
        if (!positional.empty() || output || replace) fail(kUsage, "--info takes one file and no other arguments");
        return info(*infoFile);
    }
    if (positional.size() != 2 || !output) fail(kUsage, "expected UTILITY.exe DATABASE -o OUT.exe (see --help)");
    return pack(PackRequest{positional[0], positional[1], *output, replace});
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const Failure &f) {
        std::cerr << "kplx-pack: " << f.message << "\n";
        return f.code;
    } catch (const std::exception &e) {
        std::cerr << "kplx-pack: " << e.what() << "\n";
        return kCannotWrite;
    }
}
