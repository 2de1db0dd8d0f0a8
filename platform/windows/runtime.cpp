// The C runtime services of platform/runtime.h on Windows.
#include "platform/runtime.h"

#include "platform/platform.h"

namespace corvane::platform {

namespace {

constexpr UINT utf8_code_page = 65001;

} // namespace

const char *console_character_set()
{
    // A console program's bytes are shown in the console's output code page. Without a
    // console (output to a file from a detached process) the system's OEM code page is
    // what a console would have used.
    UINT code_page = GetConsoleOutputCP();
    if (code_page == 0)
        code_page = GetOEMCP();
    if (code_page == utf8_code_page)
        return "UTF-8";
    thread_local char name[16];
    std::snprintf(name, sizeof name, "CP%u", code_page);
    return name;
}

int console_columns()
{
    // Fails for output that is not a console. Lines wrap at the screen buffer's width.
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return 0;
    return info.dwSize.X > 0 ? info.dwSize.X : 0;
}

bool local_time(std::time_t when, std::tm &out)
{
    return localtime_s(&out, &when) == 0;
}

} // namespace corvane::platform
