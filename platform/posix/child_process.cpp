#include "platform/posix/child_process.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace corvane::platform {
namespace {

bool is_executable_file(const std::string &path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Closes a descriptor once, on every path out.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { close_now(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }
    void close_now()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

int wait_for(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

std::optional<std::string> find_on_path(const std::string &program)
{
    if (program.find('/') != std::string::npos)
        return is_executable_file(program) ? std::optional<std::string>(program) : std::nullopt;
    const char *search = std::getenv("PATH");
    std::string_view directories = search ? search : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const size_t colon = directories.find(':');
        std::string_view directory = directories.substr(0, colon);
        // An empty entry stands for the current directory, as the shells read it.
        std::string candidate = directory.empty() ? program : std::string(directory) + "/" + program;
        if (is_executable_file(candidate))
            return candidate;
        if (colon == std::string_view::npos)
            return std::nullopt;
        directories.remove_prefix(colon + 1);
    }
}

ChildOutcome run_child(const std::string &program, const std::vector<std::string> &arguments)
{
    ChildOutcome outcome;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return outcome;
    Descriptor read_end(ends[0]);
    Descriptor write_end(ends[1]);

    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return outcome;
    pid_t child = -1;
    const bool prepared = posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO) == 0;
    const bool spawned = prepared && posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!spawned)
        return outcome;
    outcome.started = true;

    // Our copy of the write end must go, or the read below never sees the end of file.
    write_end.close_now();
    char chunk[512];
    for (;;) {
        const ssize_t got = ::read(read_end.get(), chunk, sizeof chunk);
        if (got > 0) {
            outcome.output.append(chunk, static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        break;
    }
    outcome.exit_status = wait_for(child);
    return outcome;
}

} // namespace corvane::platform
