// A file kplx reads (the file to load, info's file, pack's inputs), opened only when it is a
// regular file: a FIFO would block, a device such as /dev/zero never ends, and opening a tty
// raises its modem lines. The path is checked before opening and the descriptor after, so a
// file swapped in between is caught too. Nothing is read until the caller has seen the size.
#pragma once

#include "core/database.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kplx {

// The largest utility kplx reads past or packs; the shipped one is about 100 KB.
constexpr uint64_t kMaxUtilityBytes = uint64_t{64} << 20;
constexpr uint64_t kMaxDatabaseBytes = 0xFFFFFFFFu;   // the trailer's 32-bit size
constexpr uint64_t kMaxPackedBytes = kMaxUtilityBytes + kMaxDatabaseBytes + core::kTrailerSize;

// Why a file of `size` bytes cannot be a packed utility, naming the limits.
std::string tooLargeToBePacked(const std::string &shown, uint64_t size);

class InputFile {
public:
    // `shown` names the file in messages ("'meter.db'", or the bare path).
    InputFile(const std::string &path, const std::string &shown);
    ~InputFile();
    InputFile(InputFile &&other) noexcept;
    InputFile &operator=(InputFile &&) = delete;
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }   // a whole sentence, naming the file
    const std::string &shown() const { return shown_; }
    uint64_t size() const { return size_; }
    unsigned permissions() const { return permissions_; }   // rwx bits (POSIX), 0 on Windows

    // Exactly `count` bytes from `offset`; false, with error() set, when the file ends sooner
    // (it changed while kplx read it) or cannot be read.
    bool readAt(uint64_t offset, uint8_t *to, size_t count);

private:
    void refuse(const std::string &why);

    std::string shown_;
    std::string error_;
    uint64_t size_ = 0;
    unsigned permissions_ = 0;
#ifdef _WIN32
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

#ifdef _WIN32
// The system's text for a GetLastError() code.
std::string windowsErrorText(unsigned long code);
#endif

}  // namespace kplx
