// Ftd2xx.dll's entry: the configuration is read on first use, not here; the output files are
// written once more when the process lets the library go.
#include <windows.h>

#include "sim/internal.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH && sim::detail::state().loaded) sim::writeOutputs();
    return TRUE;
}
