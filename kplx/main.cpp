// kplx: loads a meter database from the command line, for scripts and production benches.
//   kplx load FILE [-s SERIAL]... [-a|--all] [--raw] [--retries N] [--json] [-q|--quiet]
//   kplx list [--json]
//   kplx info FILE
//   kplx pack UTILITY DATABASE -o OUT [--replace]
#include "kplx/completion.h"
#include "kplx/exit_codes.h"
#include "kplx/list_command.h"
#include "kplx/load_command.h"
#include "kplx/packing.h"
#include "kplx/platform/interrupt.h"

#include <CLI/CLI.hpp>

#include <cstdio>

#ifndef KPLX_VERSION
#define KPLX_VERSION "0.0.0"
#endif

namespace {

const char kEnvironmentHelp[] =
    "\nEnvironment:\n"
#if defined(KPLX_WITH_SIM_BACKEND)
    "  KPLX_BACKEND      the library to reach the meters through: d2xx (Windows), libftdi\n"
    "                    (Linux) or sim (the simulated devices of KPLX_SIM_CONFIG)\n";
#elif defined(_WIN32)
    "  KPLX_BACKEND      the library to reach the meters through: d2xx (the default)\n";
#else
    "  KPLX_BACKEND      the library to reach the meters through: libftdi (the default)\n";
#endif

}  // namespace

int main(int argc, char **argv)
{
    CLI::App app{"kplx " KPLX_VERSION ": loads a database into Quorvel KPLX meters over their FTDI USB bridge.", "kplx"};
    app.footer(std::string("\n") + kplx::kExitCodeHelp + kEnvironmentHelp);
    app.set_version_flag("--version", "kplx " KPLX_VERSION);
    app.require_subcommand(1);

    kplx::LoadOptions load;
    unsigned latency = load.session.tuning.latencyMs;
    CLI::App *loadCmd = app.add_subcommand("load", "Load the database of FILE into one or more meters");
    loadCmd->add_option("FILE", load.file, "A packed utility (database and \"DATA\" trailer at its end), or with --raw the database itself")
        ->required()
        ->type_name("FILE");
    CLI::Option *serial = loadCmd->add_option("-s,--serial", load.selection.serials,
                                              "The meter with this serial number (repeatable; \\xNN for a byte, as kplx shows it)")
                              ->type_name("SERIAL");
    CLI::Option *port = loadCmd->add_option("-p,--port", load.selection.ports,
                                            "The meter plugged in at this USB port (repeatable): on Linux as sysfs names it "
                                            "(1-2.3), on Windows D2XX's location ID (0x123); with -s, a meter must match both")
                            ->type_name("LOCATION");
    CLI::Option *all = loadCmd->add_flag("-a,--all", load.selection.all, "Every attached meter")->excludes(serial)->excludes(port);
    loadCmd->add_flag("--raw", load.raw, "FILE is the database itself, not a packed utility");
    loadCmd->add_option("--retries", load.session.retries,
                        "Start a meter's failed transfer again from DATABASE up to N more times (not after an unplug)")
        ->check(CLI::Range(0u, 100u))
        ->type_name("N");
    loadCmd->add_option("--latency", latency,
                        "The bridge's latency timer during the transfer, 1 to 255 ms (default 2). Each ACK waits "
                        "for the timer's next expiry: 16 ms as the bridge comes makes a load about 14 % slower "
                        "than 2 ms; 1 ms gains about 7 % more, but FTDI advises against it")
        ->check(CLI::Range(1u, 255u))
        ->type_name("MS");
    CLI::Option *watch = loadCmd->add_flag("--watch", load.watch,
                                           "Station: load every meter present, then each meter as it is plugged in, once "
                                           "per plug-in, until Ctrl-C (or --count loads)");
    loadCmd->add_option("--count", load.count, "With --watch: stop after N loads")
        ->check(CLI::Range(1u, 1000000u))
        ->type_name("N")
        ->needs(watch);
    loadCmd->add_option("--wait", load.waitSeconds,
                        "Wait up to SECONDS for the meters chosen (-s, -p, one meter, or --expect N with --all) to be "
                        "plugged in; exit 3 if they are not")
        ->check(CLI::Range(0.1, 86400.0))
        ->type_name("SECONDS")
        ->excludes(watch);
    loadCmd->add_option("--expect", load.expect, "With --all: refuse to load fewer than N meters")
        ->check(CLI::Range(1u, 1000u))
        ->type_name("N")
        ->needs(all)
        ->excludes(watch);
    loadCmd->add_option("--jobs", load.jobs, "At most N transfers at once; the other meters wait their turn")
        ->check(CLI::Range(1u, 1000u))
        ->type_name("N");
    loadCmd->add_flag("--dry-run", load.dryRun,
                      "Choose and check the meters and ask their version as for a load, send no DATABASE: say what "
                      "would be loaded");
    loadCmd->add_option("--log", load.log,
                        "Append a JSON line per meter to FILE (shared by several kplx; synced); kplx loads nothing "
                        "if it cannot")
        ->type_name("FILE");
    loadCmd->add_option("--station", load.station, "The station's name in the log (default: the host name)")
        ->type_name("NAME");
    CLI::Option *json = loadCmd->add_flag("--json", load.json, "Print one JSON document at the end and nothing else on stdout");
    loadCmd->add_flag("-q,--quiet", load.quiet, "Print only errors")->excludes(json);
    loadCmd->footer(std::string("\nWith neither -s, -p nor --all, the one attached meter is loaded.\n") +
                    "Several meters load in parallel. Only a device whose USB description is the meter's, or one\n"
                    "named with -s or -p, is ever opened; others are left alone.\n"
                    "With --log or --dry-run each meter is asked its version (\"VERSION\") first.\n\n" +
                    kplx::kExitCodeHelp);

    bool listJson = false;
    CLI::App *listCmd = app.add_subcommand("list", "List the attached FTDI devices, which are meters, and each meter's version");
    listCmd->add_flag("--json", listJson, "Print a JSON array");

    std::string infoFile;
    CLI::App *infoCmd = app.add_subcommand("info", "Show the database a packed utility carries");
    infoCmd->add_option("FILE", infoFile, "A packed utility")->required()->type_name("FILE");

    kplx::PackRequest pack;
    CLI::App *packCmd = app.add_subcommand("pack", "Append DATABASE and its trailer to a copy of UTILITY");
    packCmd->add_option("UTILITY", pack.utility, "The utility's .exe")->required()->type_name("UTILITY");
    packCmd->add_option("DATABASE", pack.database, "The database file")->required()->type_name("DATABASE");
    packCmd->add_option("-o,--output", pack.output, "The file to write; not one of the inputs")->required()->type_name("OUT");

    std::string shell;
    CLI::App *completionCmd = app.add_subcommand("completion", "Print a completion script for the shell (bash)");
    completionCmd->add_option("SHELL", shell, "bash")->required()->check(CLI::IsMember({"bash"}));
    packCmd->add_flag("--replace", pack.replace, "UTILITY already carries a database: drop it and pack the new one");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::fprintf(stderr, "kplx: %s (see kplx --help)\n", e.what());
        return kplx::kExitUsage;
    }

    kplx::platform::watchInterrupts();
    int code = 0;
    if (*loadCmd) {
        load.session.tuning.latencyMs = static_cast<uint8_t>(latency);
        code = kplx::runLoad(load);
    } else if (*listCmd) {
        code = kplx::runList(listJson);
    } else if (*infoCmd) {
        code = kplx::runInfo(infoFile);
    } else if (*completionCmd) {
        std::fputs(kplx::bashCompletion(app).c_str(), stdout);
        code = kplx::kExitOk;
    } else {
        code = kplx::runPack(pack);
    }
    // Everything is put back and closed; the output must be out too before a console close
    // lets Windows end the process. A closed pipe makes these fail, which changes nothing.
    std::fflush(stdout);
    std::fflush(stderr);
    kplx::platform::settled();
    return code;
}
