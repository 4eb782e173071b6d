// kplx's exit codes, as --help and the README list them.
#pragma once

namespace kplx {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,            // the command line; several meters (or a meter and an unchecked
                               // candidate) attached and none chosen
    kExitFile = 2,             // unreadable, not a regular file, too large, no trailer, under 128 bytes,
                               // size beyond the file; pack: a utility that is not a PE image
    kExitNoMeter = 3,          // no meter attached, a named serial or port absent, --wait ran out,
                               // fewer than --expect, or not a meter
    kExitPort = 4,             // the port cannot be opened or configured, or is held elsewhere
    kExitHandshake = 5,        // no ACK: NAK, garbage or silence
    kExitEndNotConfirmed = 6,  // the meter did not confirm "END"
    kExitUnplugged = 7,        // the meter was unplugged during the transfer
    kExitSomeFailed = 8,       // several meters and not all succeeded
    kExitInterrupted = 130,    // Ctrl-C, SIGTERM, SIGHUP, the console closed
};

constexpr const char kExitCodeHelp[] =
    "Exit codes:\n"
    "  0    success\n"
    "  1    usage (also: several meters attached and none chosen, or a meter beside\n"
    "       a candidate that could not be checked)\n"
    "  2    the file: unreadable, not a regular file, too large, no trailer, database under\n"
    "       128 bytes, size beyond the file; for pack, a utility that is not a Windows program\n"
    "  3    no meter attached, a named serial number absent or nothing at a named port,\n"
    "       --wait ran out, fewer meters than --expect, or a device that is not a meter\n"
    "  4    the port cannot be opened or configured (also: another program holds it,\n"
    "       or its serial number is shared)\n"
    "  5    handshake not received (NAK, garbage or silence)\n"
    "  6    END not confirmed\n"
    "  7    the meter was unplugged during the transfer\n"
    "  8    several meters (or the station's loads) and not all succeeded\n"
    "  130  interrupted (Ctrl-C, SIGTERM, SIGHUP, the console closed)\n";

}  // namespace kplx
