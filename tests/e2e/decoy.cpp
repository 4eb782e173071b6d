// A stand-in Ftd2xx.dll put beside the utility: the driver library must come from the system
// folder only, so loading this one, or calling into it, leaves a marker file next to it and fails.
#include <windows.h>

static void leaveMarker(const char *what)
{
    char path[MAX_PATH + 16];
    HMODULE self = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&leaveMarker), &self);
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    lstrcatA(path, ".loaded");
    HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(f, what, lstrlenA(what), &written, NULL);
    WriteFile(f, "\r\n", 2, &written, NULL);
    CloseHandle(f);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        leaveMarker("loaded");
    return TRUE;
}

// Every ordinal answers FT_OTHER_ERROR; the x64 convention lets a no-argument function stand in
// for any signature.
#define DECOY(n)                                     \
    extern "C" ULONG WINAPI decoy##n() \
    {                                                   \
        leaveMarker("called ordinal " #n);              \
        return 18;                                      \
    }
DECOY(1) DECOY(2) DECOY(3) DECOY(4) DECOY(5) DECOY(6) DECOY(7) DECOY(8) DECOY(9) DECOY(10)
DECOY(11) DECOY(12) DECOY(13) DECOY(14) DECOY(15) DECOY(16) DECOY(17) DECOY(18) DECOY(19) DECOY(20)
DECOY(21) DECOY(22) DECOY(23) DECOY(24) DECOY(25) DECOY(26) DECOY(27) DECOY(28) DECOY(29) DECOY(30)
DECOY(31) DECOY(32) DECOY(33) DECOY(34) DECOY(35) DECOY(36) DECOY(37) DECOY(38) DECOY(39) DECOY(40)
DECOY(41) DECOY(42) DECOY(43) DECOY(44) DECOY(45) DECOY(46) DECOY(47) DECOY(48) DECOY(49) DECOY(50)
DECOY(51) DECOY(52) DECOY(53) DECOY(54) DECOY(55) DECOY(56) DECOY(57) DECOY(58) DECOY(59) DECOY(60)
DECOY(61) DECOY(62) DECOY(63) DECOY(64)
