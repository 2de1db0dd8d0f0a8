// Runs a helper program (the graphical file choosers) and collects what it prints.
#ifndef CORVANE_PLATFORM_CHILD_PROCESS_H
#define CORVANE_PLATFORM_CHILD_PROCESS_H

#include <optional>
#include <string>
#include <vector>

namespace corvane::platform {

// The full path of `program` as found on PATH (an executable regular file), or nullopt.
std::optional<std::string> find_on_path(const std::string &program);

struct ChildOutcome {
    bool started = false; // false: it could not be run at all
    int exit_status = -1; // its exit status; -1 when it did not exit normally
    std::string output;   // everything it wrote to standard output
};

// Runs `program` with `arguments` (argument 0 included) as they are, through no shell;
// standard input and error are the caller's. Waits for it to end.
ChildOutcome run_child(const std::string &program, const std::vector<std::string> &arguments);

} // namespace corvane::platform

#endif // CORVANE_PLATFORM_CHILD_PROCESS_H
