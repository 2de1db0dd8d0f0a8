// corvane-loader: the run sequence. Banner, arguments, the cartridge, the file, then the
// selected operations in their fixed order; every failure leaves through fail.h.
#include "loader/console.h"
#include "loader/device_search.h"
#include "loader/fail.h"
#include "loader/file_dialog.h"
#include "loader/image_file.h"
#include "loader/link.h"
#include "loader/options.h"
#include "loader/packets.h"
#include "loader/run_state.h"
#include "loader/transfer.h"
#include "loader/updates.h"

#include <cstdlib>
#include <span>

#ifndef CORVANE_LOADER_BUILD_TIME
#error "CORVANE_LOADER_BUILD_TIME comes from loader/CMakeLists.txt"
#endif

namespace {

using namespace corvane::loader;

RunState run;

void print_banner()
{
    print("\n");
    print(" Corvane USB Loader\n----------------------\n");
    print(" Compiled %s\n", CORVANE_LOADER_BUILD_TIME);
}

// Refusals that come before any device or file is touched.
void refuse_arguments(const ArgumentsResult &result)
{
    switch (result.verdict) {
    case ArgumentsVerdict::run: return;
    case ArgumentsVerdict::usage: print_usage(); break;
    case ArgumentsVerdict::name_too_long:
        print(" *** File name too long (%zu characters; at most %zu)\n", result.name_length, FILE_NAME_CAPACITY - 1);
        break;
    case ArgumentsVerdict::load_and_dump:
        // Both would share the one file, which the dump opens for writing: the image
        // to load would be emptied before it was read.
        print(" *** Loading and dumping cannot be combined in one run\n");
        break;
    case ArgumentsVerdict::bad_value:
        print_value_refusal(result);
        print_usage();
        break;
    }
    std::exit(EXIT_USAGE);
}

void set_save_type(RunState &state)
{
    const char *label = save_type_label(state.save_type);
    if (label == nullptr) {
        print("\n *** Invalid save specified (%d)\n", state.save_type);
        fail_now(FAIL_SAVE_TYPE);
    }
    print(" - Setting save type to %s\n", label);
    send_packet(state.device, save_type_packet(static_cast<uint8_t>(state.save_type)));
}

} // namespace

int main(int argc, char **argv)
{
    set_up_console();
    print_banner();

    std::span<const char *const> arguments(argv + 1, static_cast<size_t>(argc > 0 ? argc - 1 : 0));
    refuse_arguments(parse_arguments(arguments, run, choose_file_with_dialog));

    run.device = open_cartridge(find_cartridge());
    open_image_file(run);
    if ((run.mode & MODE_LOAD) && run.sdram_offset == 0)
        note_byte_order(run);

    if (run.mode & MODE_SAVE_TYPE)
        set_save_type(run);
    if (run.mode & MODE_BOOTLOADER)
        update_bootloader(run);
    if (run.mode & MODE_FIRMWARE)
        update_firmware(run);
    if (run.mode & MODE_LOAD)
        load_image(run);
    if (run.mode & MODE_DUMP)
        dump_image(run);

    // A dump is done only once its file is safely written.
    close_image_file(run);
    print("\n - Done\n");
    FT_Close(run.device);
    return EXIT_DONE;
}
