// The C runtime services of platform/runtime.h on POSIX systems.
#include "platform/runtime.h"

#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace corvane::platform {

const char *console_character_set()
{
    return nl_langinfo(CODESET);
}

int console_columns()
{
    if (!isatty(STDOUT_FILENO))
        return 0;
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

bool local_time(std::time_t when, std::tm &out)
{
    return localtime_r(&when, &out) != nullptr;
}

} // namespace corvane::platform
