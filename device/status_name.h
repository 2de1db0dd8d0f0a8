// Readable names of the status codes, for diagnostics inside the project.
#ifndef CORVANE_DEVICE_STATUS_NAME_H
#define CORVANE_DEVICE_STATUS_NAME_H

#include "ftdev.h"

namespace corvane::device {

// A short lower-case phrase for the status; "unknown status" for a value no function returns.
const char *ftdev_status_name(FtdevStatus status);

} // namespace corvane::device

#endif // CORVANE_DEVICE_STATUS_NAME_H
