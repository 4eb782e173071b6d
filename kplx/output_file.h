// pack's output, in place whole or not at all: written under a temporary name in the output's
// folder, flushed to disk, renamed over the output, and the folder flushed so that the rename
// itself survives a power cut (Windows: FlushFileBuffers, then MoveFileEx with write-through).
// Without the flushes a crash after the rename can leave an empty output where the old one was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kplx {

class OutputFile {
public:
    // `shown` names the output in messages.
    OutputFile(const std::string &target, const std::string &shown);
    ~OutputFile();   // removes the temporary file unless commit() renamed it
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Creates the temporary file; `permissions` are rwx bits for it (POSIX; the owner may
    // always write).
    bool create(unsigned permissions);
    bool write(const uint8_t *bytes, size_t count);
    // `proceed` is asked once the file is on disk, just before the rename: false leaves the
    // output as it was (a stop that came while the file was written).
    bool commit(const std::function<bool()> &proceed = nullptr);

    const std::string &error() const { return error_; }
    const std::string &temporaryPath() const { return temporary_; }

private:
    bool fail(const std::string &what);
    void discard();

    std::string target_, shown_, temporary_, error_;
    bool created_ = false;
#ifdef _WIN32
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// The temporary file a pack is writing, for the interrupt handler: nullptr when there is none.
// Both are async-signal-safe (a fixed buffer behind an atomic flag), so SIGINT, SIGTERM, SIGHUP
// and the Windows console handler can call them. Removing the file does not stop the write;
// the handler is expected to end the process after.
const char *pendingTemporaryFile();
void removePendingTemporaryFile();

}  // namespace kplx
