// Whether a file is a Windows program (a PE image), as pack requires of the utility: an "MZ"
// header whose e_lfanew (at 0x3C) points, within the file, at "PE\0\0". Swapped arguments or a
// database given as the utility would otherwise make an output no one can run.
#pragma once

#include "kplx/input_file.h"

#include <string>

namespace kplx {

struct ExecutableCheck {
    enum class Verdict { windowsProgram, other, unreadable };
    Verdict verdict = Verdict::unreadable;
    std::string found;   // what the file holds instead, or why it cannot be read

    bool isWindowsProgram() const { return verdict == Verdict::windowsProgram; }
};

ExecutableCheck checkWindowsExecutable(InputFile &file);

}  // namespace kplx
