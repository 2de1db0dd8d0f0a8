// The C runtime services whose calls differ between Windows and POSIX: the console's
// character set and width, the thread-safe local time, and the printf dialect to check formats by.
// Like platform.h, this header knows which platform it is on; it pulls in no system
// header beyond the C library's.
#ifndef CORVANE_PLATFORM_RUNTIME_H
#define CORVANE_PLATFORM_RUNTIME_H

#include <cstdio>
#include <ctime>

#if defined(_WIN32)
// MinGW's C++ runtime formats through its own C99 printf (size_t as %zu); plain "printf"
// would check formats against the system's older one.
#define CORVANE_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define CORVANE_PRINTF_FORMAT printf
#endif

namespace corvane::platform {

// The console output's character set: what nl_langinfo(CODESET) gives after
// setlocale(LC_ALL, ""), or on Windows "UTF-8" or "CP<n>" for the console's output code
// page (the OEM code page when there is no console). Valid until the next call.
const char *console_character_set();

// The width in columns of the terminal that standard output shows on; 0 when standard
// output is no terminal (a pipe, a file) or its width is unknown.
int console_columns();

// The local calendar time of `when`; false when the runtime cannot give it.
bool local_time(std::time_t when, std::tm &out);

} // namespace corvane::platform

#endif // CORVANE_PLATFORM_RUNTIME_H
