// A program of a benchmark's own, run to its end with its standard output read as it comes.
#ifndef CORVANE_BENCH_CHILD_PROGRAM_H
#define CORVANE_BENCH_CHILD_PROGRAM_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace corvane::bench {

struct ChildExit {
    int status = -1;   // the exit status, or 128 + the signal that ended it
    long peak_kib = 0; // the largest resident set it reached
};

// Runs `args` with `environment` ("NAME=value") added to this process's own; `on_output`
// is called with each piece of standard output as it arrives.
template <typename OnOutput>
ChildExit run_child(std::vector<std::string> args, const std::vector<std::string> &environment, OnOutput on_output)
{
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    pid_t pid = fork();
    if (pid == 0) {
        for (const std::string &entry : environment)
            putenv(const_cast<char *>(entry.c_str()));
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char piece[4096];
    ssize_t got;
    while ((got = read(out[0], piece, sizeof piece)) > 0)
        on_output(piece, static_cast<size_t>(got));
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return ChildExit{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss};
}

} // namespace corvane::bench

#endif
