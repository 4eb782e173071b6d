// Ctrl-C (SIGINT), SIGTERM, and on Windows the console's Ctrl-C, Ctrl-Break and close: the
// first asks every meter to stop after the frame in flight; a second one ends the process.
#pragma once

namespace kplx::platform {

void watchInterrupts();
bool interrupted();

}  // namespace kplx::platform
