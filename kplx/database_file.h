// The file kplx loads: a packed utility (database and trailer at its end, as the utility reads
// itself) or, with --raw, the database alone. Either way it is held as the image the utility
// would hold, so that the meter gets the same frames byte for byte.
#pragma once

#include "core/database.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kplx {

struct DatabaseFile {
    std::vector<uint8_t> image;   // the file, or the raw database with its trailer appended
    core::DatabaseView view;      // points into `image`
    std::string error;            // why the file cannot be loaded ("" when it can)

    bool ok() const { return error.empty(); }

    DatabaseFile() = default;
    DatabaseFile(DatabaseFile &&) = default;   // the vector's bytes stay where `view` points
    DatabaseFile &operator=(DatabaseFile &&) = default;
    DatabaseFile(const DatabaseFile &) = delete;
    DatabaseFile &operator=(const DatabaseFile &) = delete;
};

DatabaseFile readDatabaseFile(const std::string &path, bool raw);

// Reads a whole file; false with `error` set when it cannot be read.
bool readWholeFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &error);

}  // namespace kplx
