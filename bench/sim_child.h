// A corvane-sim of a benchmark's own: a private socket and state folder in `dir`, the
// given --chip descriptions (none: one cartridge) and further options, SIGTERM when done.
#ifndef CORVANE_BENCH_SIM_CHILD_H
#define CORVANE_BENCH_SIM_CHILD_H

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace corvane::bench {

class SimChild {
public:
    SimChild(const std::string &program, const std::filesystem::path &dir, const std::vector<std::string> &chips = {},
             const std::vector<std::string> &options = {})
    {
        socket_ = (dir / "vbus.sock").string();
        std::vector<std::string> args{program, "--socket", socket_, "--state-dir", (dir / "sim-state").string()};
        args.insert(args.end(), options.begin(), options.end());
        for (const std::string &chip : chips) {
            args.push_back("--chip");
            args.push_back(chip);
        }
        std::vector<char *> argv;
        for (std::string &arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0)
            give_up("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        // The simulator says when it accepts connections.
        std::string seen;
        char chunk[256];
        while (seen.find("listening on") == std::string::npos) {
            ssize_t got = read(out[0], chunk, sizeof chunk);
            if (got <= 0)
                give_up("corvane-sim (" + program + ") did not start; try --sim PATH");
            seen.append(chunk, static_cast<size_t>(got));
        }
        close(out[0]);
    }
    ~SimChild()
    {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    SimChild(const SimChild &) = delete;
    SimChild &operator=(const SimChild &) = delete;

    const std::string &socket() const { return socket_; }

private:
    [[noreturn]] static void give_up(const std::string &why)
    {
        std::fprintf(stderr, "benchmark: %s\n", why.c_str());
        std::exit(1);
    }

    std::string socket_;
    pid_t pid_ = -1;
};

} // namespace corvane::bench

#endif // CORVANE_BENCH_SIM_CHILD_H
