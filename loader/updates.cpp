#include "loader/updates.h"

#include "loader/console.h"
#include "loader/fail.h"
#include "loader/link.h"
#include "loader/packets.h"
#include "loader/progress.h"
#include "loader/transfer.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>

namespace corvane::loader {

namespace {

// The two headers differ only in their twelfth character.
constexpr char BOOTLOADER_HEADER[] = "HALVERSTONE_2011";
constexpr char FIRMWARE_HEADER[] = "HALVERSTONE-2011";
static_assert(sizeof(BOOTLOADER_HEADER) - 1 == UPDATE_HEADER_SIZE);
static_assert(sizeof(FIRMWARE_HEADER) - 1 == UPDATE_HEADER_SIZE);

// The flash needs a second for the chip erase, the FPGA configuration flash nine.
constexpr DWORD FLASH_ERASE_WAIT_MS = 1000;
constexpr DWORD CONFIG_ERASE_WAIT_MS = 9000;

// The first cycle selects the flash; the other six are its chip-erase sequence.
struct FlashCycle {
    uint32_t address;
    uint16_t data;
};
constexpr FlashCycle FLASH_ERASE_CYCLES[] = {
    {0x17000000, 0x0000}, {0xAAAA, 0x00AA}, {0x5554, 0x0055}, {0xAAAA, 0x0080},
    {0xAAAA, 0x00AA},     {0x5554, 0x0055}, {0xAAAA, 0x0010},
};

void check_header(RunState &state, const char *expected, uint32_t fail_code)
{
    char header[UPDATE_HEADER_SIZE];
    size_t read = std::fread(header, 1, sizeof header, state.image);
    if (read != sizeof header || std::memcmp(header, expected, sizeof header) != 0) {
        print(" * Invalid header. Make sure you have the right file!\n");
        fail_now(fail_code);
    }
}

bool answered_yes()
{
    return read_char() == 'y';
}

[[noreturn]] void fail_file_read()
{
    print("\n *** Couldn't read the file\n");
    fail_now(FAIL_OPEN_FILE);
}

void write_bootloader_chunk(RunState &state, int32_t chunk, uint32_t &flash_address)
{
    uint8_t *buffer = transfer_buffer();
    std::memset(buffer, 0, TRANSFER_BUFFER_SIZE);

    // The words come straight from the file into the groups: one read for the chunk's
    // bytes, placed in the unused upper half of the buffer, then spread out below it.
    static_assert(BOOTLOADER_CHUNK / 2 * PROGRAM_GROUP_SIZE <= TRANSFER_BUFFER_SIZE / 2);
    uint8_t *words = buffer + TRANSFER_BUFFER_SIZE - BOOTLOADER_CHUNK;
    if (std::fread(words, 1, static_cast<size_t>(chunk), state.image) != static_cast<size_t>(chunk))
        fail_file_read();
    uint8_t *group = buffer;
    for (int32_t offset = 0; offset + 1 < chunk; offset += 2) {
        write_program_group(group, flash_address, words[offset], words[offset + 1]);
        group += PROGRAM_GROUP_SIZE;
        flash_address += 2;
    }
    std::memset(words, 0, BOOTLOADER_CHUNK);

    // The whole buffer goes, the zero bytes after the groups as well.
    uint32_t written = 0;
    FtdevStatus status = FT_Write(state.device, buffer, TRANSFER_BUFFER_SIZE, &written);
    fail_exit(status);
    // Half-sent program groups cannot be resumed; carrying on would report success for
    // a flash that was never written.
    if (written < static_cast<uint32_t>(TRANSFER_BUFFER_SIZE))
        fail_timed_out();
}

} // namespace

void update_bootloader(RunState &state)
{
    check_header(state, BOOTLOADER_HEADER, FAIL_BOOTLOADER_HEADER);

    print("\n\n");
    print(" * Warning: about to erase and rewrite your bootloader!!!\n");
    print(" * Be sure you have a valid file.\n");
    print(" * Continue? (y/n) ");
    if (!answered_yes())
        fail_now(FAIL_BOOTLOADER_REFUSED);

    print("\n * Please ensure your cartridge is not in the N64!\n");
    print(" * Press enter to continue.\n");
    // The first takes the line end after the "y", the second waits for Enter.
    read_char();
    read_char();

    if (state.transfer_size != BOOTLOADER_FILE_SIZE) {
        print(" * Bootloader image is not the proper size\n");
        fail_now(FAIL_BOOTLOADER_REFUSED);
    }

    print(" - Bulk erasing bootloader\n");
    for (const FlashCycle &cycle : FLASH_ERASE_CYCLES)
        send_packet(state.device, bus_cycle(CMD_FLASH_CYCLE, cycle.address, cycle.data));
    Sleep(FLASH_ERASE_WAIT_MS);

    int32_t remaining = BOOTLOADER_IMAGE_SIZE;
    int64_t done = 0;
    state.transfer_size = BOOTLOADER_IMAGE_SIZE;
    state.sdram_offset = 0; // serves as the flash byte address
    print(" - Writing bootloader\n");

    while (remaining > 0) {
        int32_t chunk = std::min(BOOTLOADER_CHUNK, remaining);
        uint32_t flash_address = static_cast<uint32_t>(state.sdram_offset);
        write_bootloader_chunk(state, chunk, flash_address);
        state.sdram_offset = static_cast<int32_t>(flash_address);
        done += chunk;
        remaining -= chunk;
        draw_progress(done, state.transfer_size);
    }

    print("\n - Success!\n");
    print(" - Please unplug the USB cable and plug it back in.\n");
}

void update_firmware(RunState &state)
{
    check_header(state, FIRMWARE_HEADER, FAIL_FIRMWARE_HEADER);
    // The erase comes first: a file with nothing after its header would leave the
    // cartridge with no FPGA configuration at all.
    if (state.transfer_size <= UPDATE_HEADER_SIZE) {
        print(" * Firmware file holds no configuration\n");
        fail_now(FAIL_FIRMWARE_HEADER);
    }

    print("\n **********************************************************\n");
    print(" * Warning: about to erase and rewrite your firmware!!!\n");
    print(" * If this fails for any reason (power goes out, invalid file)\n");
    print(" * your Corvane will be rendered INOPERABLE!\n");
    print(" * \n");
    print(" * This must be the first operation performed right after\n");
    print(" * plugging in USB, and within 10 seconds or it is locked out.\n");
    print(" * Continue? (y/n) ");
    if (!answered_yes())
        fail_now(FAIL_FIRMWARE_REFUSED);

    print("\n - Bulk erasing config (9 seconds)\n");
    send_packet(state.device, config_erase_packet());
    Sleep(CONFIG_ERASE_WAIT_MS);

    int32_t configuration_size = state.transfer_size - UPDATE_HEADER_SIZE;
    state.transfer_size = configuration_size;
    print(" - Writing FPGA config\n");

    OutgoingStream stream;
    stream.command = CMD_CONFIG_WRITE;
    stream.chunk_limit = CONFIG_CHUNK_LIMIT;
    stream.word_units = false;
    stream.status_fail_code = 0;
    stream.read_fail_code = FAIL_OPEN_FILE;
    stream_file_to_device(state, stream, configuration_size);

    print("\n - Success!\n");
    print(" - Please disconnect the USB cable and plug it back in.\n");
}

} // namespace corvane::loader
