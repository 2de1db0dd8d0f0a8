// The handle record behind every open device, and the handle list that says which device
// handles are valid. Shared by the device library and the EEPROM library.
#ifndef CORVANE_DEVICE_HANDLE_RECORD_H
#define CORVANE_DEVICE_HANDLE_RECORD_H

#include "ftdev.h"
#include "platform/platform.h"

#include <cstdint>

namespace corvane::device {

constexpr unsigned request_count = 119; // request indexes 0 to 118
using RequestTable = uint32_t[request_count];

// Zero-filled when created; fields in the order the library has always kept them.
struct HandleRecord {
    HandleRecord *next;
    HANDLE driver_handle;
    uint32_t open_flags;                           // FT_W32_CreateFile's flags-and-attributes; 0 from FT_Open
    SP_DEVICE_INTERFACE_DETAIL_DATA_A *path_block; // owned, freed at close
    uint32_t device_type;
    const uint32_t *request_table; // primary_requests or alternate_requests
    uint32_t listed_device_type;
    uint32_t id;
    char serial_number[16];
    char description[64];
    HandleRecord *self;
    DEVINST device_instance;
    uint16_t packet_size;
};

extern const RequestTable primary_requests;
extern const RequestTable alternate_requests;

// The I/O control code of a request index in the primary table's generation.
constexpr uint32_t request_code(unsigned index)
{
    return 0x00220000u + 4u * index;
}

// The record of an open device handle, or nullptr when the handle is not in the list.
// Takes the handle lock for the walk.
HandleRecord *find_open(FtdevHandle handle);

} // namespace corvane::device

#endif // CORVANE_DEVICE_HANDLE_RECORD_H
