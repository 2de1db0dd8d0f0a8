// What the platform hands the bus driver stand-in of its kernel objects: the driver sits
// below the platform and signals events only through this function, given at open.
#ifndef CORVANE_PLATFORM_KERNEL_OBJECTS_H
#define CORVANE_PLATFORM_KERNEL_OBJECTS_H

#include "platform/platform.h"

namespace corvane::platform {

// Signals the event behind `event`, as SetEvent does, for the event handle a caller
// registered with the event-notification request. False when the handle is unknown,
// closed, or not an event; the last error is left alone.
bool signal_event(HANDLE event);

} // namespace corvane::platform

#endif // CORVANE_PLATFORM_KERNEL_OBJECTS_H
