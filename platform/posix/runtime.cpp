// The C runtime services of platform/runtime.h on POSIX systems.
#include "platform/runtime.h"

#include <langinfo.h>

namespace corvane::platform {

const char *console_character_set()
{
    return nl_langinfo(CODESET);
}

bool local_time(std::time_t when, std::tm &out)
{
    return localtime_r(&when, &out) != nullptr;
}

} // namespace corvane::platform
