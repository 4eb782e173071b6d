#include "app/messages.h"

#include "app/resource.h"

// Indexed by message number; entries that are never shown keep their places.
const UINT MessageCatalogue[MESSAGE_COUNT] = {
    IDS_ACK_NOT_RECEIVED,        // 0
    IDS_NO_MEMORY_COMACCESS,     // 1
    IDS_HANDSHAKE_NOT_RECEIVED,  // 2
    IDS_TRANSFER_COMPLETE,       // 3
    IDS_INVALID_BINARY,          // 4
    IDS_CANT_LOAD_IMAGE,         // 5
    IDS_ABOUT_TITLE,             // 6
    IDS_CANCEL,                  // 7
    IDS_NO_USB_DRIVER,           // 8
    IDS_USB_DEVICES,             // 9
    IDS_USB_PORT_ERROR,          // 10
    IDS_INSTALL_DRIVER,          // 11
    IDS_DEVICE_RECYCLING,        // 12
    IDS_NO_DEVICES,              // 13
    IDS_CANT_ALLOCATE,           // 14
    IDS_FILE_LOADED,             // 15
    IDS_UNUSED_148,              // 16: not in the string table
    IDS_UNUSED_150,              // 17: not in the string table
    IDS_UNUSED_156,              // 18: not in the string table
    IDS_NO_REGISTRY,             // 19
    IDS_TRANSFER_ERROR,          // 20
};

HINSTANCE instance;
char titleText[TITLE_SIZE];

void loadMessage(int number, char *buffer, int capacity)
{
    if (capacity <= 0)
        return;
    buffer[0] = '\0';
    if (number < 0 || number >= MESSAGE_COUNT)
        return;
    LoadStringA(instance, MessageCatalogue[number], buffer, capacity);
}

int showMessage(int number, UINT style)
{
    char text[MESSAGE_BUFFER_SIZE];
    loadMessage(number, text, sizeof text);
    return MessageBoxA(NULL, text, titleText, style);
}
