// Process entry: window, driver library, the long-lived port, the message loop.
#include "app/command_line.h"
#include "app/main_window.h"
#include "app/messages.h"
#include "app/resource.h"
#include "payload/self_image.h"
#include "protocol/transfer.h"
#include "usb/com_access.h"
#include "usb/driver_library.h"

#include <new>
#include <string.h>

static const char initialTitle[] = "Quorvel KPLX";

static int runMessageLoop(HACCEL accelerators)
{
    MSG msg = {};   // a first GetMessageA that fails leaves it as it was: exit code 0
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (!TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

int WINAPI WinMain(HINSTANCE module, HINSTANCE, LPSTR, int showCommand)
{
    quietMode = 0;
    selfImage.buffer = NULL;
    memcpy(titleText, initialTitle, sizeof initialTitle);

    // The arguments as the program-name split defines them, whatever the C runtime passed.
    if (scanQuietFlag(skipProgramName(GetCommandLineA())))
        quietMode = 1;

    LoadStringA(module, IDS_TITLE, titleText, sizeof titleText);
    LoadStringA(module, IDS_TITLE, className, sizeof className);
    registerMainClass(module);

    instance = module;
    transfer.active = 0;
    HWND window = createMainWindow(module);
    if (window == NULL)
        return 0;
    mainWindow = window;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    HACCEL accelerators = LoadAcceleratorsA(module, MAKEINTRESOURCEA(IDR_ACCELERATORS));

    if (!loadDriverLibrary()) {
        showMessage(MSG_NO_USB_DRIVER, STYLE_INFORMATION);
        transfer.port = NULL;
        return 0;
    }
    transfer.port = new (std::nothrow) ComAccess();

    int exitCode = runMessageLoop(accelerators);

    freeSelfImage();
    delete transfer.port;
    transfer.port = NULL;
    return exitCode;
}
