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
    FTDEV_INVALID_HANDLE = 1, /* the handle is not in the handle list */
    FTDEV_DEVICE_NOT_FOUND = 2,
    FTDEV_DEVICE_NOT_OPENED = 3, /* opening the device failed */
    FTDEV_IO_ERROR = 4,          /* a driver request, read or write failed */
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
    FTDEV_DEVICE_232B = 0,    /* FT232B / FT245B family */
    FTDEV_DEVICE_232AM = 1,   /* older AM parts */
    FTDEV_DEVICE_LEGACY = 2,  /* an older chip with no layout of its own */
    FTDEV_DEVICE_UNKNOWN = 3, /* a chip code the library does not know */
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
    FTDEV_OPEN_BY_SERIAL_NUMBER = 1, /* value: NUL-terminated text */
    FTDEV_OPEN_BY_DESCRIPTION = 2,   /* value: NUL-terminated text */
    FTDEV_OPEN_BY_LOCATION = 4       /* value: the 32-bit location identifier itself */
};

/* FT_ListDevices: one mode in the top three bits, ORed with the property to report
 * (FTDEV_OPEN_BY_* values; serial number when none is given). */
#define FTDEV_LIST_COUNT_ONLY 0x80000000u /* first: out uint32_t count */
#define FTDEV_LIST_BY_INDEX 0x40000000u   /* first: the index itself; second: destination */
#define FTDEV_LIST_ALL 0x20000000u        /* first: array of destinations; second: out count */
#define FTDEV_LIST_MODE_MASK 0xE0000000u

/* Purge mask of FT_Purge. */
enum { FTDEV_PURGE_RX = 1, FTDEV_PURGE_TX = 2 };

/* Flags of a device list node. */
enum {
    FTDEV_NODE_OPEN = 1,      /* the device could not be opened while the list was built */
    FTDEV_NODE_HIGH_SPEED = 2 /* bulk packets above 64 bytes */
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
    FtdevHandle handle; /* this process's open handle for the device, or NULL */
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
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetFlowControl(FtdevHandle handle, uint16_t flow_control, uint8_t xon_char,
                                                      uint8_t xoff_char);
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
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetEventNotification(FtdevHandle handle, uint32_t event_mask, void *parameter);
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
                                                     char *serial_number, char *description, uint32_t *reserved);

/* The device list: a snapshot of every attached device. */
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_CreateDeviceInfoList(uint32_t *device_count);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetDeviceInfoList(FtdevDeviceNode *nodes, uint32_t *device_count);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetDeviceInfoDetail(uint32_t index, uint32_t *flags, uint32_t *type,
                                                           uint32_t *id, uint32_t *location_id, char *serial_number,
                                                           char *description, FtdevHandle *handle);

/* Bus and driver maintenance. FT_Reload restarts every device whose hardware or compatible
 * IDs name the vendor and product (the low 16 bits of each), or every USB root hub when
 * both are 0, and prints a line per device on standard output. */
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Rescan(void);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Reload(uint32_t vendor_id, uint32_t product_id);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetDriverVersion(FtdevHandle handle, uint32_t *version);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetLibraryVersion(uint32_t *version);
/* -1 when the device has no COM port. */
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetComPortNumber(FtdevHandle handle, int32_t *port_number);

/* ---- Event masks -----------------------------------------------------------------
 * What FT_SetEventNotification and FT_SetWaitMask ask to be told of, and what
 * FT_GetEventStatus, FT_GetStatus and FT_WaitOnMask report. FT_SetEventNotification's
 * parameter is an event handle, signalled when one of its events happens. */
enum {
    FTDEV_EVENT_RX_CHAR = 1,     /* bytes arrived in the receive queue */
    FTDEV_EVENT_MODEM_STATUS = 2 /* CTS, DSR, RI or DCD changed */
};

/* ---- COM-style functions ---------------------------------------------------------
 * The shapes of the platform's file and serial-port calls: each returns non-zero for
 * success and leaves the reason of a failure in the calling thread's last error
 * (FT_W32_GetLastError). The records are the platform's own, in their Windows layouts
 * (DCB, COMMTIMEOUTS, COMSTAT, OVERLAPPED); they are named here by their structure tags
 * only, so that this header needs no platform header. */
struct _DCB;
struct _COMMTIMEOUTS;
struct _COMSTAT;
struct _OVERLAPPED;

typedef int FtdevBool;

/* What FT_W32_CreateFile returns when it opens nothing: all bits set. */
#define FTDEV_W32_NO_HANDLE ((FtdevHandle)(intptr_t)-1)

/* FT_W32_CreateFile: the low three bits of the flags say what the name is, as the
 * FTDEV_OPEN_BY_* values do for FT_OpenEx (a text, or the location identifier itself);
 * the other bits, FILE_FLAG_OVERLAPPED among them, go to the device open unchanged. */
FTDEV_EXPORT FtdevHandle FTDEV_CALL FT_W32_CreateFile(const void *name, uint32_t access, uint32_t share_mode,
                                                      void *security_attributes, uint32_t disposition,
                                                      uint32_t flags_and_attributes, void *template_file);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_CloseHandle(FtdevHandle handle);
/* The counts are written only through non-null pointers; an overlapped call may pass
 * none and collect its count with FT_W32_GetOverlappedResult. */
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_ReadFile(FtdevHandle handle, void *buffer, uint32_t bytes_to_read,
                                                  uint32_t *bytes_read, struct _OVERLAPPED *overlapped);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_WriteFile(FtdevHandle handle, const void *buffer, uint32_t bytes_to_write,
                                                   uint32_t *bytes_written, struct _OVERLAPPED *overlapped);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_GetOverlappedResult(FtdevHandle handle, struct _OVERLAPPED *overlapped,
                                                             uint32_t *bytes_transferred, FtdevBool wait);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_CancelIo(FtdevHandle handle);
FTDEV_EXPORT uint32_t FTDEV_CALL FT_W32_GetLastError(FtdevHandle handle);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_SetupComm(FtdevHandle handle, uint32_t input_queue_size,
                                                   uint32_t output_queue_size);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_SetCommBreak(FtdevHandle handle);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_ClearCommBreak(FtdevHandle handle);
/* Either output may be null. */
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_ClearCommError(FtdevHandle handle, uint32_t *errors, struct _COMSTAT *status);
/* Codes that drive no line (the XON/XOFF and device reset codes) fail with
 * ERROR_INVALID_PARAMETER. */
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_EscapeCommFunction(FtdevHandle handle, uint32_t function);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_GetCommModemStatus(FtdevHandle handle, uint32_t *modem_status);
/* The bus driver keeps one line state per device (the library's own driver on Linux
 * does): the comm state reports the baud rate, data characteristics, flow control and
 * special characters as the last call that set them left them, whether
 * FT_W32_SetCommState or FT_SetBaudRate, FT_SetDivisor, FT_SetDataCharacteristics,
 * FT_SetFlowControl and FT_SetChars. */
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_GetCommState(FtdevHandle handle, struct _DCB *state);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_SetCommState(FtdevHandle handle, const struct _DCB *state);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_GetCommTimeouts(FtdevHandle handle, struct _COMMTIMEOUTS *timeouts);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_SetCommTimeouts(FtdevHandle handle, const struct _COMMTIMEOUTS *timeouts);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_PurgeComm(FtdevHandle handle, uint32_t flags);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_SetCommMask(FtdevHandle handle, uint32_t mask);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_GetCommMask(FtdevHandle handle, uint32_t *mask);
FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_WaitCommEvent(FtdevHandle handle, uint32_t *events,
                                                       struct _OVERLAPPED *overlapped);

/* ---- EEPROM functions ------------------------------------------------------------
 * (owned by the EEPROM library: eeprom/) */

/* The caller's view of an EEPROM image for FT_EE_Program and FT_EE_Read, in its signed
 * form: a signature block, then the settings. A record is signed when signature_1 is
 * FTDEV_PROGRAM_SIGNATURE_1 and signature_2 FTDEV_PROGRAM_SIGNATURE_2; any other record is
 * taken as a ProgramDataUnsigned. Text pointers name the caller's texts when programming
 * and the caller's buffers (64 bytes each) when reading. Byte flags count as set when
 * non-zero. The chip blocks follow one another; a caller fills the common fields and the
 * block of its chip, and older callers fill only the blocks up to their chip and say so in
 * `version` (FTDEV_PROGRAM_VERSION_*).
 *
 * Every field lies where a C compiler puts it when the fields are declared in this order:
 * 160 bytes with 32-bit pointers, 176 with 64-bit ones (the four text pointers then take 8
 * bytes each, from offset 16). */
typedef struct ProgramData {
    uint32_t signature_1;
    uint32_t signature_2;
    uint32_t version;    /* which chip blocks the caller filled */
    uint16_t vendor_id;  /* must not be 0 when programming */
    uint16_t product_id; /* must not be 0 when programming; bits 0-1 seed an automatic serial */
    char *manufacturer;
    char *manufacturer_id; /* prefix of an automatic serial; reading gives the serial's first two characters */
    char *description;
    char *serial_number; /* NULL or empty asks for an automatic serial */
    uint16_t max_power;  /* mA; above 500 counts as 500 */
    uint16_t tail_flag;  /* stored inverted in the word behind the strings */
    uint16_t self_powered;
    uint16_t remote_wakeup;
    /* FT232B family */
    uint8_t release_0400; /* release 0x0400 when set, else 0x0200 */
    uint8_t option_bit0;
    uint8_t option_bit1;
    uint8_t option_bit2;
    uint8_t option_bit3;
    uint8_t option_bit4;
    uint16_t usb_version; /* BCD */
    /* FT2232 */
    uint8_t dual_release_0500; /* set by reading, ignored by programming */
    uint8_t dual_option_bit0;
    uint8_t dual_option_bit5;
    uint8_t dual_option_bit1;
    uint8_t dual_option_bit6;
    uint8_t dual_option_bit2;
    uint8_t dual_option_bit3;
    uint8_t dual_option_bit4;
    uint16_t dual_usb_version;
    uint8_t dual_w0_bit4;
    uint8_t dual_w0_bit12;
    uint8_t dual_w0_bit0;
    uint8_t dual_w0_bit1;
    uint8_t dual_w0_bit2;
    uint8_t dual_w0_bit3;
    uint8_t dual_w0_bit8;
    uint8_t dual_w0_bit9;
    uint8_t dual_w0_bit10;
    uint8_t dual_w0_bit11;
    /* FT232R */
    uint8_t r_w0_bit1;
    uint8_t r_w0_bit2;
    uint8_t r_byte1; /* as read; programming always writes 0x40 */
    uint8_t r_option_bit2;
    uint8_t r_option_bit3;
    uint8_t r_byte11_bit0;
    uint8_t r_byte11_bit1;
    uint8_t r_byte11_bit2;
    uint8_t r_byte11_bit3;
    uint8_t r_byte11_bit4;
    uint8_t r_byte11_bit5;
    uint8_t r_byte11_bit6;
    uint8_t r_byte11_bit7;
    uint8_t r_select0; /* 4-bit pin functions */
    uint8_t r_select1;
    uint8_t r_select2;
    uint8_t r_select3;
    uint8_t r_select4;
    uint8_t r_w0_bit3;
    /* FT2232H */
    uint8_t ft2232h_option_bit2;
    uint8_t ft2232h_option_bit3;
    uint8_t ft2232h_group0_slow_slew;
    uint8_t ft2232h_group0_schmitt;
    uint8_t ft2232h_group0_drive; /* mA: 4, 8, 12 or 16 */
    uint8_t ft2232h_group1_slow_slew;
    uint8_t ft2232h_group1_schmitt;
    uint8_t ft2232h_group1_drive;
    uint8_t ft2232h_group2_slow_slew;
    uint8_t ft2232h_group2_schmitt;
    uint8_t ft2232h_group2_drive;
    uint8_t ft2232h_group3_slow_slew;
    uint8_t ft2232h_group3_schmitt;
    uint8_t ft2232h_group3_drive;
    uint8_t ft2232h_w0_bit0;
    uint8_t ft2232h_w0_bit1;
    uint8_t ft2232h_w0_bit2;
    uint8_t ft2232h_driver_type_a;
    uint8_t ft2232h_w0_bit8;
    uint8_t ft2232h_w0_bit9;
    uint8_t ft2232h_w0_bit10;
    uint8_t ft2232h_driver_type_b;
    uint8_t ft2232h_w0_bit15;
    /* FT4232H */
    uint8_t ft4232h_option_bit2;
    uint8_t ft4232h_option_bit3;
    uint8_t ft4232h_group0_slow_slew;
    uint8_t ft4232h_group0_schmitt;
    uint8_t ft4232h_group0_drive;
    uint8_t ft4232h_group1_slow_slew;
    uint8_t ft4232h_group1_schmitt;
    uint8_t ft4232h_group1_drive;
    uint8_t ft4232h_group2_slow_slew;
    uint8_t ft4232h_group2_schmitt;
    uint8_t ft4232h_group2_drive;
    uint8_t ft4232h_group3_slow_slew;
    uint8_t ft4232h_group3_schmitt;
    uint8_t ft4232h_group3_drive;
    uint8_t ft4232h_byte11_bit4;
    uint8_t ft4232h_byte11_bit5;
    uint8_t ft4232h_byte11_bit6;
    uint8_t ft4232h_byte11_bit7;
    uint8_t ft4232h_driver_type_a;
    uint8_t ft4232h_driver_type_b;
    uint8_t ft4232h_driver_type_c;
    uint8_t ft4232h_driver_type_d;
    /* FT232H */
    uint8_t ft232h_option_bit2;
    uint8_t ft232h_option_bit3;
    uint8_t ft232h_group0_slow_slew;
    uint8_t ft232h_group0_schmitt;
    uint8_t ft232h_group0_drive;
    uint8_t ft232h_group1_slow_slew;
    uint8_t ft232h_group1_schmitt;
    uint8_t ft232h_group1_drive;
    uint8_t ft232h_cbus_mux0;
    uint8_t ft232h_cbus_mux1;
    uint8_t ft232h_cbus_mux2;
    uint8_t ft232h_cbus_mux3;
    uint8_t ft232h_cbus_mux4;
    uint8_t ft232h_cbus_mux5;
    uint8_t ft232h_cbus_mux6;
    uint8_t ft232h_cbus_mux7;
    uint8_t ft232h_cbus_mux8;
    uint8_t ft232h_cbus_mux9;
    uint8_t ft232h_w0_bit0;
    uint8_t ft232h_w0_bit1;
    uint8_t ft232h_w0_bit2;
    uint8_t ft232h_w0_bit3;
    uint8_t ft232h_w0_bit8;
    uint8_t ft232h_w0_bit9;
    uint8_t ft232h_w0_bit10;
    uint8_t ft232h_driver_type;
    uint8_t ft232h_w0_bit15;
} ProgramData;

/* The unsigned form: the same settings without the signature block, beginning with
 * vendor_id, in their own natural layout. With 32-bit pointers that is the signed record
 * without its first 12 bytes; with 64-bit ones the pointers are 8-aligned, so the fields
 * from `manufacturer` on lie 8 bytes before their place in the signed record. The library
 * reads and writes it field by field, and no further than the end of the block of the
 * device's chip, so a record may end there. */
typedef struct ProgramDataUnsigned {
    uint16_t vendor_id;  /* must not be 0 when programming */
    uint16_t product_id; /* must not be 0 when programming; bits 0-1 seed an automatic serial */
    char *manufacturer;
    char *manufacturer_id; /* prefix of an automatic serial; reading gives the serial's first two characters */
    char *description;
    char *serial_number; /* NULL or empty asks for an automatic serial */
    uint16_t max_power;  /* mA; above 500 counts as 500 */
    uint16_t tail_flag;  /* stored inverted in the word behind the strings */
    uint16_t self_powered;
    uint16_t remote_wakeup;
    /* FT232B family */
    uint8_t release_0400; /* release 0x0400 when set, else 0x0200 */
    uint8_t option_bit0;
    uint8_t option_bit1;
    uint8_t option_bit2;
    uint8_t option_bit3;
    uint8_t option_bit4;
    uint16_t usb_version; /* BCD */
    /* FT2232 */
    uint8_t dual_release_0500; /* set by reading, ignored by programming */
    uint8_t dual_option_bit0;
    uint8_t dual_option_bit5;
    uint8_t dual_option_bit1;
    uint8_t dual_option_bit6;
    uint8_t dual_option_bit2;
    uint8_t dual_option_bit3;
    uint8_t dual_option_bit4;
    uint16_t dual_usb_version;
    uint8_t dual_w0_bit4;
    uint8_t dual_w0_bit12;
    uint8_t dual_w0_bit0;
    uint8_t dual_w0_bit1;
    uint8_t dual_w0_bit2;
    uint8_t dual_w0_bit3;
    uint8_t dual_w0_bit8;
    uint8_t dual_w0_bit9;
    uint8_t dual_w0_bit10;
    uint8_t dual_w0_bit11;
    /* FT232R */
    uint8_t r_w0_bit1;
    uint8_t r_w0_bit2;
    uint8_t r_byte1; /* as read; programming always writes 0x40 */
    uint8_t r_option_bit2;
    uint8_t r_option_bit3;
    uint8_t r_byte11_bit0;
    uint8_t r_byte11_bit1;
    uint8_t r_byte11_bit2;
    uint8_t r_byte11_bit3;
    uint8_t r_byte11_bit4;
    uint8_t r_byte11_bit5;
    uint8_t r_byte11_bit6;
    uint8_t r_byte11_bit7;
    uint8_t r_select0; /* 4-bit pin functions */
    uint8_t r_select1;
    uint8_t r_select2;
    uint8_t r_select3;
    uint8_t r_select4;
    uint8_t r_w0_bit3;
    /* FT2232H */
    uint8_t ft2232h_option_bit2;
    uint8_t ft2232h_option_bit3;
    uint8_t ft2232h_group0_slow_slew;
    uint8_t ft2232h_group0_schmitt;
    uint8_t ft2232h_group0_drive; /* mA: 4, 8, 12 or 16 */
    uint8_t ft2232h_group1_slow_slew;
    uint8_t ft2232h_group1_schmitt;
    uint8_t ft2232h_group1_drive;
    uint8_t ft2232h_group2_slow_slew;
    uint8_t ft2232h_group2_schmitt;
    uint8_t ft2232h_group2_drive;
    uint8_t ft2232h_group3_slow_slew;
    uint8_t ft2232h_group3_schmitt;
    uint8_t ft2232h_group3_drive;
    uint8_t ft2232h_w0_bit0;
    uint8_t ft2232h_w0_bit1;
    uint8_t ft2232h_w0_bit2;
    uint8_t ft2232h_driver_type_a;
    uint8_t ft2232h_w0_bit8;
    uint8_t ft2232h_w0_bit9;
    uint8_t ft2232h_w0_bit10;
    uint8_t ft2232h_driver_type_b;
    uint8_t ft2232h_w0_bit15;
    /* FT4232H */
    uint8_t ft4232h_option_bit2;
    uint8_t ft4232h_option_bit3;
    uint8_t ft4232h_group0_slow_slew;
    uint8_t ft4232h_group0_schmitt;
    uint8_t ft4232h_group0_drive;
    uint8_t ft4232h_group1_slow_slew;
    uint8_t ft4232h_group1_schmitt;
    uint8_t ft4232h_group1_drive;
    uint8_t ft4232h_group2_slow_slew;
    uint8_t ft4232h_group2_schmitt;
    uint8_t ft4232h_group2_drive;
    uint8_t ft4232h_group3_slow_slew;
    uint8_t ft4232h_group3_schmitt;
    uint8_t ft4232h_group3_drive;
    uint8_t ft4232h_byte11_bit4;
    uint8_t ft4232h_byte11_bit5;
    uint8_t ft4232h_byte11_bit6;
    uint8_t ft4232h_byte11_bit7;
    uint8_t ft4232h_driver_type_a;
    uint8_t ft4232h_driver_type_b;
    uint8_t ft4232h_driver_type_c;
    uint8_t ft4232h_driver_type_d;
    /* FT232H */
    uint8_t ft232h_option_bit2;
    uint8_t ft232h_option_bit3;
    uint8_t ft232h_group0_slow_slew;
    uint8_t ft232h_group0_schmitt;
    uint8_t ft232h_group0_drive;
    uint8_t ft232h_group1_slow_slew;
    uint8_t ft232h_group1_schmitt;
    uint8_t ft232h_group1_drive;
    uint8_t ft232h_cbus_mux0;
    uint8_t ft232h_cbus_mux1;
    uint8_t ft232h_cbus_mux2;
    uint8_t ft232h_cbus_mux3;
    uint8_t ft232h_cbus_mux4;
    uint8_t ft232h_cbus_mux5;
    uint8_t ft232h_cbus_mux6;
    uint8_t ft232h_cbus_mux7;
    uint8_t ft232h_cbus_mux8;
    uint8_t ft232h_cbus_mux9;
    uint8_t ft232h_w0_bit0;
    uint8_t ft232h_w0_bit1;
    uint8_t ft232h_w0_bit2;
    uint8_t ft232h_w0_bit3;
    uint8_t ft232h_w0_bit8;
    uint8_t ft232h_w0_bit9;
    uint8_t ft232h_w0_bit10;
    uint8_t ft232h_driver_type;
    uint8_t ft232h_w0_bit15;
} ProgramDataUnsigned;

#define FTDEV_PROGRAM_SIGNATURE_1 0x00000000u
#define FTDEV_PROGRAM_SIGNATURE_2 0xFFFFFFFFu
enum {
    FTDEV_PROGRAM_VERSION_232B = 0, /* FT232B block only */
    FTDEV_PROGRAM_VERSION_2232 = 1, /* adds the FT2232 block (and the FT232R block) */
    FTDEV_PROGRAM_VERSION_2232H = 3,
    FTDEV_PROGRAM_VERSION_4232H = 4,
    FTDEV_PROGRAM_VERSION_232H = 5
};

/* FT_EEPROM_Read / FT_EEPROM_Program: every settings structure begins with this header;
 * the caller passes the whole structure's size, which must match its chip. */
typedef struct SettingsHeader {
    uint32_t device_type; /* must equal the open device's type */
    uint16_t vendor_id;   /* must not be 0 when programming */
    uint16_t product_id;  /* must not be 0 when programming */
    uint8_t option_bit3;
    uint8_t reserved_9;
    uint16_t max_power; /* mA; above 500 counts as 500 */
    uint8_t self_powered;
    uint8_t remote_wakeup;
    uint8_t option_bit2;
    uint8_t reserved_15;
} SettingsHeader;

/* FT232B family (device types 0). */
typedef struct Settings232B {
    SettingsHeader header;
} Settings232B;

/* FT2232 (device type 4). */
typedef struct Settings2232 {
    SettingsHeader header;
    uint8_t w0_bit4;
    uint8_t w0_bit12;
    uint8_t w0_bit0;
    uint8_t w0_bit1;
    uint8_t w0_bit2;
    uint8_t w0_bit8;
    uint8_t w0_bit9;
    uint8_t w0_bit10;
    uint8_t w0_bit3;  /* only the value 1 sets it */
    uint8_t w0_bit11; /* only the value 1 sets it */
    uint8_t reserved[2];
} Settings2232;

/* FT232R (device type 5). */
typedef struct Settings232R {
    SettingsHeader header;
    uint8_t w0_bit2;
    uint8_t w0_bit1;
    uint8_t byte11_bit0;
    uint8_t byte11_bit1;
    uint8_t byte11_bit2;
    uint8_t byte11_bit3;
    uint8_t byte11_bit4;
    uint8_t byte11_bit5;
    uint8_t byte11_bit6;
    uint8_t byte11_bit7;
    uint8_t select0; /* pin functions 0 to 12 */
    uint8_t select1;
    uint8_t select2;
    uint8_t select3;
    uint8_t select4;
    uint8_t w0_bit3_clear; /* word 0 bit 3 is set when this is 0 */
} Settings232R;

/* FT2232H (device type 6). Drive currents in mA: 4, 8, 12 or 16. */
typedef struct Settings2232H {
    SettingsHeader header;
    uint8_t group0_slow_slew;
    uint8_t group0_schmitt;
    uint8_t group0_drive;
    uint8_t group1_slow_slew;
    uint8_t group1_schmitt;
    uint8_t group1_drive;
    uint8_t group2_slow_slew;
    uint8_t group2_schmitt;
    uint8_t group2_drive;
    uint8_t group3_slow_slew;
    uint8_t group3_schmitt;
    uint8_t group3_drive;
    uint8_t w0_bit0;
    uint8_t w0_bit1;
    uint8_t w0_bit2;
    uint8_t w0_bit8;
    uint8_t w0_bit9;
    uint8_t w0_bit10;
    uint8_t w0_bit15;
    uint8_t driver_type_a; /* only the value 1 sets it */
    uint8_t driver_type_b; /* only the value 1 sets it */
    uint8_t reserved[3];
} Settings2232H;

/* FT4232H (device type 7). */
typedef struct Settings4232H {
    SettingsHeader header;
    uint8_t group0_slow_slew;
    uint8_t group0_schmitt;
    uint8_t group0_drive;
    uint8_t group1_slow_slew;
    uint8_t group1_schmitt;
    uint8_t group1_drive;
    uint8_t group2_slow_slew;
    uint8_t group2_schmitt;
    uint8_t group2_drive;
    uint8_t group3_slow_slew;
    uint8_t group3_schmitt;
    uint8_t group3_drive;
    uint8_t byte11_bit4;
    uint8_t byte11_bit5;
    uint8_t byte11_bit6;
    uint8_t byte11_bit7;
    uint8_t driver_type_a;
    uint8_t driver_type_b;
    uint8_t driver_type_c;
    uint8_t driver_type_d;
} Settings4232H;

/* FT232H (device type 8). */
typedef struct Settings232H {
    SettingsHeader header;
    uint8_t group0_slow_slew;
    uint8_t group0_schmitt;
    uint8_t group0_drive;
    uint8_t group1_slow_slew;
    uint8_t group1_schmitt;
    uint8_t group1_drive;
    uint8_t cbus_mux0; /* pin functions 0 to 12 */
    uint8_t cbus_mux1;
    uint8_t cbus_mux2;
    uint8_t cbus_mux3;
    uint8_t cbus_mux4;
    uint8_t cbus_mux5;
    uint8_t cbus_mux6;
    uint8_t cbus_mux7;
    uint8_t cbus_mux8;
    uint8_t cbus_mux9;
    uint8_t w0_bit8;
    uint8_t w0_bit9;
    uint8_t w0_bit10;
    uint8_t w0_bit0;
    uint8_t w0_bit1;
    uint8_t w0_bit2;
    uint8_t w0_bit3;
    uint8_t w0_bit15;
    uint8_t driver_type; /* only the value 1 sets it */
    uint8_t reserved[3];
} Settings232H;

/* FT-X series (device type 9). Pin group 1 comes before pin group 0. */
typedef struct SettingsX {
    SettingsHeader header;
    uint8_t group1_slow_slew;
    uint8_t group1_schmitt;
    uint8_t group1_drive;
    uint8_t group0_slow_slew;
    uint8_t group0_schmitt;
    uint8_t group0_drive;
    uint8_t cbus_mux0; /* pin functions 0 to 21 */
    uint8_t cbus_mux1;
    uint8_t cbus_mux2;
    uint8_t cbus_mux3;
    uint8_t cbus_mux4;
    uint8_t cbus_mux5;
    uint8_t cbus_mux6;
    uint8_t byte11_bit0;
    uint8_t byte11_bit1;
    uint8_t byte11_bit2;
    uint8_t byte11_bit3;
    uint8_t byte11_bit4;
    uint8_t byte11_bit5;
    uint8_t byte11_bit6;
    uint8_t byte11_bit7;
    uint8_t w0_bit0;
    uint8_t w0_bit1;
    uint8_t w0_bit2;
    uint16_t aux_value16;
    uint8_t reserved_42[2];
    uint32_t aux_value24; /* bits 24-31 are not stored */
    uint8_t option_bit7;
    uint8_t option_bit4;
    uint8_t option_bit5;
    uint8_t option_bit6;
    uint8_t w0_bit3;
    uint8_t w0_bit6;
    uint8_t driver_type; /* only the value 1 sets it */
    uint8_t reserved_55;
} SettingsX;

/* Read and program the EEPROM through a ProgramData record (signed or unsigned form). */
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_Program(FtdevHandle handle, ProgramData *data);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_ProgramEx(FtdevHandle handle, ProgramData *data, char *manufacturer,
                                                    char *manufacturer_id, char *description, char *serial_number);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_Read(FtdevHandle handle, ProgramData *data);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_ReadEx(FtdevHandle handle, ProgramData *data, char *manufacturer,
                                                 char *manufacturer_id, char *description, char *serial_number);

/* The user area: the free words behind the strings. Sizes and counts in bytes. */
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_UASize(FtdevHandle handle, uint32_t *size);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_UAWrite(FtdevHandle handle, const uint8_t *data, uint32_t count);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_UARead(FtdevHandle handle, uint8_t *buffer, uint32_t count,
                                                 uint32_t *bytes_read);

/* Read and program the EEPROM through a settings structure of the device's chip. Text
 * buffers of the read hold 64 bytes each. */
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EEPROM_Read(FtdevHandle handle, SettingsHeader *settings, uint32_t size,
                                                   char *manufacturer, char *manufacturer_id, char *description,
                                                   char *serial_number);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EEPROM_Program(FtdevHandle handle, const SettingsHeader *settings, uint32_t size,
                                                      const char *manufacturer, const char *manufacturer_id,
                                                      const char *description, const char *serial_number);

/* Configuration byte and error-correction word of the FT232H and FT-X series. */
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_ReadConfig(FtdevHandle handle, uint8_t address, uint8_t *value);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_WriteConfig(FtdevHandle handle, uint8_t address, uint8_t value);
FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_ReadECC(FtdevHandle handle, uint8_t option, uint16_t *value);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_INCLUDE_FTDEV_H */
