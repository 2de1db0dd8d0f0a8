// The loader's run state: what the command line asked for and what the run has opened.
// One instance lives in static storage for the whole process (main.cpp); the steps take
// it by reference so that the pure parts can be tried on a state of their own.
#ifndef CORVANE_LOADER_RUN_STATE_H
#define CORVANE_LOADER_RUN_STATE_H

#include "loader/byte_order.h"

#include "ftdev.h"

#include <cstdint>
#include <cstdio>

namespace corvane::loader {

// Mode flags: which operations the run performs, in the fixed order of main.cpp.
constexpr uint32_t MODE_LOAD = 0x01;
constexpr uint32_t MODE_DUMP = 0x02;
constexpr uint32_t MODE_SAVE_TYPE = 0x04;
constexpr uint32_t MODE_BOOTLOADER = 0x10;
constexpr uint32_t MODE_FIRMWARE = 0x20;

// Room for 2,047 characters and the terminator.
constexpr size_t FILE_NAME_CAPACITY = 2048;

struct RunState {
    char file_name[FILE_NAME_CAPACITY] = {};
    int32_t sdram_offset = 0;  // bytes; moved on by every transfer step
    int32_t transfer_size = 0; // bytes; the bar's whole
    int32_t save_type = 0;
    uint32_t mode = 0;
    FtdevHandle device = nullptr;
    std::FILE *image = nullptr;
    ByteOrder image_order = ByteOrder::big_endian; // the load's image, turned on the way
};

// Signed 32-bit counters wrap as the cartridge's 32-bit addresses do, instead of
// overflowing (which would be undefined) on absurd offsets.
inline int32_t advance(int32_t value, int64_t by)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(by));
}

} // namespace corvane::loader

#endif // CORVANE_LOADER_RUN_STATE_H
