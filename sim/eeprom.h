// Filling the caller's FT_EE_Read record.
#pragma once

#include "sim/sim.h"
#include "usb/d2xx.h"

#include <cstddef>
#include <string>

namespace sim {
namespace detail {

void copyBounded(char *to, const std::string &from, size_t size);   // always NUL-terminated
FT_STATUS fillProgramData(const Eeprom &eeprom, FT_PROGRAM_DATA *data, bool withFt232rFields = true);

}  // namespace detail
}  // namespace sim
