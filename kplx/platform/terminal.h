// Whether standard output is a terminal that can redraw lines in place, and its size.
#pragma once

namespace kplx::platform {

// True when stdout is a terminal that understands the cursor-movement sequences (on Windows
// they are switched on where the console can).
bool stdoutIsLiveTerminal();

struct TerminalSize {
    int columns = 80;
    int rows = 24;
};

// The size of the terminal on stdout now (80 by 24 where it cannot be told); it may change
// at any time.
TerminalSize terminalSize();

}  // namespace kplx::platform
