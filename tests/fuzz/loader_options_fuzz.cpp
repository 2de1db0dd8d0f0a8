// Arbitrary argument vectors through the loader's option parser: the input is split at
// NUL bytes into arguments, and the run state must come out whole.
#include "loader/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace corvane::loader;

namespace {

[[noreturn]] void die(const char *why)
{
    std::fprintf(stderr, "options fuzz: %s\n", why);
    std::abort();
}

// "-w": a chooser that picks a name, as the real one may.
void choose_file(RunState &state)
{
    std::strcpy(state.file_name, "chosen.z64");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Each argument in its own allocation, so that a read past its terminator is caught.
    std::vector<std::unique_ptr<char[]>> owned;
    std::vector<const char *> arguments;
    size_t start = 0;
    for (size_t i = 0; i <= size && owned.size() < 64; ++i) {
        if (i == size || data[i] == '\0') {
            size_t length = i - start;
            owned.emplace_back(new char[length + 1]);
            std::memcpy(owned.back().get(), data + start, length);
            owned.back()[length] = '\0';
            arguments.push_back(owned.back().get());
            start = i + 1;
        }
    }
    // Every so often a name past the 2,047 characters the run state holds.
    if (size > 0 && data[0] == 'L') {
        owned.emplace_back(new char[FILE_NAME_CAPACITY + 8]);
        std::memset(owned.back().get(), 'n', FILE_NAME_CAPACITY + 7);
        owned.back()[FILE_NAME_CAPACITY + 7] = '\0';
        arguments.insert(arguments.begin() + static_cast<long>(arguments.size() / 2), owned.back().get());
    }

    auto state = std::make_unique<RunState>();
    ArgumentsResult result = parse_arguments(arguments, *state, choose_file);
    if (!std::memchr(state->file_name, '\0', FILE_NAME_CAPACITY))
        die("the file name fills the run state without a terminator");
    if (result.verdict == ArgumentsVerdict::name_too_long && result.name_length < FILE_NAME_CAPACITY)
        die("a name that fits was refused as too long");
    if (result.verdict == ArgumentsVerdict::load_and_dump && !((state->mode & MODE_LOAD) && (state->mode & MODE_DUMP)))
        die("load and dump refused for a run that does not do both");
    if (result.verdict == ArgumentsVerdict::run && state->mode == 0)
        die("a run with nothing to do");
    if (result.verdict == ArgumentsVerdict::run && (state->mode & (MODE_LOAD | MODE_DUMP)) &&
        (state->sdram_offset & 1) != 0)
        die("a load or a dump at an odd SDRAM offset");
    if (result.verdict == ArgumentsVerdict::run && state->transfer_size < 0)
        die("a negative dump count");
    if (result.verdict == ArgumentsVerdict::bad_value) {
        if (result.option == nullptr || result.option[0] != '-')
            die("a refused value without the option it belongs to");
        if (result.fault != ValueFault::missing && result.value == nullptr)
            die("a refused value that is not named");
        if (result.fault == ValueFault::missing && result.value != nullptr && result.value[0] != '-')
            die("a value refused as missing that is no option");
    }
    if (save_type_label(state->save_type) == nullptr && state->save_type >= 0 && state->save_type < SAVE_TYPE_COUNT)
        die("a save type in range has no label");
    return 0;
}
