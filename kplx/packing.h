// kplx pack and kplx info: append a database and its trailer to a copy of the utility, and
// report what a file carries. The utility must be a Windows program and both inputs regular
// files; the output appears whole or not at all (output_file.h); the inputs are only read.
#pragma once

#include <string>

namespace kplx {

struct PackRequest {
    std::string utility;
    std::string database;
    std::string output;
    bool replace = false;   // the utility already carries a database: drop it first
};

int runPack(const PackRequest &request);
int runInfo(const std::string &file);

}  // namespace kplx
