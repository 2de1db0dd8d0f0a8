// The corvane-sim program: its command line, its socket, its state and its clients.
#include "sim_process.h"

#include "wire/ftdi_protocol.h"
#include "usb/vbus/client.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane::testing {
namespace {

using usb::Status;
namespace fs = std::filesystem;

// A scratch folder for tests that run corvane-sim by hand.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (fs::temp_directory_path() / "corvane-simcli-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

struct UsageCase {
    const char *name;
    std::vector<std::string> args;
    const char *message;
    friend void PrintTo(const UsageCase &usage, std::ostream *out) { *out << usage.name; }
};

class SimCommandLine : public ::testing::TestWithParam<UsageCase> {};

TEST_P(SimCommandLine, RefusesBadUsageWithExitStatusOne)
{
    ScratchDir scratch;
    std::vector<std::string> args{"--socket", (scratch.path() / "s.sock").string(), "--state-dir",
                                  (scratch.path() / "state").string()};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    ProgramResult result = run_program(sim_program_path(), args, {}, "", 30);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("listening on"), std::string::npos);
    EXPECT_FALSE(fs::exists(scratch.path() / "s.sock"));
}

INSTANTIATE_TEST_SUITE_P(
    Options, SimCommandLine,
    ::testing::Values(
        UsageCase{"unknown_chip_kind", {"--chip", "ft9999"}, "corvane-sim: --chip ft9999: "},
        UsageCase{"bad_chip_key", {"--chip", "ft232r,colour=red"}, "corvane-sim: --chip ft232r,colour=red: "},
        UsageCase{"unknown_option", {"--turbo"}, "corvane-sim: --turbo: unknown option"},
        UsageCase{"missing_value", {"--chip"}, "corvane-sim: --chip: needs a value"},
        UsageCase{"stall_of_no_device", {"--stall", "9"}, "corvane-sim: fault switch: "},
        UsageCase{
            "send_with_a_state_dir", {"--send", "plug 0"}, "corvane-sim: --send: takes no other option than --socket"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SimHelp, ListsTheOptionsAndTheFaultSwitches)
{
    ProgramResult result = run_program(sim_program_path(), {"--help"}, {}, "", 30);
    EXPECT_EQ(result.exit_status, 0);
    for (const char *text : {"--socket PATH", "--state-dir DIR", "--chip DESC", "--stall ID", "--unplug ID",
                             "stall ID on", "unplug ID", "plug ID", "--send MESSAGE", "removed with those files"})
        EXPECT_NE(result.out.find(text), std::string::npos) << text;
}

class SimProgram : public ::testing::Test {
protected:
    // Claims a channel from this process.
    std::unique_ptr<usb::Channel> open(usb::Transport &transport, const std::string &id, unsigned channel,
                                       Status expected = Status::ok)
    {
        std::unique_ptr<usb::Channel> opened;
        EXPECT_EQ(transport.open(id, channel, opened), expected);
        return opened;
    }
};

TEST_F(SimProgram, PrintsItsStateDirectoryThenWhereItListens)
{
    SimProcess sim;
    EXPECT_EQ(sim.standard_output(),
              "state directory: " + sim.state_dir().string() + "\nlistening on " + sim.socket_path() + "\n");
    EXPECT_TRUE(fs::exists(sim.state_dir() / "sdram.bin"));
}

TEST_F(SimProgram, MakesATemporaryStateDirectoryWhenGivenNone)
{
    ScratchDir scratch;
    std::string socket = (scratch.path() / "s.sock").string();
    // Killed at the time-out: this only reads what it printed on the way up.
    ProgramResult result = run_program(sim_program_path(), {"--socket", socket}, {}, "", 3);
    const std::string prefix = "state directory: ";
    ASSERT_EQ(result.out.rfind(prefix, 0), 0u) << result.out << result.err;
    fs::path made = result.out.substr(prefix.size(), result.out.find('\n') - prefix.size());
    EXPECT_TRUE(fs::exists(made / "sdram.bin")) << made;
    EXPECT_NE(result.out.find("listening on " + socket + "\n"), std::string::npos);
    std::error_code ignored;
    fs::remove_all(made, ignored);
}

TEST_F(SimProgram, StopsCleanlyOnSigtermAndSigint)
{
    for (int signal_number : {SIGTERM, SIGINT}) {
        SimProcess sim({"corvane", "ft232r,serial=GONE1"}, {}, SimProcess::StateDir::its_own);
        const fs::path state = sim.state_dir();
        ASSERT_TRUE(fs::exists(state / "sdram.bin")) << state;
        ASSERT_TRUE(fs::exists(state / "eeprom-GONE1.bin"));
        kill(sim.pid(), signal_number);
        EXPECT_EQ(sim.stop(), 0) << strsignal(signal_number);
        EXPECT_FALSE(fs::exists(sim.socket_path())) << "the socket file was left behind";
        EXPECT_FALSE(fs::exists(state)) << "the state folder it made itself was left behind";
        EXPECT_EQ(sim.standard_error(), "");
    }
}

TEST_F(SimProgram, KeepsItsOwnStateFolderWhenItHoldsWhatItDidNotMake)
{
    SimProcess sim({}, {}, SimProcess::StateDir::its_own);
    const fs::path state = sim.state_dir();
    std::ofstream(state / "notes.txt") << "the user's";
    fs::create_directory(state / "eeprom-kept.bin");
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(fs::exists(state / "sdram.bin"));
    EXPECT_FALSE(fs::exists(state / "fpga.bin"));
    EXPECT_TRUE(fs::exists(state / "notes.txt"));
    EXPECT_TRUE(fs::is_directory(state / "eeprom-kept.bin"));
    EXPECT_NE(sim.standard_error().find("corvane-sim: state directory " + state.string() + ": kept"), std::string::npos)
        << sim.standard_error();
}

TEST_F(SimProgram, SocketIsForItsOwnerOnly)
{
    SimProcess sim;
    struct stat info {};
    ASSERT_EQ(stat(sim.socket_path().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(SimProgram, ALiveSocketIsRefusedAndAStaleOneReplaced)
{
    SimProcess sim;
    ScratchDir scratch;
    std::vector<std::string> args{"--socket", sim.socket_path(), "--state-dir", (scratch.path() / "state").string()};
    ProgramResult refused = run_program(sim_program_path(), args, {}, "", 30);
    EXPECT_EQ(refused.exit_status, 2);
    EXPECT_NE(refused.err.find("another simulator is listening there"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(scratch.path() / "state")) << "the refused simulator touched a state folder";

    sim.kill_hard();
    ASSERT_TRUE(fs::exists(sim.socket_path())) << "SIGKILL leaves the socket file behind";
    ProgramResult replaced = run_program(sim_program_path(), args, {}, "", 3);
    EXPECT_NE(replaced.out.find("listening on " + sim.socket_path()), std::string::npos) << replaced.err;
}

TEST_F(SimProgram, KeepsTheDevicesMemoriesAcrossARestart)
{
    ScratchDir scratch;
    fs::path state = scratch.path() / "state";
    std::vector<std::string> chips{"corvane", "ft232b,serial=KEEP1,eeprom=64"};
    auto write_word = [](usb::Channel &channel, uint16_t address, uint16_t word) {
        uint16_t moved = 0;
        return channel.control({usb::ftdi::request_out, usb::ftdi::write_eeprom, word, address, 0}, nullptr, 1000,
                               &moved);
    };
    {
        SimProcess sim(chips, state);
        auto client = usb::make_vbus_client(sim.socket_path());
        auto channel = open(*client, "1", 1);
        ASSERT_TRUE(channel);
        ASSERT_EQ(write_word(*channel, 5, 0xC0DE), Status::ok);
    }
    EXPECT_EQ(fs::file_size(state / "sdram.bin"), 64u << 20);
    EXPECT_EQ(fs::file_size(state / "bootflash.bin"), 512u << 10);
    EXPECT_EQ(fs::file_size(state / "fpga.bin"), 4u << 20);
    EXPECT_TRUE(fs::exists(state / "eeprom-KEEP1.bin"));

    SimProcess again(chips, state);
    auto client = usb::make_vbus_client(again.socket_path());
    auto channel = open(*client, "1", 1);
    ASSERT_TRUE(channel);
    uint8_t word[2] = {};
    uint16_t moved = 0;
    ASSERT_EQ(channel->control({usb::ftdi::request_in, usb::ftdi::read_eeprom, 0, 5, 2}, word, 1000, &moved),
              Status::ok);
    EXPECT_EQ(moved, 2);
    EXPECT_EQ(word[0] | word[1] << 8, 0xC0DE);
}

TEST_F(SimProgram, ASecondClientProcessIsRefusedAClaimedChannel)
{
    SimProcess sim;
    auto client = usb::make_vbus_client(sim.socket_path());
    auto held = open(*client, "0", 1);
    ASSERT_TRUE(held);
    auto try_in_child = [&](unsigned channel) {
        pid_t child = fork();
        if (child == 0) {
            auto other = usb::make_vbus_client(sim.socket_path());
            std::unique_ptr<usb::Channel> opened;
            _exit(static_cast<int>(other->open("0", channel, opened)));
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? static_cast<Status>(WEXITSTATUS(status)) : Status::io_error;
    };
    EXPECT_EQ(try_in_child(1), Status::busy);
    EXPECT_EQ(try_in_child(2), Status::ok);
    held.reset();
    EXPECT_EQ(try_in_child(1), Status::ok) << "closing the channel did not release it";
}

TEST_F(SimProgram, FaultSwitchesUnplugAndPlugTheDevice)
{
    SimProcess sim({"corvane", "ft232r"});
    auto client = usb::make_vbus_client(sim.socket_path());
    auto channel = open(*client, "0", 1);
    ASSERT_TRUE(channel);
    ASSERT_TRUE(sim.send_control("unplug 0")) << sim.last_answer();
    std::vector<usb::DeviceIdentity> devices;
    ASSERT_EQ(client->list(devices), Status::ok);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].id, "1");
    uint8_t status_bytes[2];
    uint16_t moved = 0;
    EXPECT_EQ(channel->control({usb::ftdi::request_in, usb::ftdi::modem_status, 0, 1, 2}, status_bytes, 1000, &moved),
              Status::no_device);

    ASSERT_TRUE(sim.send_control("plug 0")) << sim.last_answer();
    ASSERT_EQ(client->list(devices), Status::ok);
    EXPECT_EQ(devices.size(), 2u);
    EXPECT_EQ(channel->control({usb::ftdi::request_in, usb::ftdi::modem_status, 0, 1, 2}, status_bytes, 1000, &moved),
              Status::no_device)
        << "a channel from before the unplug reached the device plugged in again";
    EXPECT_TRUE(open(*client, "0", 1)) << "the device plugged in again cannot be claimed";
    EXPECT_FALSE(sim.send_control("wiggle 0"));
    EXPECT_NE(sim.last_answer().find("stall ID on"), std::string::npos) << sim.last_answer();
}

TEST_F(SimProgram, SendDeliversOneFaultMessageAndExitsWithItsOutcome)
{
    SimProcess sim({"corvane", "ft232r"});
    auto client = usb::make_vbus_client(sim.socket_path());
    auto send = [&](const std::string &message) {
        return run_program(sim_program_path(), {"--socket", sim.socket_path(), "--send", message}, {}, "", 30);
    };
    auto listed = [&] {
        std::vector<usb::DeviceIdentity> devices;
        EXPECT_EQ(client->list(devices), Status::ok);
        return devices.size();
    };

    ProgramResult unplugged = send("unplug 0");
    EXPECT_EQ(unplugged.exit_status, 0) << unplugged.err;
    EXPECT_EQ(unplugged.out, "done: unplug 0\n");
    EXPECT_EQ(listed(), 1u);

    for (const char *refused : {"unplug 9", "wiggle 0", "cut 0 -5"}) {
        ProgramResult result = send(refused);
        EXPECT_EQ(result.exit_status, 1) << refused;
        EXPECT_EQ(result.out, "") << refused;
        EXPECT_EQ(result.err.rfind("corvane-sim: fault switch: ", 0), 0u) << result.err;
    }
    EXPECT_EQ(listed(), 1u);

    // Without --socket it goes to the default address, CORVANE_VBUS here.
    ProgramResult plugged =
        run_program(sim_program_path(), {"--send", "plug 0"}, {"CORVANE_VBUS=" + sim.socket_path()}, "", 30);
    EXPECT_EQ(plugged.exit_status, 0) << plugged.err;
    EXPECT_EQ(plugged.out, "done: plug 0\n");
    EXPECT_EQ(listed(), 2u);
}

TEST_F(SimProgram, SendExitsTwoWhenNoSimulatorAnswers)
{
    ScratchDir scratch;
    const std::string silent = (scratch.path() / "silent.sock").string();
    // A socket that accepts connections (into its backlog) and never answers.
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", silent.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);

    struct Case {
        std::string socket;
        const char *why;
    };
    for (const Case &nobody : {Case{(scratch.path() / "none.sock").string(), "No such file or directory"},
                               Case{silent, "no answer in time"}}) {
        ProgramResult result =
            run_program(sim_program_path(), {"--socket", nobody.socket, "--send", "plug 0"}, {}, "", 60);
        EXPECT_EQ(result.exit_status, 2) << nobody.socket;
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("corvane-sim: " + nobody.socket + ": no simulator answers: " + nobody.why),
                  std::string::npos)
            << result.err;
    }
    // A socket file left behind by a simulator that is gone.
    close(listener);
    ProgramResult stale = run_program(sim_program_path(), {"--socket", silent, "--send", "plug 0"}, {}, "", 30);
    EXPECT_EQ(stale.exit_status, 2) << stale.err;

    // A message the protocol cannot carry is a usage error, whoever listens.
    ProgramResult too_long =
        run_program(sim_program_path(), {"--socket", silent, "--send", std::string(256, 'x')}, {}, "", 30);
    EXPECT_EQ(too_long.exit_status, 1);
    EXPECT_NE(too_long.err.find("at most 255 bytes"), std::string::npos) << too_long.err;
}

TEST_F(SimProgram, ClientsSeeASimulatorThatDiesAsNoDevice)
{
    SimProcess sim;
    auto client = usb::make_vbus_client(sim.socket_path());
    std::vector<usb::DeviceIdentity> devices;
    ASSERT_EQ(client->list(devices), Status::ok);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].product, "Corvane USB device");
    EXPECT_EQ(devices[0].channels, 2);
    auto channel = open(*client, "0", 1);
    ASSERT_TRUE(channel);
    sim.kill_hard();
    uint8_t buffer[512];
    size_t moved = 99;
    EXPECT_EQ(channel->bulk_in(buffer, sizeof buffer, 1000, &moved), Status::no_device);
    EXPECT_EQ(moved, 0u);
    ASSERT_EQ(client->list(devices), Status::ok);
    EXPECT_TRUE(devices.empty());
}

} // namespace
} // namespace corvane::testing
