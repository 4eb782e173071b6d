#include "kplx/platform/terminal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
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

TerminalSize terminalSize()
{
    TerminalSize size;
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        size.columns = info.srWindow.Right - info.srWindow.Left + 1;
        size.rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    }
#else
    struct winsize ws = {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        size.columns = ws.ws_col;
        size.rows = ws.ws_row;
    }
#endif
    return size;
}

}  // namespace kplx::platform
