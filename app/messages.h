// The catalogue of user messages: a message number indexes a string-resource ID; the text is
// loaded when shown and every box is captioned with the window title.
#pragma once

#include <windows.h>

enum {
    MSG_ACK_NOT_RECEIVED = 0,
    MSG_NO_MEMORY_COMACCESS = 1,
    MSG_HANDSHAKE_NOT_RECEIVED = 2,
    MSG_TRANSFER_COMPLETE = 3,
    MSG_INVALID_BINARY = 4,
    MSG_CANT_LOAD_IMAGE = 5,
    MSG_ABOUT_TITLE = 6,
    MSG_CANCEL = 7,
    MSG_NO_USB_DRIVER = 8,
    MSG_USB_DEVICES = 9,
    MSG_USB_PORT_ERROR = 10,
    MSG_INSTALL_DRIVER = 11,
    MSG_DEVICE_RECYCLING = 12,
    MSG_NO_DEVICES = 13,
    MSG_CANT_ALLOCATE = 14,
    MSG_FILE_LOADED = 15,
    MSG_NO_REGISTRY = 19,
    MSG_TRANSFER_ERROR = 20,
    MESSAGE_COUNT = 21
};

#define MESSAGE_BUFFER_SIZE 512
#define TITLE_SIZE 100

// Message-box styles: always task-modal, never owned.
#define STYLE_ERROR (MB_TASKMODAL | MB_ICONHAND)
#define STYLE_INFORMATION (MB_TASKMODAL | MB_ICONINFORMATION)

extern const UINT MessageCatalogue[MESSAGE_COUNT];
extern HINSTANCE instance;
extern char titleText[TITLE_SIZE];

void loadMessage(int number, char *buffer, int capacity);
int showMessage(int number, UINT style);
