// The command line: options and their values into the run state, and the usage text.
#ifndef CORVANE_LOADER_OPTIONS_H
#define CORVANE_LOADER_OPTIONS_H

#include "loader/run_state.h"

#include <cstddef>
#include <optional>
#include <span>

namespace corvane::loader {

constexpr int SAVE_TYPE_COUNT = 6;

// The label of a save type 0 to 5 ("None (default)" ...); nullptr outside.
const char *save_type_label(int save_type);

enum class ArgumentsVerdict {
    run,           // go on with the cartridge
    usage,         // nothing to do: print the usage text
    name_too_long, // a file name past the 2,047 characters of the run state
    load_and_dump, // one run cannot both load the file and dump into it
    bad_value,     // an option's value that cannot be right (see ValueFault)
};

// Why a value was refused.
enum class ValueFault {
    missing,         // nothing, or another option, where the value belongs
    not_hexadecimal, // -a, -d count: not hexadecimal digits that fit 32 bits
    not_decimal,     // -s: not decimal digits that fit a signed 32-bit value
    count_too_large, // -d count of 0x80000000 or more: negative as a signed size
    odd_offset,      // -a for a load or a dump: the cartridge addresses 16-bit words
};

struct ArgumentsResult {
    ArgumentsVerdict verdict = ArgumentsVerdict::run;
    size_t name_length = 0; // for name_too_long
    // For bad_value: the option as given, and the refused value (nullptr when nothing
    // followed the option).
    ValueFault fault = ValueFault::missing;
    const char *option = nullptr;
    const char *value = nullptr;
};

// Called for "-w" at the moment it is read; may put a chosen path into the run state.
using FileDialog = void (*)(RunState &state);

// Reads the arguments after the program name into `state`.
ArgumentsResult parse_arguments(std::span<const char *const> arguments, RunState &state, FileDialog show_dialog);

// Hexadecimal digits with an optional 0x, fitting 32 bits (as the bit pattern); nullopt
// for anything else: a sign, a blank, other characters, nothing, or a larger value.
std::optional<int32_t> parse_hex(const char *text);
// Decimal digits only, fitting a signed 32-bit value; nullopt for anything else.
std::optional<int32_t> parse_decimal(const char *text);

// The one line that names a bad_value refusal, without its line end.
void print_value_refusal(const ArgumentsResult &result);

void print_usage();

} // namespace corvane::loader

#endif // CORVANE_LOADER_OPTIONS_H
