#include "app/main_window.h"

#include "app/dialogs.h"
#include "app/messages.h"
#include "app/resource.h"
#include "protocol/transfer.h"

HWND mainWindow;
char className[CLASS_NAME_SIZE];

// The bar, in client coordinates.
#define BAR_LEFT 10
#define BAR_TOP 15
#define BAR_RIGHT 215
#define BAR_BOTTOM 35
#define BAR_WIDTH (BAR_RIGHT - BAR_LEFT)

bool registerMainClass(HINSTANCE module)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProcedure;
    wc.hInstance = module;
    wc.hIcon = LoadIconA(module, MAKEINTRESOURCEA(IDI_MAIN));
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
    wc.lpszClassName = className;
    wc.hIconSm = NULL;
    return RegisterClassExA(&wc) != 0;
}

HWND createMainWindow(HINSTANCE module)
{
    return CreateWindowExA(0, className, titleText, WS_SYSMENU, CW_USEDEFAULT, 0, MAIN_WINDOW_WIDTH,
                           MAIN_WINDOW_HEIGHT, NULL, NULL, module, NULL);
}

static void paintProgressBar(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (!transfer.active) {
        SelectObject(dc, GetStockObject(WHITE_PEN));
        SelectObject(dc, GetStockObject(WHITE_BRUSH));
        Rectangle(dc, BAR_LEFT, BAR_TOP, BAR_RIGHT, BAR_BOTTOM);
    } else {
        int filled = transfer.stepCount > 0 ? transfer.progress * BAR_WIDTH / transfer.stepCount : 0;
        SelectObject(dc, GetStockObject(BLACK_BRUSH));
        SelectObject(dc, GetStockObject(NULL_PEN));
        Rectangle(dc, BAR_LEFT, BAR_TOP, BAR_LEFT + filled, BAR_BOTTOM);
        SelectObject(dc, GetStockObject(NULL_BRUSH));
        SelectObject(dc, GetStockObject(BLACK_PEN));
        Rectangle(dc, BAR_LEFT, BAR_TOP, BAR_RIGHT, BAR_BOTTOM);
    }
    EndPaint(window, &ps);
}

static LRESULT onCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_TRANSFER:
        startTransfer(window);
        return 0;
    case IDM_EXIT:
        DestroyWindow(window);
        return 0;
    case IDM_ABOUT:
        showAboutBox(window);
        return 0;
    case IDM_VERSION:
        showDeviceList(window);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK mainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        stopTimers(window);
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        paintProgressBar(window);
        return 0;
    case WM_COMMAND:
        return onCommand(window, message, wParam, lParam);
    case WM_TIMER:
        routeTransferTimer(window, wParam);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
