// Whether standard output is a terminal that can redraw lines in place.
#pragma once

namespace kplx::platform {

// True when stdout is a terminal that understands the cursor-movement sequences (on Windows
// they are switched on where the console can).
bool stdoutIsLiveTerminal();

// Columns of the terminal on stdout (80 when it cannot be told).
int terminalColumns();

}  // namespace kplx::platform
