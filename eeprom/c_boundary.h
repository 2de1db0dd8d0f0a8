// Keeps C++ exceptions from crossing the EEPROM functions' C boundary.
#ifndef CORVANE_EEPROM_C_BOUNDARY_H
#define CORVANE_EEPROM_C_BOUNDARY_H

#include "ftdev.h"

#include <new>

namespace corvane::eeprom {

template <typename Body>
FtdevStatus guarded(Body &&body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return FTDEV_INSUFFICIENT_RESOURCES;
    } catch (...) {
        return FTDEV_OTHER_ERROR;
    }
}

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_C_BOUNDARY_H
