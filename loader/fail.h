// The fail exit: one place that prints the FAIL block and ends the process.
#ifndef CORVANE_LOADER_FAIL_H
#define CORVANE_LOADER_FAIL_H

#include <cstdint>

namespace corvane::loader {

// Step codes of the loader's own; any other FAIL code is a device library status.
constexpr uint32_t FAIL_LOAD = 1;
constexpr uint32_t FAIL_DUMP = 2;
constexpr uint32_t FAIL_TIMED_OUT = 9;
constexpr uint32_t FAIL_OPEN_DEVICE = 10;
constexpr uint32_t FAIL_OPEN_FILE = 11;
constexpr uint32_t FAIL_SAVE_TYPE = 12;
constexpr uint32_t FAIL_BOOTLOADER_HEADER = 13;
constexpr uint32_t FAIL_FIRMWARE_HEADER = 14;
constexpr uint32_t FAIL_BOOTLOADER_REFUSED = 16;
constexpr uint32_t FAIL_FIRMWARE_REFUSED = 32;

// Exit statuses of the process.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_USAGE = 1;
constexpr int EXIT_FAILED = -1; // 255 as a POSIX exit status

// Does nothing for 0, so that any device library status can be passed straight in.
void fail_exit(uint32_t code);

// Prints the FAIL block for a non-zero code and ends the process. Nothing is closed on
// this path: the end of the process releases the file and the device.
[[noreturn]] void fail_now(uint32_t code);

// A transfer that moved nothing before the device's time-out.
[[noreturn]] void fail_timed_out();

} // namespace corvane::loader

#endif // CORVANE_LOADER_FAIL_H
