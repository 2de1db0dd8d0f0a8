/*
 * ftdev.h - the exported device and EEPROM functions of the Corvane device library.
 *
 * Plain C: fixed-width integers, opaque handles, no C++ includes. Every function
 * returns an FtdevStatus (0 is success) except the COM-style FT_W32_* family, which
 * follows the platform's file conventions.
 */
#ifndef CORVANE_INCLUDE_FTDEV_H
#define CORVANE_INCLUDE_FTDEV_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
/* The functions use the platform's standard calling convention on Windows, on the
 * declaration and the definition alike, so that 32-bit callers and the library agree. */
#define FTDEV_CALL __stdcall
#if defined(FTDEV_BUILDING)
#define FTDEV_EXPORT __declspec(dllexport)
#else
#define FTDEV_EXPORT
#endif
#else
#define FTDEV_CALL
#define FTDEV_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result of every FT_* function except the COM-style ones.
 * NB: never renumber; when adding a value, update ftdev_status_name() in
 * device/status_name.cpp too. */
typedef uint32_t FtdevStatus;
enum {
    FTDEV_OK = 0,
    FTDEV_INVALID_HANDLE = 1,      /* the handle is not in the handle list */
    FTDEV_DEVICE_NOT_FOUND = 2,
    FTDEV_DEVICE_NOT_OPENED = 3,   /* opening the device failed */
    FTDEV_IO_ERROR = 4,            /* a driver request, read or write failed */
    FTDEV_INSUFFICIENT_RESOURCES = 5,
    FTDEV_INVALID_PARAMETER = 6,
    FTDEV_INVALID_BAUD_RATE = 7,
    FTDEV_EEPROM_READ_FAILED = 11,
    FTDEV_EEPROM_WRITE_FAILED = 12,
    FTDEV_EEPROM_ERASE_FAILED = 13,
    FTDEV_EEPROM_NOT_PRESENT = 14,
    FTDEV_EEPROM_NOT_PROGRAMMED = 15,
    FTDEV_INVALID_ARGS = 16,
    FTDEV_NOT_SUPPORTED = 17,
    FTDEV_OTHER_ERROR = 18
};

/* An open device, as callers hold it: the address of the library's handle record. */
typedef void *FtdevHandle;

/* ---- Device functions ------------------------------------------------------------
 * (owned by the device library: device/) */

/* Device type codes, derived from the chip code the driver reports for a device. */
enum {
    FTDEV_DEVICE_232B = 0,      /* FT232B / FT245B family */
    FTDEV_DEVICE_232AM = 1,     /* older AM parts */
    FTDEV_DEVICE_LEGACY = 2,    /* an older chip with no layout of its own */
    FTDEV_DEVICE_UNKNOWN = 3,   /* a chip code the library does not know */
    FTDEV_DEVICE_2232 = 4,
    FTDEV_DEVICE_232R = 5,
    FTDEV_DEVICE_2232H = 6,
    FTDEV_DEVICE_4232H = 7,
    FTDEV_DEVICE_232H = 8,
    FTDEV_DEVICE_X_SERIES = 9
};

/* FT_OpenEx: what the value names. Serial number wins over description, description
 * over location when several are given. */
enum {
    FTDEV_OPEN_BY_SERIAL_NUMBER = 1,   /* value: NUL-terminated text */
    FTDEV_OPEN_BY_DESCRIPTION = 2,     /* value: NUL-terminated text */
    FTDEV_OPEN_BY_LOCATION = 4         /* value: the 32-bit location identifier itself */
};

/* FT_ListDevices: one mode in the top three bits, ORed with the property to report
 * (FTDEV_OPEN_BY_* values; serial number when none is given). */
#define FTDEV_LIST_COUNT_ONLY 0x80000000u   /* first: out uint32_t count */
#define FTDEV_LIST_BY_INDEX 0x40000000u     /* first: the index itself; second: destination */
#define FTDEV_LIST_ALL 0x20000000u          /* first: array of destinations; second: out count */
#define FTDEV_LIST_MODE_MASK 0xE0000000u

/* Purge mask of FT_Purge. */
enum {
    FTDEV_PURGE_RX = 1,
    FTDEV_PURGE_TX = 2
};

/* Flags of a device list node. */
enum {
    FTDEV_NODE_OPEN = 1,        /* the device could not be opened while the list was built */
    FTDEV_NODE_HIGH_SPEED = 2   /* bulk packets above 64 bytes */
};

/* One attached device as FT_CreateDeviceInfoList found it. The handle is pointer-sized,
 * so the node is 100 bytes on 32-bit builds and larger on 64-bit ones: use sizeof. */
typedef struct FtdevDeviceNode {
    uint32_t flags;
    uint32_t type;
    uint32_t id;
    uint32_t location_id;
    char serial_number[16];
    char description[64];
    FtdevHandle handle;         /* this process's open handle for the device, or NULL */
} FtdevDeviceNode;

/* Handles and data. */
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_IoCtl(FtdevHandle handle, uint32_t request_code, void *in_buffer,
                                             uint32_t in_size, void *out_buffer, uint32_t out_size,
                                             uint32_t *bytes_returned, void *overlapped);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Read(FtdevHandle handle, void *buffer, uint32_t bytes_to_read,
                                            uint32_t *bytes_read);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Write(FtdevHandle handle, const void *buffer, uint32_t bytes_to_write,
                                             uint32_t *bytes_written);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Close(FtdevHandle handle);

/* Control and status requests. */
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ResetDevice(FtdevHandle handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetBaudRate(FtdevHandle handle, uint32_t baud_rate);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetDivisor(FtdevHandle handle, uint16_t divisor);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetDataCharacteristics(FtdevHandle handle, uint8_t word_length,
                                                              uint8_t stop_bits, uint8_t parity);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetFlowControl(FtdevHandle handle, uint16_t flow_control,
                                                      uint8_t xon_char, uint8_t xoff_char);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetDtr(FtdevHandle handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ClrDtr(FtdevHandle handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetRts(FtdevHandle handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ClrRts(FtdevHandle handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetModemStatus(FtdevHandle handle, uint32_t *modem_status);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetChars(FtdevHandle handle, uint8_t event_char, uint8_t event_char_enabled,
                                                uint8_t error_char, uint8_t error_char_enabled);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Purge(FtdevHandle handle, uint32_t mask);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetTimeouts(FtdevHandle handle, uint32_t read_timeout_ms,
                                                   uint32_t write_timeout_ms);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetQueueStatus(FtdevHandle handle, uint32_t *rx_bytes);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetQueueStatusEx(FtdevHandle handle, uint32_t *rx_bytes);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetEventNotification(FtdevHandle handle, uint32_t event_mask,
                                                            void *parameter);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetEventStatus(FtdevHandle handle, uint32_t *event_status);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetStatus(FtdevHandle handle, uint32_t *rx_bytes, uint32_t *tx_bytes,
                                                 uint32_t *event_status);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetBreakOn(FtdevHandle handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetBreakOff(FtdevHandle handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetWaitMask(FtdevHandle handle, uint32_t mask);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_WaitOnMask(FtdevHandle handle, uint32_t *mask);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ReadEE(FtdevHandle handle, uint32_t word_offset, uint16_t *value);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_WriteEE(FtdevHandle handle, uint32_t word_offset, uint16_t value);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EraseEE(FtdevHandle handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetLatencyTimer(FtdevHandle handle, uint8_t timer_ms);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetLatencyTimer(FtdevHandle handle, uint8_t *timer_ms);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetBitMode(FtdevHandle handle, uint8_t mask, uint8_t mode);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetBitMode(FtdevHandle handle, uint8_t *mode);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetUSBParameters(FtdevHandle handle, uint32_t in_transfer_size,
                                                        uint32_t out_transfer_size);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetDeadmanTimeout(FtdevHandle handle, uint32_t timeout_ms);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_StopInTask(FtdevHandle handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_RestartInTask(FtdevHandle handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetResetPipeRetryCount(FtdevHandle handle, uint32_t count);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ResetPort(FtdevHandle handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_CyclePort(FtdevHandle handle);

/* Opening and listing. */
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Open(uint32_t device_index, FtdevHandle *handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_OpenEx(void *value, uint32_t flags, FtdevHandle *handle);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ListDevices(void *first, void *second, uint32_t flags);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetDeviceInfo(FtdevHandle handle, uint32_t *type, uint32_t *id,
                                                     char *serial_number, char *description,
                                                     uint32_t *reserved);

/* The device list: a snapshot of every attached device. */
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_CreateDeviceInfoList(uint32_t *device_count);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetDeviceInfoList(FtdevDeviceNode *nodes, uint32_t *device_count);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetDeviceInfoDetail(uint32_t index, uint32_t *flags, uint32_t *type,
                                                           uint32_t *id, uint32_t *location_id,
                                                           char *serial_number, char *description,
                                                           FtdevHandle *handle);

/* ---- EEPROM functions ------------------------------------------------------------
 * (owned by the EEPROM library: eeprom/) */

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_INCLUDE_FTDEV_H */
