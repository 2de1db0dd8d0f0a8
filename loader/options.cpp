#include "loader/options.h"

#include "loader/console.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace corvane::loader {

namespace {

constexpr const char *save_type_labels[SAVE_TYPE_COUNT] = {
    "None (default)", "EEPROM 4k", "EEPROM 16k", "SRAM 256kbit", "FlashRAM 1Mbit",
    "SRAM 768Kbit (for Dezaemon 3D)",
};

constexpr char NO_OPTION = '\0';

bool copy_file_name(RunState &state, const char *name, ArgumentsResult &result)
{
    size_t length = std::strlen(name);
    if (length >= FILE_NAME_CAPACITY) {
        result.verdict = ArgumentsVerdict::name_too_long;
        result.name_length = length;
        return false;
    }
    std::memcpy(state.file_name, name, length + 1);
    return true;
}

} // namespace

const char *save_type_label(int save_type)
{
    if (save_type < 0 || save_type >= SAVE_TYPE_COUNT)
        return nullptr;
    return save_type_labels[save_type];
}

std::optional<int32_t> parse_hex(const char *text)
{
    // strtoull reads what "%x" reads: blanks, a sign, an optional 0x, hexadecimal digits.
    char *end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text, &end, 16);
    if (end == text)
        return std::nullopt;
    if (errno == ERANGE)
        value = UINT_MAX;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

std::optional<int32_t> parse_decimal(const char *text)
{
    char *end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (end == text)
        return std::nullopt;
    // Held to the 32-bit range instead of the undefined overflow of "%d".
    if (value > INT32_MAX)
        value = INT32_MAX;
    if (value < INT32_MIN)
        value = INT32_MIN;
    return static_cast<int32_t>(value);
}

ArgumentsResult parse_arguments(std::span<const char *const> arguments, RunState &state,
                                FileDialog show_dialog)
{
    ArgumentsResult result;
    char option = NO_OPTION;   // the last dash option still waiting for its value

    for (size_t index = 0; index < arguments.size(); ++index) {
        const char *argument = arguments[index];
        if (argument[0] == '-') {
            option = argument[1];
            if (option == 'w') {
                if (show_dialog != nullptr)
                    show_dialog(state);
                state.mode |= MODE_LOAD;
            }
            continue;
        }

        switch (option) {
        case 'a':
            if (auto offset = parse_hex(argument))
                state.sdram_offset = *offset;
            break;
        case 'b':
        case 'f':
            if (!copy_file_name(state, argument, result))
                return result;
            state.mode = option == 'b' ? MODE_BOOTLOADER : MODE_FIRMWARE;
            state.sdram_offset = 0;
            break;
        case 'd':
            if (!copy_file_name(state, argument, result))
                return result;
            // The byte count is the next argument, which the loop then passes over as a
            // value without an option. An option there is not a count ("-d out.bin -a 0"
            // would otherwise dump "-a" = -0xA bytes).
            if (index + 1 < arguments.size() && arguments[index + 1][0] != '-') {
                if (auto size = parse_hex(arguments[index + 1]))
                    state.transfer_size = *size;
            }
            state.mode |= MODE_DUMP;
            break;
        case 'l':
            if (!copy_file_name(state, argument, result))
                return result;
            state.mode |= MODE_LOAD;
            break;
        case 's':
            if (auto save_type = parse_decimal(argument))
                state.save_type = *save_type;
            state.mode |= MODE_SAVE_TYPE;
            break;
        default:
            break;
        }
        option = NO_OPTION;
    }

    if (arguments.empty() || state.mode == 0)
        result.verdict = ArgumentsVerdict::usage;
    else if ((state.mode & MODE_LOAD) && (state.mode & MODE_DUMP))
        result.verdict = ArgumentsVerdict::load_and_dump;
    return result;
}

void print_usage()
{
    print(" - Invalid parameter(s)\n - Parameters:\n");
    print("    -w\t\t\t\t Show dialog to open file\n");
    print("    -l <filename.z64>\t\t Load image to offset in SDRAM\n");
    print("    -d <filename.bin> <bytes>\t Dump to file, from SDRAM\n");
    print("    -a <offset in hex>\t\t Set SDRAM offset (default is 0x0)\n");
    print("    -s <save type>\t\t Set save type \n");
    for (int save_type = 0; save_type < SAVE_TYPE_COUNT; ++save_type)
        print("    \t\t\t\t   %d - %s\n", save_type, save_type_labels[save_type]);
    print(" - Update commands\n");
    print("    -b <filename.bin>\t\t Update bootloader\n");
    print("    -f <filename.bin>\t\t Update firmware (danger of bricking)\n");
}

} // namespace corvane::loader
