// A private corvane-sim for a test (own socket, own state folder) and a runner for the
// programs under test.
#ifndef CORVANE_INTEGRATION_SIM_PROCESS_H
#define CORVANE_INTEGRATION_SIM_PROCESS_H

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvane::testing {

class SimProcess {
public:
    // Where the state folder comes from: given to the simulator (--state-dir), or made by
    // the simulator itself (no --state-dir; state_dir() is then the folder it printed).
    enum class StateDir { given, its_own };

    // `chips` are --chip descriptions (empty: one corvane). `state_dir` empty: a temporary
    // folder that the destructor removes. Waits (bounded) for "listening on" and fails the
    // test with the simulator's standard error when it does not come.
    // `options` are further command-line options (e.g. --usb-timing).
    explicit SimProcess(std::vector<std::string> chips = {}, std::filesystem::path state_dir = {},
                        StateDir where = StateDir::given, std::vector<std::string> options = {});
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    const std::string &socket_path() const { return socket_path_; }
    const std::filesystem::path &state_dir() const { return state_dir_; }
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // "CORVANE_VBUS=<socket>", "CORVANE_USB=off": the environment for child programs.
    std::vector<std::string> environment() const;

    // A fault switch, as corvane-sim --help lists them:
    //   "stall ID on", "stall ID off", "unplug ID", "plug ID", "cut ID BYTES"
    // where ID is a device id as listed (devices are "0", "1", ... in bus order).
    // True when the simulator carried it out.
    bool send_control(const std::string &message);
    // The simulator's answer to the last send_control (its reason when refused).
    const std::string &last_answer() const { return last_answer_; }

    // SIGKILL and reap, for tests of an abrupt end; the socket file stays behind.
    void kill_hard();
    // SIGTERM and wait (bounded); returns the exit status, or -1 when it had to be killed.
    int stop();

    // What the simulator printed so far.
    std::string standard_output() const;
    std::string standard_error() const;

private:
    std::filesystem::path work_dir_; // temporary: socket, output files, default state
    std::filesystem::path state_dir_;
    bool own_state_dir_ = false; // the simulator's to remove; removed here if it did not
    std::string socket_path_;
    std::string last_answer_;
    pid_t pid_ = -1;
};

struct ProgramResult {
    int exit_status; // the exit code, or 128 + signal number when a signal ended it
    std::string out;
    std::string err;
};

// fork/exec with `args` as argv (no shell), the current environment plus `extra_env`
// ("NAME=value" entries override), feeding `stdin_text`, capturing both streams; kills the
// program at `timeout_seconds` (exit_status then 128 + SIGKILL).
ProgramResult run_program(const std::string &path, const std::vector<std::string> &args,
                          const std::vector<std::string> &extra_env, const std::string &stdin_text = "",
                          int timeout_seconds = 60);

// The built corvane-sim program.
std::string sim_program_path();

} // namespace corvane::testing

#endif // CORVANE_INTEGRATION_SIM_PROCESS_H
