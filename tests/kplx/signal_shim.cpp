// Preloaded into kplx by a test: raises the signal numbered in KPLX_TEST_SIGNAL_AT_CHMOD when
// the program sets the mode of a file whose name ends in ".tmp", which kplx pack does once its
// temporary file is written and before it renames it into place. So the signal comes at a
// known moment, not whenever a timer happens to fire.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

namespace {

void raiseFor(const char *path)
{
    const char *signal = std::getenv("KPLX_TEST_SIGNAL_AT_CHMOD");
    const size_t n = path != nullptr ? std::strlen(path) : 0;
    if (signal != nullptr && n >= 4 && std::strcmp(path + n - 4, ".tmp") == 0)
        raise(std::atoi(signal));
}

template <typename Function>
Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int chmod(const char *path, mode_t mode)
{
    raiseFor(path);
    return next<int (*)(const char *, mode_t)>("chmod")(path, mode);
}

extern "C" int fchmodat(int dir, const char *path, mode_t mode, int flags)
{
    raiseFor(path);
    return next<int (*)(int, const char *, mode_t, int)>("fchmodat")(dir, path, mode, flags);
}
