#include "kplx/platform/append_file.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace kplx::platform {

#if defined(_WIN32)

namespace {

std::string lastError()
{
    return "Windows error " + std::to_string(GetLastError());
}

}  // namespace

AppendFile::~AppendFile()
{
    if (handle_ != nullptr)
        CloseHandle(static_cast<HANDLE>(handle_));
}

bool AppendFile::open(const std::string &path, std::string &error)
{
    path_ = path;
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end, whoever else appends.
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = "cannot open " + path + " for appending (" + lastError() + ")";
        return false;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        error = path + " is not a regular file";
        return false;
    }
    handle_ = h;
    return true;
}

bool AppendFile::isOpen() const { return handle_ != nullptr; }

bool AppendFile::append(const std::string &line, std::string &error)
{
    DWORD written = 0;
    HANDLE h = static_cast<HANDLE>(handle_);
    if (h == nullptr || !WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size() || !FlushFileBuffers(h)) {
        error = "cannot write to " + path_ + " (" + lastError() + ")";
        return false;
    }
    return true;
}

#else

AppendFile::~AppendFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool AppendFile::open(const std::string &path, std::string &error)
{
    path_ = path;
    // Non-blocking for the open only, so that a FIFO cannot hold kplx up.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = "cannot open " + path + " for appending: " + std::strerror(errno);
        return false;
    }
    struct stat st = {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = path + " is not a regular file";
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    return true;
}

bool AppendFile::isOpen() const { return fd_ >= 0; }

bool AppendFile::append(const std::string &line, std::string &error)
{
    ssize_t n = -1;
    do
        n = ::write(fd_, line.data(), line.size());
    while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(line.size())) {
        error = "cannot write to " + path_ + ": " + (n < 0 ? std::strerror(errno) : "the line was cut short");
        return false;
    }
    if (fdatasync(fd_) != 0) {
        error = "cannot sync " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

#endif

}  // namespace kplx::platform
