// Text that comes from a device (serial numbers, descriptions, version answers) or names one
// (-s), as kplx shows it: on a terminal, in errors, in the JSON and in logs alike. An EEPROM may
// hold any bytes; a control character would move the cursor or forge a line, and a byte that
// is not UTF-8 cannot pass through JSON unchanged. Such bytes, and the backslash itself, are
// shown as \xNN, so the shown form is printable, valid UTF-8, and maps back to the exact bytes.
#pragma once

#include <string>
#include <string_view>

namespace kplx {

std::string shownText(std::string_view raw);

// The bytes a shown form stands for: \xNN (two hex digits, either case) is that byte; any
// other character, a lone backslash included, is itself. So a serial copied from the JSON, or
// typed as it is, names the device.
std::string rawText(std::string_view shown);

}  // namespace kplx
