// kplx load FILE --watch: the station. It loads every meter present at start, then each meter
// as it is plugged in, once per plug-in, several at once when several arrive, until Ctrl-C or
// --count loads; -s, -p and the identity check filter what it loads, and a device that is not
// a meter is reported once and left alone. Each load ends with one result line (and a log line
// with --log); the exit code is 0 when every load succeeded, 8 when one failed, 130 when one
// was interrupted.
#pragma once

#include "kplx/load_command.h"

namespace kplx {

int runStation(const LoadOptions &options);

}  // namespace kplx
