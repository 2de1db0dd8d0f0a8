#include "device/status_name.h"

namespace corvane::device {

const char *ftdev_status_name(FtdevStatus status)
{
    switch (status) {
    case FTDEV_OK: return "success";
    case FTDEV_INVALID_HANDLE: return "invalid handle";
    case FTDEV_DEVICE_NOT_FOUND: return "device not found";
    case FTDEV_DEVICE_NOT_OPENED: return "device not opened";
    case FTDEV_IO_ERROR: return "I/O error";
    case FTDEV_INSUFFICIENT_RESOURCES: return "insufficient resources";
    case FTDEV_INVALID_PARAMETER: return "invalid parameter";
    case FTDEV_INVALID_BAUD_RATE: return "invalid baud rate";
    case FTDEV_EEPROM_READ_FAILED: return "EEPROM read failed";
    case FTDEV_EEPROM_WRITE_FAILED: return "EEPROM write failed";
    case FTDEV_EEPROM_ERASE_FAILED: return "EEPROM erase failed";
    case FTDEV_EEPROM_NOT_PRESENT: return "EEPROM not present";
    case FTDEV_EEPROM_NOT_PROGRAMMED: return "EEPROM not programmed";
    case FTDEV_INVALID_ARGS: return "invalid arguments";
    case FTDEV_NOT_SUPPORTED: return "not supported";
    case FTDEV_OTHER_ERROR: return "other error";
    }
    return "unknown status";
}

} // namespace corvane::device
