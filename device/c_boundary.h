// Keeps C++ exceptions from crossing the library's C boundary.
#ifndef CORVANE_DEVICE_C_BOUNDARY_H
#define CORVANE_DEVICE_C_BOUNDARY_H

#include "ftdev.h"

#include <new>

namespace corvane::device {

// Runs the body of an exported function; an exception that escapes it (the platform's
// containers may run out of memory) becomes a status instead of ending the caller.
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

} // namespace corvane::device

#endif // CORVANE_DEVICE_C_BOUNDARY_H
