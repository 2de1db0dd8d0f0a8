// corvane-sim: serves virtual Corvane cartridges and FTDI chips on a Unix socket.
#include "sim/server/send_message.h"
#include "sim/server/server.h"
#include "sim/server/state_dir.h"
#include "sim/virtual_bus.h"
#include "wire/usb_types.h"
#include "wire/vbus_protocol.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace corvane;

constexpr int exit_clean = 0;
constexpr int exit_usage = 1;
constexpr int exit_runtime = 2;

constexpr const char *help_text =
    "usage: corvane-sim [--socket PATH] [--state-dir DIR] [--chip DESC]... [--stall ID]... [--unplug ID]...\n"
    "                   [--cut ID:BYTES]... [--usb-timing]\n"
    "       corvane-sim [--socket PATH] --send MESSAGE\n"
    "\n"
    "Serves virtual USB devices (a Corvane cartridge and FTDI chips) to the loader and the\n"
    "device library on a Unix socket, in the foreground, until SIGINT or SIGTERM.\n"
    "\n"
    "options:\n"
    "  --socket PATH     where to listen (default: $CORVANE_VBUS, else\n"
    "                    $XDG_RUNTIME_DIR/corvane-vbus.sock, else /tmp/corvane-vbus-<uid>.sock)\n"
    "  --state-dir DIR   the devices' memories: sdram.bin, bootflash.bin, fpga.bin, savetype,\n"
    "                    eeprom-<serial>.bin; kept across restarts (default: a new temporary folder,\n"
    "                    removed with those files when it stops cleanly; a folder you name is kept)\n"
    "  --chip DESC       a device, in bus order: KIND[,key=value]...; KIND is one of corvane,\n"
    "                    ft232b, ft232r, ft2232, ft2232h, ft4232h, ft232h, ftx; keys serial=,\n"
    "                    description=, location= (hex), eeprom= (0, 64, 128 or 256 words),\n"
    "                    fifo= (MB/s of the chip's FIFO under --usb-timing, or none; default\n"
    "                    40 for corvane, none for the other kinds).\n"
    "                    Without --chip the bus holds one corvane.\n"
    "  --stall ID        start with device ID stalled (it takes and gives no bytes)\n"
    "  --unplug ID       start with device ID unplugged\n"
    "  --cut ID:BYTES    start with a cut armed on device ID (see cut ID BYTES below)\n"
    "  --usb-timing      transfers take the time USB 2.0 and the chips give them: at most\n"
    "                    13 bulk packets of 512 bytes per 125 us microframe (19 of 64 per 1 ms\n"
    "                    frame at full speed) for all channels and both directions of a device,\n"
    "                    no faster than the chip's FIFO; an IN packet that is not full waits\n"
    "                    for the latency timer; transfers end at a frame boundary, control\n"
    "                    requests take a frame; the chips' buffers are bounded (the corvane's\n"
    "                    4 KiB each way per channel). Cuts do not apply to timed transfers.\n"
    "  --send MESSAGE    deliver one fault message (below) to the simulator running at --socket\n"
    "                    PATH or the default address, print its answer and exit\n"
    "  --help            this text\n"
    "\n"
    "fault switches, sent on the socket while it runs (a fault message):\n"
    "  stall ID on | stall ID off | unplug ID | plug ID | cut ID BYTES\n"
    "ID is a device id as the bus lists it. cut ID BYTES: once, the next bulk transfer of\n"
    "device ID that would move more than BYTES data bytes, OUT or IN, whichever comes first,\n"
    "moves only BYTES and ends short: OUT at once as a time-out with that partial count, IN\n"
    "with BYTES data bytes (status bytes not counted). Shorter transfers pass unchanged;\n"
    "after the cut the device works normally.\n"
    "For example, while a load runs: corvane-sim --send \"unplug 0\", then corvane-sim --send \"plug 0\".\n"
    "\n"
    "exit status: 0 clean stop, 1 usage error, 2 runtime error\n"
    "  with --send: 0 applied, 1 refused (or a usage error), 2 no simulator answered within 5 s\n";

struct Options {
    std::string socket_path;
    std::filesystem::path state_dir;
    std::vector<sim::ChipDescription> chips;
    std::vector<std::string> faults; // as fault switch texts
    std::optional<std::string> send; // --send: a message for a running simulator
    bool help = false;
    bool usb_timing = false;
};

void complain(const std::string &what, const std::string &why)
{
    std::fprintf(stderr, "corvane-sim: %s: %s\n", what.c_str(), why.c_str());
}

// Parses the command line; nullopt after saying why on standard error.
std::optional<Options> parse_options(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::optional<std::string> value;
        if (auto equals = option.find('='); option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
        }
        if (option == "--help" && !value) {
            options.help = true;
            continue;
        }
        if (option == "--usb-timing" && !value) {
            options.usb_timing = true;
            continue;
        }
        bool takes_value = option == "--socket" || option == "--state-dir" || option == "--chip" ||
                           option == "--stall" || option == "--unplug" || option == "--cut" || option == "--send";
        if (!takes_value) {
            complain(option, "unknown option (try --help)");
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 >= argc) {
                complain(option, "needs a value (try --help)");
                return std::nullopt;
            }
            value = argv[++i];
        }
        if (value->empty()) {
            complain(option, "needs a non-empty value");
            return std::nullopt;
        }
        if (option == "--socket") {
            options.socket_path = *value;
        } else if (option == "--state-dir") {
            options.state_dir = *value;
        } else if (option == "--chip") {
            std::string error;
            std::optional<sim::ChipDescription> chip = sim::parse_chip_description(*value, error);
            if (!chip) {
                complain("--chip " + *value, error);
                return std::nullopt;
            }
            options.chips.push_back(*chip);
        } else if (option == "--stall") {
            options.faults.push_back("stall " + *value + " on");
        } else if (option == "--cut") {
            // ID:BYTES, split at the last colon; apply_fault checks both halves.
            size_t colon = value->rfind(':');
            if (colon == std::string::npos) {
                complain("--cut " + *value, "expected ID:BYTES");
                return std::nullopt;
            }
            options.faults.push_back("cut " + value->substr(0, colon) + " " + value->substr(colon + 1));
        } else if (option == "--send") {
            options.send = *value;
        } else {
            options.faults.push_back("unplug " + *value);
        }
    }
    if (options.send && options.send->size() > usb::vbus::max_string) {
        complain("--send", "a fault message is at most " + std::to_string(usb::vbus::max_string) + " bytes");
        return std::nullopt;
    }
    if (options.send &&
        (!options.state_dir.empty() || !options.chips.empty() || !options.faults.empty() || options.usb_timing)) {
        complain("--send", "takes no other option than --socket");
        return std::nullopt;
    }
    if (options.chips.empty())
        options.chips.push_back(sim::ChipDescription{});
    for (sim::ChipDescription &chip : options.chips)
        chip.usb_timing = options.usb_timing;
    if (options.socket_path.empty())
        options.socket_path = usb::virtual_bus_address();
    return options;
}

bool prepare_state_dir(std::filesystem::path &dir)
{
    if (dir.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-sim-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            complain("state directory", std::strerror(errno));
            return false;
        }
        dir = pattern;
        return true;
    }
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error || !std::filesystem::is_directory(dir)) {
        complain(dir.string(), error ? error.message() : "not a directory");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    std::optional<Options> options = parse_options(argc, argv);
    if (!options)
        return exit_usage;
    if (options->help) {
        std::fputs(help_text, stdout);
        return exit_clean;
    }
    if (options->send) {
        std::string answer;
        switch (sim::send_fault_message(options->socket_path, *options->send, std::chrono::seconds(5), answer)) {
        case sim::Delivery::applied: std::printf("%s\n", answer.c_str()); return exit_clean;
        case sim::Delivery::refused: complain("fault switch", answer); return exit_usage;
        case sim::Delivery::no_answer: complain(options->socket_path, "no simulator answers: " + answer); break;
        }
        return exit_runtime;
    }

    // Signals are taken by one thread with sigwait, so every other thread (the server's)
    // starts with them blocked; a vanished client must not end us through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::string error;
    if (!sim::Server::address_free(options->socket_path, error)) {
        complain("cannot listen", error);
        return exit_runtime;
    }
    bool own_state_dir = options->state_dir.empty();
    if (!prepare_state_dir(options->state_dir))
        return exit_runtime;
    // Declared before the devices, so removed after they let go of their files.
    sim::OwnStateDir remove_at_exit(own_state_dir ? options->state_dir : std::filesystem::path());
    std::printf("state directory: %s\n", options->state_dir.c_str());
    std::fflush(stdout);

    std::unique_ptr<sim::VirtualBus> bus = sim::VirtualBus::create(options->chips, options->state_dir, error);
    if (!bus) {
        complain("cannot build the devices", error);
        return exit_runtime;
    }
    for (const std::string &fault : options->faults) {
        std::string answer;
        if (sim::apply_fault(*bus, fault, answer) != usb::Status::ok) {
            complain("fault switch", answer);
            return exit_usage;
        }
    }

    std::unique_ptr<sim::Server> server = sim::Server::start(*bus, options->socket_path, error);
    if (!server) {
        complain("cannot listen", error);
        return exit_runtime;
    }
    std::thread signal_taker([&] {
        int taken = 0;
        sigwait(&stop_signals, &taken);
        server->stop();
    });
    std::printf("listening on %s\n", server->path().c_str());
    std::fflush(stdout);

    server->run();
    // run() only returns after a stop, unless poll itself failed; wake the taker either way.
    server->stop();
    kill(getpid(), SIGTERM);
    signal_taker.join();
    server.reset();
    return exit_clean;
}
