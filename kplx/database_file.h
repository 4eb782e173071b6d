// The file kplx loads: a packed utility (database and trailer at its end, as the utility reads
// itself) or, with --raw, the database alone. Either way what is held is the database and its
// trailer, as the utility would send them, so that the meter gets the same frames byte for
// byte; the utility in front of a packed database is never read.
#pragma once

#include "core/database.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kplx {

struct DatabaseFile {
    std::vector<uint8_t> image;   // the database and its trailer
    core::DatabaseView view;      // points into `image`
    std::string error;            // why the file cannot be loaded ("" when it can)

    bool ok() const { return error.empty(); }

    DatabaseFile() = default;
    DatabaseFile(DatabaseFile &&) = default;   // the vector's bytes stay where `view` points
    DatabaseFile &operator=(DatabaseFile &&) = default;
    DatabaseFile(const DatabaseFile &) = delete;
    DatabaseFile &operator=(const DatabaseFile &) = delete;
};

// Only a regular file, and only one whose size a database and the utility can have.
DatabaseFile readDatabaseFile(const std::string &path, bool raw);

}  // namespace kplx
