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
    run,              // go on with the cartridge
    usage,            // nothing to do: print the usage text
    name_too_long,    // a file name past the 2,047 characters of the run state
    load_and_dump,    // one run cannot both load the file and dump into it
};

struct ArgumentsResult {
    ArgumentsVerdict verdict = ArgumentsVerdict::run;
    size_t name_length = 0;   // for name_too_long
};

// Called for "-w" at the moment it is read; may put a chosen path into the run state.
using FileDialog = void (*)(RunState &state);

// Reads the arguments after the program name into `state`.
ArgumentsResult parse_arguments(std::span<const char *const> arguments, RunState &state,
                                FileDialog show_dialog);

// The "%x" and "%d" conversions: nullopt when nothing converts (the field then stays).
std::optional<int32_t> parse_hex(const char *text);
std::optional<int32_t> parse_decimal(const char *text);

void print_usage();

} // namespace corvane::loader

#endif // CORVANE_LOADER_OPTIONS_H
