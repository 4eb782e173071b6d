#include "app/dialogs.h"

#include "app/messages.h"
#include "app/resource.h"
#include "protocol/version_query.h"

#include <stdio.h>

void showAboutBox(HWND owner)
{
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, aboutProcedure, 0);
}

void showDeviceList(HWND owner)
{
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_DEVICE_LIST), owner, deviceListProcedure, 0);
}

static bool closesDialog(HWND dialog, WPARAM wParam)
{
    WORD id = LOWORD(wParam);
    if (id != IDOK && id != IDCANCEL)
        return false;
    EndDialog(dialog, id);
    return true;
}

static void paintAboutBitmap(HWND dialog)
{
    HBITMAP bitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_ABOUT));
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(dialog, &ps);
    if (bitmap != NULL) {
        BITMAP info;
        GetObjectA(bitmap, sizeof info, &info);
        RECT client;
        GetClientRect(dialog, &client);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(dc, (client.right - info.bmWidth) / 2, ABOUT_BITMAP_TOP, info.bmWidth, info.bmHeight, memory, 0, 0,
               SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
        DeleteObject(bitmap);
    }
    EndPaint(dialog, &ps);
}

INT_PTR CALLBACK aboutProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        char text[MESSAGE_BUFFER_SIZE];
        loadMessage(MSG_ABOUT_TITLE, text, sizeof text);
        SetWindowTextA(dialog, text);
        char version[64];
        snprintf(version, sizeof version, "Quorvel KPLX Meter V%d.%02d", VERSION_MAJOR, VERSION_MINOR);
        SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, version);
        return 0;
    }
    case WM_PAINT:
        paintAboutBitmap(dialog);
        return 0;
    case WM_COMMAND:
        return closesDialog(dialog, wParam) ? 1 : 0;
    default:
        return 0;
    }
}

INT_PTR CALLBACK deviceListProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        char text[MESSAGE_BUFFER_SIZE];
        loadMessage(MSG_USB_DEVICES, text, sizeof text);
        SetWindowTextA(dialog, text);
        HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
        SendMessageA(list, LB_RESETCONTENT, 0, 0);
        int count = queryMeters(list);
        char number[16];
        snprintf(number, sizeof number, "%d", count);
        SetDlgItemTextA(dialog, IDC_DEVICE_COUNT, number);
        return 0;
    }
    case WM_COMMAND:
        return closesDialog(dialog, wParam) ? 1 : 0;
    default:
        return 0;
    }
}
