#include "kplx/output_file.h"

#include "kplx/input_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kplx {

namespace {

namespace fs = std::filesystem;

// The one temporary file name the interrupt handler may remove.
char pendingName[4096];
std::atomic<bool> pendingSet{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read from a signal handler");

bool publish(const std::string &path)
{
    if (path.size() >= sizeof pendingName)
        return false;
    pendingSet.store(false);
    std::memcpy(pendingName, path.c_str(), path.size() + 1);
    pendingSet.store(true);
    return true;
}

void unpublish() { pendingSet.store(false); }

unsigned long processId()
{
#ifdef _WIN32
    return static_cast<unsigned long>(_getpid());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// In the output's own folder: a rename across file systems would be a copy, not atomic.
std::string temporaryNameFor(const std::string &target)
{
    const fs::path t(target);
    return (t.parent_path() / (t.filename().string() + ".kplx-" + std::to_string(processId()) + ".tmp")).string();
}

std::string lastError()
{
#ifdef _WIN32
    return windowsErrorText(GetLastError());
#else
    return std::strerror(errno);
#endif
}

}  // namespace

const char *pendingTemporaryFile() { return pendingSet.load() ? pendingName : nullptr; }

void removePendingTemporaryFile()
{
    if (!pendingSet.load())
        return;
#ifdef _WIN32
    DeleteFileA(pendingName);   // opened with FILE_SHARE_DELETE: goes when the handle closes
#else
    unlink(pendingName);
#endif
}

OutputFile::OutputFile(const std::string &target, const std::string &shown)
    : target_(target), shown_(shown), temporary_(temporaryNameFor(target))
{
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::fail(const std::string &what)
{
    error_ = what + ": " + lastError();
    return false;
}

#ifdef _WIN32

bool OutputFile::create(unsigned)
{
    if (!publish(temporary_)) {
        error_ = "cannot write beside " + shown_ + ": its name is too long";
        return false;
    }
    HANDLE h = CreateFileA(temporary_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fail("cannot write " + shown_ + " (creating '" + temporary_ + "')");
        unpublish();
        return false;
    }
    handle_ = h;
    created_ = true;
    return true;
}

bool OutputFile::write(const uint8_t *bytes, size_t count)
{
    while (count > 0) {
        const DWORD chunk = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle_), bytes, chunk, &written, nullptr) || written == 0)
            return fail("cannot write '" + temporary_ + "'");
        bytes += written;
        count -= written;
    }
    return true;
}

bool OutputFile::commit(const std::function<bool()> &proceed)
{
    HANDLE h = static_cast<HANDLE>(handle_);
    if (!FlushFileBuffers(h))
        return fail("cannot flush '" + temporary_ + "' to disk");
    handle_ = nullptr;
    if (!CloseHandle(h))
        return fail("cannot write '" + temporary_ + "'");
    if (proceed && !proceed())
        return fail("given up before " + shown_ + " was replaced");
    // Write-through: MoveFileEx returns once the rename is on disk.
    if (!MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail("cannot rename the temporary file to " + shown_);
    created_ = false;
    unpublish();
    return true;
}

void OutputFile::discard()
{
    if (handle_ != nullptr) {
        CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
    if (created_) {
        DeleteFileA(temporary_.c_str());
        created_ = false;
        unpublish();
    }
}

#else

bool OutputFile::create(unsigned permissions)
{
    if (!publish(temporary_)) {
        error_ = "cannot write beside " + shown_ + ": its name is too long";
        return false;
    }
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    fd_ = open(temporary_.c_str(), flags, 0600);
    if (fd_ < 0 && errno == EEXIST) {
        // Left by a kplx of the same process id that was killed: the name is ours.
        unlink(temporary_.c_str());
        fd_ = open(temporary_.c_str(), flags, 0600);
    }
    if (fd_ < 0) {
        fail("cannot write " + shown_ + " (creating '" + temporary_ + "')");
        unpublish();
        return false;
    }
    created_ = true;
    // The output of a runnable utility stays runnable, and never read-only to its owner.
    if (fchmod(fd_, static_cast<mode_t>((permissions & 0777) | S_IWUSR | S_IRUSR)) != 0)
        return fail("cannot set the permissions of '" + temporary_ + "'");
    return true;
}

bool OutputFile::write(const uint8_t *bytes, size_t count)
{
    while (count > 0) {
        const ssize_t n = ::write(fd_, bytes, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail("cannot write '" + temporary_ + "'");
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool OutputFile::commit(const std::function<bool()> &proceed)
{
    if (fsync(fd_) != 0)
        return fail("cannot flush '" + temporary_ + "' to disk");
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0)
        return fail("cannot write '" + temporary_ + "'");
    if (proceed && !proceed())
        return fail("given up before " + shown_ + " was replaced");
    if (rename(temporary_.c_str(), target_.c_str()) != 0)
        return fail("cannot rename the temporary file to " + shown_);
    created_ = false;
    unpublish();

    // The rename lives in the folder: until the folder is on disk, so is not the new output.
    std::string folder = fs::path(target_).parent_path().string();
    if (folder.empty())
        folder = ".";
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return fail("wrote " + shown_ + " but cannot open its folder to flush it");
    // Some file systems cannot flush a folder (EINVAL): nothing more can be done there.
    const bool flushed = fsync(dir) == 0 || errno == EINVAL;
    const int flushError = errno;
    close(dir);
    if (!flushed) {
        errno = flushError;
        return fail("wrote " + shown_ + " but cannot flush its folder to disk");
    }
    return true;
}

void OutputFile::discard()
{
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (created_) {
        unlink(temporary_.c_str());
        created_ = false;
        unpublish();
    }
}

#endif

}  // namespace kplx
