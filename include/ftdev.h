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

/* ---- EEPROM functions ------------------------------------------------------------
 * (owned by the EEPROM library: eeprom/) */

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_INCLUDE_FTDEV_H */
