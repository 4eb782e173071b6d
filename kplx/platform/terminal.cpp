#include "kplx/platform/terminal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kplx::platform {

bool stdoutIsLiveTerminal()
{
#if defined(_WIN32)
    if (!_isatty(_fileno(stdout)))
        return false;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode))
        return false;
    return SetConsoleMode(out, mode | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */) != 0;
#else
    if (!isatty(STDOUT_FILENO))
        return false;
    const char *term = std::getenv("TERM");
    return term != nullptr && std::strcmp(term, "dumb") != 0;
#endif
}

}  // namespace kplx::platform
