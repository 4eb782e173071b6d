// kplx completion bash: a completion script made from the command line's own definition, so it
// never falls behind it. Subcommands and options come from CLI11; what a value completes to
// comes from the option's type name: FILE, OUT, UTILITY and DATABASE complete to files, SERIAL
// to the serials of the attached meters and LOCATION to their USB locations (both from `kplx
// list --json`).
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace kplx {

std::string bashCompletion(const CLI::App &app);

}  // namespace kplx
