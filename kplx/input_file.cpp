#include "kplx/input_file.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kplx {

#ifdef _WIN32
std::string windowsErrorText(unsigned long code)
{
    char text[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.'))
        text[--n] = '\0';
    return n > 0 ? std::string(text) : "Windows error " + std::to_string(code);
}
#endif

namespace {

#ifdef _WIN32

const char *notRegular(DWORD fileType)
{
    switch (fileType) {
    case FILE_TYPE_CHAR: return "is a character device, not a regular file";
    case FILE_TYPE_PIPE: return "is a pipe, not a regular file";
    default: return "is not a regular file";
    }
}

#else

// Why a file of this type cannot be read as a database or a utility; nullptr for a regular file.
const char *notRegular(mode_t mode)
{
    if (S_ISREG(mode))
        return nullptr;
    if (S_ISDIR(mode))
        return "is a directory, not a regular file";
    if (S_ISFIFO(mode))
        return "is a FIFO, not a regular file";
    if (S_ISCHR(mode))
        return "is a character device, not a regular file";
    if (S_ISBLK(mode))
        return "is a block device, not a regular file";
    if (S_ISSOCK(mode))
        return "is a socket, not a regular file";
    return "is not a regular file";
}

#endif

}  // namespace

std::string tooLargeToBePacked(const std::string &shown, uint64_t size)
{
    return shown + " has " + std::to_string(size) + " bytes, more than a packed utility can have (" +
           std::to_string(kMaxPackedBytes) + ": a utility of at most " + std::to_string(kMaxUtilityBytes) +
           " bytes, a database of at most " + std::to_string(kMaxDatabaseBytes) + " and its trailer)";
}

void InputFile::refuse(const std::string &why) { error_ = shown_ + " " + why; }

#ifdef _WIN32

InputFile::InputFile(const std::string &path, const std::string &shown) : shown_(shown)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        refuse("is a directory, not a regular file");
        return;
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error_ = "cannot open " + shown_ + ": " + windowsErrorText(GetLastError());
        return;
    }
    handle_ = h;
    const DWORD type = GetFileType(h);
    if (type != FILE_TYPE_DISK) {
        refuse(notRegular(type));
        return;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(h, &size)) {
        error_ = "cannot read " + shown_ + ": " + windowsErrorText(GetLastError());
        return;
    }
    size_ = static_cast<uint64_t>(size.QuadPart);
}

InputFile::~InputFile()
{
    if (handle_ != nullptr)
        CloseHandle(static_cast<HANDLE>(handle_));
}

InputFile::InputFile(InputFile &&other) noexcept
    : shown_(std::move(other.shown_)), error_(std::move(other.error_)), size_(other.size_),
      permissions_(other.permissions_), handle_(other.handle_)
{
    other.handle_ = nullptr;
}

bool InputFile::readAt(uint64_t offset, uint8_t *to, size_t count)
{
    if (!ok())
        return false;
    HANDLE h = static_cast<HANDLE>(handle_);
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) {
        error_ = "cannot read " + shown_ + ": " + windowsErrorText(GetLastError());
        return false;
    }
    while (count > 0) {
        const DWORD chunk = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        DWORD got = 0;
        if (!ReadFile(h, to, chunk, &got, nullptr)) {
            error_ = "cannot read " + shown_ + ": " + windowsErrorText(GetLastError());
            return false;
        }
        if (got == 0) {
            error_ = "cannot read " + shown_ + ": it became shorter while kplx read it";
            return false;
        }
        to += got;
        count -= got;
    }
    return true;
}

#else

InputFile::InputFile(const std::string &path, const std::string &shown) : shown_(shown)
{
    // By name first: opening a FIFO or a tty is itself an action on it.
    struct stat byName = {};
    if (stat(path.c_str(), &byName) != 0) {
        error_ = "cannot open " + shown_ + ": " + std::strerror(errno);
        return;
    }
    if (const char *why = notRegular(byName.st_mode)) {
        refuse(why);
        return;
    }
    // Non-blocking, so that a FIFO swapped in since the check cannot hold the open.
    fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = "cannot open " + shown_ + ": " + std::strerror(errno);
        return;
    }
    struct stat opened = {};
    if (fstat(fd_, &opened) != 0) {
        error_ = "cannot read " + shown_ + ": " + std::strerror(errno);
        return;
    }
    if (const char *why = notRegular(opened.st_mode)) {
        refuse(why);
        return;
    }
    size_ = static_cast<uint64_t>(opened.st_size);
    permissions_ = static_cast<unsigned>(opened.st_mode & 0777);
}

InputFile::~InputFile()
{
    if (fd_ >= 0)
        close(fd_);
}

InputFile::InputFile(InputFile &&other) noexcept
    : shown_(std::move(other.shown_)), error_(std::move(other.error_)), size_(other.size_),
      permissions_(other.permissions_), fd_(other.fd_)
{
    other.fd_ = -1;
}

bool InputFile::readAt(uint64_t offset, uint8_t *to, size_t count)
{
    if (!ok())
        return false;
    while (count > 0) {
        const ssize_t got = pread(fd_, to, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error_ = "cannot read " + shown_ + ": " + std::strerror(errno);
            return false;
        }
        if (got == 0) {
            error_ = "cannot read " + shown_ + ": it became shorter while kplx read it";
            return false;
        }
        to += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<size_t>(got);
    }
    return true;
}

#endif

}  // namespace kplx
