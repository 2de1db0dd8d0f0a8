#include "loader/options.h"

#include "loader/console.h"

#include <cstdint>
#include <cstring>

namespace corvane::loader {

namespace {

constexpr const char *save_type_labels[SAVE_TYPE_COUNT] = {
    "None (default)", "EEPROM 4k", "EEPROM 16k", "SRAM 256kbit", "FlashRAM 1Mbit", "SRAM 768Kbit (for Dezaemon 3D)",
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

bool takes_value(char option)
{
    return option != NO_OPTION && std::strchr("abdfls", option) != nullptr;
}

// What a value-taking option expects, for the refusal that finds it missing.
const char *value_name(char option)
{
    switch (option) {
    case 'a': return "an SDRAM offset";
    case 's': return "a save type";
    default: return "a file name";
    }
}

int hex_digit_value(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return -1;
}

ArgumentsResult refused(ArgumentsResult &result, ValueFault fault, const char *option, const char *value)
{
    result.verdict = ArgumentsVerdict::bad_value;
    result.fault = fault;
    result.option = option;
    result.value = value;
    return result;
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
    const char *digit = text;
    if (digit[0] == '0' && (digit[1] == 'x' || digit[1] == 'X'))
        digit += 2;
    if (*digit == '\0')
        return std::nullopt;
    uint64_t value = 0;
    for (; *digit != '\0'; ++digit) {
        int nibble = hex_digit_value(*digit);
        if (nibble < 0)
            return std::nullopt;
        value = value * 16 + static_cast<uint64_t>(nibble);
        if (value > UINT32_MAX)
            return std::nullopt;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

std::optional<int32_t> parse_decimal(const char *text)
{
    if (*text == '\0')
        return std::nullopt;
    int64_t value = 0;
    for (const char *digit = text; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9')
            return std::nullopt;
        value = value * 10 + (*digit - '0');
        if (value > INT32_MAX)
            return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

ArgumentsResult parse_arguments(std::span<const char *const> arguments, RunState &state, FileDialog show_dialog)
{
    ArgumentsResult result;
    char option = NO_OPTION;           // the last dash option still waiting for its value
    const char *option_text = nullptr; // that option as given, for a refusal
    const char *offset_option = nullptr;
    const char *offset_text = nullptr; // the value of the last "-a"

    for (size_t index = 0; index < arguments.size(); ++index) {
        const char *argument = arguments[index];
        if (argument[0] == '-') {
            // "-a -5" is no offset of -5, nor "-l -s" a file named "-s".
            if (takes_value(option))
                return refused(result, ValueFault::missing, option_text, argument);
            option = argument[1];
            option_text = argument;
            if (option == 'w') {
                if (show_dialog != nullptr)
                    show_dialog(state);
                state.mode |= MODE_LOAD;
            }
            continue;
        }

        switch (option) {
        case 'a': {
            std::optional<int32_t> offset = parse_hex(argument);
            if (!offset)
                return refused(result, ValueFault::not_hexadecimal, option_text, argument);
            state.sdram_offset = *offset;
            offset_option = option_text;
            offset_text = argument;
            break;
        }
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
            // The byte count is the next argument; an option there means it was left
            // out ("-d out.bin -a 0" dumps nothing, not "-a" bytes).
            if (index + 1 < arguments.size() && arguments[index + 1][0] != '-') {
                const char *count_text = arguments[++index];
                std::optional<int32_t> size = parse_hex(count_text);
                if (!size)
                    return refused(result, ValueFault::not_hexadecimal, option_text, count_text);
                // The run's size is signed: 0x80000000 and up would be negative.
                if (*size < 0)
                    return refused(result, ValueFault::count_too_large, option_text, count_text);
                state.transfer_size = *size;
            }
            state.mode |= MODE_DUMP;
            break;
        case 'l':
            if (!copy_file_name(state, argument, result))
                return result;
            state.mode |= MODE_LOAD;
            break;
        case 's': {
            std::optional<int32_t> save_type = parse_decimal(argument);
            if (!save_type)
                return refused(result, ValueFault::not_decimal, option_text, argument);
            state.save_type = *save_type;
            state.mode |= MODE_SAVE_TYPE;
            break;
        }
        default: break;
        }
        option = NO_OPTION;
    }

    // "-l" with nothing after it is the plain usage case; any other option left waiting
    // names what is missing.
    if (option == 'l') {
        result.verdict = ArgumentsVerdict::usage;
        return result;
    }
    if (takes_value(option))
        return refused(result, ValueFault::missing, option_text, nullptr);

    if (arguments.empty() || state.mode == 0)
        result.verdict = ArgumentsVerdict::usage;
    else if ((state.mode & MODE_LOAD) && (state.mode & MODE_DUMP))
        result.verdict = ArgumentsVerdict::load_and_dump;
    else if ((state.mode & (MODE_LOAD | MODE_DUMP)) && (state.sdram_offset & 1) != 0)
        // The cartridge takes word addresses: an odd offset would put the data one byte
        // below the offset the run reports.
        return refused(result, ValueFault::odd_offset, offset_option, offset_text);
    return result;
}

void print_value_refusal(const ArgumentsResult &result)
{
    const char *option = result.option != nullptr ? result.option : "-a";
    const char *value = result.value;
    switch (result.fault) {
    case ValueFault::missing:
        if (value == nullptr)
            print(" *** %s needs %s\n", option, value_name(option[1]));
        else
            print(" *** %s needs %s, not \"%s\"\n", option, value_name(option[1]), value);
        break;
    case ValueFault::not_hexadecimal:
    case ValueFault::count_too_large:
        if (option[1] == 'd')
            print(" *** %s needs a byte count in hexadecimal (at most 7FFFFFFF), not \"%s\"\n", option, value);
        else
            print(" *** %s needs an SDRAM offset in hexadecimal (at most FFFFFFFF), not \"%s\"\n", option, value);
        break;
    case ValueFault::not_decimal: print(" *** %s needs a save type in decimal, not \"%s\"\n", option, value); break;
    case ValueFault::odd_offset:
        print(" *** %s needs an even SDRAM offset, not \"%s\": the cartridge addresses 16-bit words\n", option,
              value != nullptr ? value : "");
        break;
    }
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
