// usbfs-run: runs a program against emulated USB chips reached through the real libusb.
//
//   usbfs-run --state-dir DIR --chip DESC [--chip DESC]... -- COMMAND [ARG]...
//
// The chips are described as corvane-sim --chip describes them and keep their memories in
// DIR as corvane-sim does. The command runs with umockdev's preload and libusb on; the
// requests it makes of the emulated devices are answered here. Exits with its status.
#include "usbfs_bus.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr int usage_status = 2;
volatile sig_atomic_t child_pid = 0;

void pass_on(int signal_number)
{
    if (child_pid > 0)
        kill(child_pid, signal_number);
}

// Ctrl-C reaches the command from the terminal already; usbfs-run waits for it to end.
void let_command_handle(int) {}

int usage(const char *why)
{
    std::fprintf(stderr,
                 "usbfs-run: %s\n"
                 "usage: usbfs-run --state-dir DIR --chip DESC [--chip DESC]... -- COMMAND [ARG]...\n"
                 "  DESC as corvane-sim --chip takes it, e.g. corvane or ft2232h,serial=X1\n",
                 why);
    return usage_status;
}

} // namespace

int main(int argc, char **argv)
{
    using corvane::sim::ChipDescription;
    prctl(PR_SET_TIMERSLACK, 1UL);
    std::string state_dir;
    std::vector<ChipDescription> chips;
    int command_at = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            command_at = i + 1;
            break;
        }
        if ((arg == "--state-dir" || arg == "--chip") && i + 1 >= argc)
            return usage((arg + " needs a value").c_str());
        if (arg == "--state-dir") {
            state_dir = argv[++i];
        } else if (arg == "--chip") {
            std::string error;
            std::optional<ChipDescription> chip = corvane::sim::parse_chip_description(argv[++i], error);
            if (!chip)
                return usage(("--chip " + std::string(argv[i]) + ": " + error).c_str());
            chips.push_back(*chip);
        } else {
            return usage(("unknown option " + arg).c_str());
        }
    }
    if (state_dir.empty())
        return usage("--state-dir is missing");
    if (chips.empty())
        return usage("no --chip given");
    if (command_at < 0 || command_at >= argc)
        return usage("no command after --");

    std::error_code created;
    std::filesystem::create_directories(state_dir, created);
    std::string error;
    std::unique_ptr<corvane::usbfs::UsbfsBus> bus = corvane::usbfs::UsbfsBus::create(chips, state_dir, error);
    if (!bus) {
        std::fprintf(stderr, "usbfs-run: %s\n", error.c_str());
        return usage_status;
    }

    std::vector<std::string> inherited;
    for (char **entry = environ; *entry; ++entry) {
        // The command is here to use the libusb path.
        if (std::strncmp(*entry, "CORVANE_USB=", 12) != 0)
            inherited.emplace_back(*entry);
    }
    const std::vector<std::string> environment =
        corvane::usbfs::merged_environment(inherited, bus->child_environment());
    std::vector<char *> env_pointers;
    for (const std::string &entry : environment)
        env_pointers.push_back(const_cast<char *>(entry.c_str()));
    env_pointers.push_back(nullptr);

    struct sigaction forward {};
    forward.sa_handler = pass_on;
    struct sigaction wait_for_command {};
    wait_for_command.sa_handler = let_command_handle;
    sigaction(SIGINT, &wait_for_command, nullptr);
    sigaction(SIGTERM, &forward, nullptr);
    sigaction(SIGHUP, &forward, nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("usbfs-run: fork");
        return usage_status;
    }
    if (pid == 0) {
        execvpe(argv[command_at], argv + command_at, env_pointers.data());
        std::fprintf(stderr, "usbfs-run: %s: %s\n", argv[command_at], std::strerror(errno));
        _exit(127);
    }
    child_pid = pid;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    child_pid = 0;
    bus.reset();
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
