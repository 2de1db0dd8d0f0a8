#include "sim_process.h"

#include "wire/vbus_protocol.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/uio.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace corvane::testing {
namespace {

namespace vbus = corvane::usb::vbus;
using Clock = std::chrono::steady_clock;

// Sanitizer builds start slowly on a busy machine; this only bounds a simulator that
// never comes up.
constexpr auto start_limit = std::chrono::seconds(30);
constexpr auto stop_limit = std::chrono::seconds(20);

std::string read_file(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits for `pid` until `limit`; the exit status as ProgramResult counts it, or -1 when
// it is still running.
int wait_for(pid_t pid, Clock::duration limit)
{
    auto deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0 && errno != EINTR)
            return -1;
        if (Clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<std::string> merged_environment(const std::vector<std::string> &extra)
{
    std::map<std::string, std::string> by_name;
    auto add = [&](const std::string &entry) { by_name[entry.substr(0, entry.find('='))] = entry; };
    for (char **entry = environ; *entry; ++entry)
        add(*entry);
    for (const std::string &entry : extra)
        add(entry);
    std::vector<std::string> all;
    for (auto &[name, entry] : by_name)
        all.push_back(entry);
    return all;
}

std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> list;
    for (std::string &text : strings)
        list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

} // namespace

std::string sim_program_path()
{
#ifdef CORVANE_SIM_PATH
    return CORVANE_SIM_PATH;
#else
    return "corvane-sim";
#endif
}

SimProcess::SimProcess(std::vector<std::string> chips, std::filesystem::path state_dir, StateDir where,
                       std::vector<std::string> options)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-simtest-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder: " + std::string(std::strerror(errno)));
    work_dir_ = pattern;
    state_dir_ = state_dir.empty() ? work_dir_ / "state" : std::move(state_dir);
    socket_path_ = (work_dir_ / "vbus.sock").string();

    std::vector<std::string> args{sim_program_path(), "--socket", socket_path_, "--state-dir", state_dir_.string()};
    own_state_dir_ = where == StateDir::its_own;
    if (own_state_dir_) {
        args.resize(3);
        state_dir_.clear();
    }
    for (const std::string &chip : chips) {
        args.push_back("--chip");
        args.push_back(chip);
    }
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char *> argv = pointers(args);
    std::string out_path = (work_dir_ / "stdout").string();
    std::string err_path = (work_dir_ / "stderr").string();

    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("cannot start corvane-sim: " + std::string(std::strerror(errno)));
    if (pid_ == 0) {
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int nothing = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || nothing < 0)
            _exit(127);
        dup2(nothing, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }

    auto deadline = Clock::now() + start_limit;
    while (standard_output().find("listening on ") == std::string::npos) {
        int status = 0;
        bool ended = waitpid(pid_, &status, WNOHANG) == pid_;
        if (ended || Clock::now() >= deadline) {
            if (!ended) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
            pid_ = -1;
            std::string reason = ended ? "corvane-sim ended before listening" : "corvane-sim did not start listening";
            std::string err = standard_error();
            std::error_code ignored;
            std::filesystem::remove_all(work_dir_, ignored);
            throw std::runtime_error(reason + "; its standard error:\n" + err);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (own_state_dir_) {
        const std::string prefix = "state directory: ";
        std::string out = standard_output();
        if (out.rfind(prefix, 0) == 0)
            state_dir_ = out.substr(prefix.size(), out.find('\n') - prefix.size());
    }
}

SimProcess::~SimProcess()
{
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(work_dir_, ignored);
    if (own_state_dir_ && !state_dir_.empty())
        std::filesystem::remove_all(state_dir_, ignored);
}

std::vector<std::string> SimProcess::environment() const
{
    return {"CORVANE_VBUS=" + socket_path_, "CORVANE_USB=off"};
}

bool SimProcess::send_control(const std::string &message)
{
    last_answer_.clear();
    int fd = vbus::connect_unix(socket_path_);
    if (fd < 0) {
        last_answer_ = "cannot connect: " + std::string(std::strerror(errno));
        return false;
    }
    auto deadline = Clock::now() + std::chrono::seconds(10);
    auto exchange = [&](vbus::MessageType type, std::vector<uint8_t> &payload, vbus::FrameHeader &reply) {
        uint8_t head[vbus::header_size];
        vbus::encode_header({static_cast<uint32_t>(payload.size()), 1, static_cast<uint16_t>(type), 0}, head);
        iovec parts[2] = {{head, sizeof head}, {payload.data(), payload.size()}};
        if (vbus::send_all(fd, parts, 2) != vbus::IoResult::ok ||
            vbus::recv_all(fd, head, sizeof head, deadline) != vbus::IoResult::ok)
            return false;
        reply = vbus::decode_header(head);
        if (reply.length > vbus::max_reply_payload(reply.type))
            return false;
        payload.resize(reply.length);
        return vbus::recv_all(fd, payload.data(), payload.size(), deadline) == vbus::IoResult::ok;
    };
    std::vector<uint8_t> payload;
    vbus::Writer hello(payload);
    hello.u32(vbus::magic);
    hello.u16(vbus::version);
    vbus::FrameHeader reply;
    bool done = false;
    if (exchange(vbus::MessageType::hello, payload, reply) && reply.status == 0) {
        payload.clear();
        vbus::Writer(payload).str(message);
        if (exchange(vbus::MessageType::fault, payload, reply)) {
            vbus::Reader answer(payload.data(), payload.size());
            last_answer_ = answer.str();
            done = vbus::decode_status(reply.status) == usb::Status::ok;
        }
    } else {
        last_answer_ = "the simulator refused the connection";
    }
    close(fd);
    return done;
}

void SimProcess::kill_hard()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

int SimProcess::stop()
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = wait_for(pid_, stop_limit);
    if (status < 0) {
        kill_hard();
        return -1;
    }
    pid_ = -1;
    return status;
}

std::string SimProcess::standard_output() const
{
    return read_file(work_dir_ / "stdout");
}
std::string SimProcess::standard_error() const
{
    return read_file(work_dir_ / "stderr");
}

ProgramResult run_program(const std::string &path, const std::vector<std::string> &args,
                          const std::vector<std::string> &extra_env, const std::string &stdin_text, int timeout_seconds)
{
    std::vector<std::string> argv_strings{path};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<std::string> env_strings = merged_environment(extra_env);
    std::vector<char *> argv = pointers(argv_strings);
    std::vector<char *> envp = pointers(env_strings);

    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    // The program may end without reading its input; a write to that pipe must not end us.
    signal(SIGPIPE, SIG_IGN);
    fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);

    ProgramResult result{-1, {}, {}};
    size_t fed = 0;
    int in_fd = in_pipe[1];
    if (stdin_text.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    int out_fd = out_pipe[0], err_fd = err_pipe[0];
    auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
    bool killed = false;
    while (out_fd >= 0 || err_fd >= 0) {
        pollfd watch[3];
        int count = 0;
        if (out_fd >= 0)
            watch[count++] = {out_fd, POLLIN, 0};
        if (err_fd >= 0)
            watch[count++] = {err_fd, POLLIN, 0};
        if (in_fd >= 0)
            watch[count++] = {in_fd, POLLOUT, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        int ready = poll(watch, static_cast<nfds_t>(count), static_cast<int>(std::min<long>(left, 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        for (int i = 0; i < count && ready > 0; ++i) {
            if (!watch[i].revents)
                continue;
            if (watch[i].fd == in_fd) {
                ssize_t wrote = write(in_fd, stdin_text.data() + fed, stdin_text.size() - fed);
                if (wrote > 0)
                    fed += static_cast<size_t>(wrote);
                if (wrote < 0 && errno != EAGAIN && errno != EINTR)
                    fed = stdin_text.size();
                if (fed == stdin_text.size()) {
                    close(in_fd);
                    in_fd = -1;
                }
                continue;
            }
            char chunk[4096];
            ssize_t got = read(watch[i].fd, chunk, sizeof chunk);
            std::string &sink = watch[i].fd == out_fd ? result.out : result.err;
            if (got > 0) {
                sink.append(chunk, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(watch[i].fd);
                (watch[i].fd == out_fd ? out_fd : err_fd) = -1;
            }
        }
    }
    for (int fd : {in_fd, out_fd, err_fd})
        if (fd >= 0)
            close(fd);
    // A program that closed its streams may still run: the time-out bounds that too.
    auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
    result.exit_status = wait_for(pid, left);
    if (result.exit_status < 0) {
        kill(pid, SIGKILL);
        killed = true;
        result.exit_status = wait_for(pid, stop_limit);
    }
    if (killed)
        result.exit_status = 128 + SIGKILL;
    return result;
}

} // namespace corvane::testing
