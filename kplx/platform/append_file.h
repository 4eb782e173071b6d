// A file that several processes append whole lines to, as a shared bench log: opened for
// appending (created if need be), each line written with one call, which the system keeps whole
// against other appenders, and synced to disk before the call returns.
#pragma once

#include <string>

namespace kplx::platform {

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;

    // False, with `error` saying why, when it cannot be opened for appending or is not a
    // regular file.
    bool open(const std::string &path, std::string &error);
    bool isOpen() const;
    // Writes `line` (its newline included) in one call and syncs it.
    bool append(const std::string &line, std::string &error);

private:
#if defined(_WIN32)
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    std::string path_;
};

}  // namespace kplx::platform
