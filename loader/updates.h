// The two updates of the cartridge's own contents: the bootloader flash, programmed word
// by word through bus cycles, and the FPGA configuration, erased and then streamed.
#ifndef CORVANE_LOADER_UPDATES_H
#define CORVANE_LOADER_UPDATES_H

#include "loader/run_state.h"

#include <cstdint>

namespace corvane::loader {

constexpr int32_t BOOTLOADER_IMAGE_SIZE = 0x80000;
constexpr int32_t UPDATE_HEADER_SIZE = 16;
constexpr int32_t BOOTLOADER_FILE_SIZE = UPDATE_HEADER_SIZE + BOOTLOADER_IMAGE_SIZE;
constexpr int32_t BOOTLOADER_CHUNK = 0x4000;
constexpr int32_t CONFIG_CHUNK_LIMIT = 0x400;

// Both work on the run's file, positioned at its first byte.
void update_bootloader(RunState &state);
void update_firmware(RunState &state);

} // namespace corvane::loader

#endif // CORVANE_LOADER_UPDATES_H
