// Preloaded into kplx by a test: raises the signal numbered in KPLX_TEST_SIGNAL_AT_FSYNC the
// first time the program flushes a file to disk, which kplx pack does once its temporary file
// is written and before it renames it into place. So the signal comes at a known moment, not
// whenever a timer happens to fire.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<bool> raised{false};

}  // namespace

extern "C" int fsync(int fd)
{
    const char *signal = std::getenv("KPLX_TEST_SIGNAL_AT_FSYNC");
    if (signal != nullptr && !raised.exchange(true))
        raise(std::atoi(signal));
    return reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"))(fd);
}
