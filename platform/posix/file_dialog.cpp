// GetOpenFileNameA: the file chooser behind the loader's "-w".
//
// With a display (DISPLAY or WAYLAND_DISPLAY) and zenity or kdialog on PATH, that program
// shows a graphical chooser; otherwise, when standard input is a terminal, the path is
// asked for on the terminal; otherwise nothing is chosen. A choice that does not fit the
// caller's buffer is refused whole, so the buffer never holds a cut-off path.
#include "platform/platform.h"
#include "platform/posix/child_process.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace corvane::platform {
namespace {

struct FileFilter {
    std::string description;
    std::vector<std::string> patterns;
};

struct DialogRequest {
    std::string title;
    std::string seed;                // the caller's current path, or its initial folder
    std::vector<FileFilter> filters; // the caller's selected filter first
};

enum class ChooserResult { chosen, cancelled, unavailable };

// "*.*" matches every name on Windows but only names with a dot here.
std::string posix_pattern(std::string_view pattern)
{
    return pattern == "*.*" ? std::string("*") : std::string(pattern);
}

// The filter list is description/pattern string pairs, each NUL-terminated, ending with
// an empty string; patterns are separated by ';'.
std::vector<FileFilter> read_filters(LPCSTR list, DWORD selected)
{
    std::vector<FileFilter> filters;
    while (list && *list) {
        FileFilter filter{list, {}};
        list += filter.description.size() + 1;
        if (!*list)
            break; // a description without its pattern ends the list
        std::string_view patterns(list);
        list += patterns.size() + 1;
        while (!patterns.empty()) {
            const size_t semicolon = patterns.find(';');
            if (std::string_view one = patterns.substr(0, semicolon); !one.empty())
                filter.patterns.push_back(posix_pattern(one));
            if (semicolon == std::string_view::npos)
                break;
            patterns.remove_prefix(semicolon + 1);
        }
        if (!filter.patterns.empty())
            filters.push_back(std::move(filter));
    }
    if (selected >= 1 && selected <= filters.size()) {
        FileFilter chosen = std::move(filters[selected - 1]);
        filters.erase(filters.begin() + static_cast<std::ptrdiff_t>(selected - 1));
        filters.insert(filters.begin(), std::move(chosen));
    }
    return filters;
}

DialogRequest read_request(const OPENFILENAMEA &ofn)
{
    DialogRequest request;
    request.title = ofn.lpstrTitle ? ofn.lpstrTitle : "Open";
    // The current path may fill the buffer without a terminator; never read past it.
    const size_t current_length = strnlen(ofn.lpstrFile, ofn.nMaxFile);
    if (current_length > 0 && current_length < ofn.nMaxFile)
        request.seed.assign(ofn.lpstrFile, current_length);
    else if (ofn.lpstrInitialDir && *ofn.lpstrInitialDir)
        request.seed = std::string(ofn.lpstrInitialDir) + "/";
    request.filters = read_filters(ofn.lpstrFilter, ofn.nFilterIndex);
    return request;
}

std::string joined(const std::vector<std::string> &parts, char separator)
{
    std::string out;
    for (const std::string &part : parts) {
        if (!out.empty())
            out += separator;
        out += part;
    }
    return out;
}

std::vector<std::string> zenity_arguments(const DialogRequest &request)
{
    std::vector<std::string> arguments{"zenity", "--file-selection", "--title=" + request.title};
    if (!request.seed.empty())
        arguments.push_back("--filename=" + request.seed);
    for (const FileFilter &filter : request.filters) {
        std::string name = filter.description;
        std::replace(name.begin(), name.end(), '|', '/'); // zenity splits the name from the patterns at '|'
        arguments.push_back("--file-filter=" + name + " | " + joined(filter.patterns, ' '));
    }
    return arguments;
}

std::vector<std::string> kdialog_arguments(const DialogRequest &request)
{
    std::string filter_lines;
    for (const FileFilter &filter : request.filters) {
        if (!filter_lines.empty())
            filter_lines += '\n';
        filter_lines += joined(filter.patterns, ' ') + "|" + filter.description;
    }
    std::vector<std::string> arguments{"kdialog", "--title", request.title, "--getopenfilename",
                                       request.seed.empty() ? std::string(".") : request.seed};
    if (!filter_lines.empty())
        arguments.push_back(filter_lines);
    return arguments;
}

ChooserResult run_chooser(const std::string &program, const std::vector<std::string> &arguments, std::string &chosen)
{
    const std::optional<std::string> found = find_on_path(program);
    if (!found)
        return ChooserResult::unavailable;
    ChildOutcome outcome = run_child(*found, arguments);
    if (!outcome.started)
        return ChooserResult::unavailable;
    if (outcome.exit_status != 0)
        return ChooserResult::cancelled;
    while (!outcome.output.empty() && (outcome.output.back() == '\n' || outcome.output.back() == '\r'))
        outcome.output.pop_back();
    chosen = std::move(outcome.output);
    return chosen.empty() ? ChooserResult::cancelled : ChooserResult::chosen;
}

bool display_available()
{
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (const char *value = std::getenv(variable); value && *value)
            return true;
    return false;
}

// A typed path as the user meant it: without the quotes a terminal adds to a dropped
// file, with "~/" standing for the home folder, relative to the current folder.
std::string typed_path(std::string text)
{
    if (text.size() >= 2 && (text.front() == '\'' || text.front() == '"') && text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    if (text.starts_with("~/"))
        if (const char *home = std::getenv("HOME"); home && *home)
            text = std::string(home) + text.substr(1);
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(text, error);
    return error ? text : absolute.string();
}

std::optional<std::string> ask_on_terminal(const DialogRequest &request)
{
    std::string shown_patterns;
    if (!request.filters.empty())
        shown_patterns = " [" + joined(request.filters.front().patterns, ' ') + "]";
    // Whatever the program printed so far belongs before the question.
    std::fflush(stdout);
    std::fprintf(stderr, "%s%s - path of the file (empty line cancels): ", request.title.c_str(),
                 shown_patterns.c_str());
    std::fflush(stderr);

    char *line = nullptr;
    size_t capacity = 0;
    const ssize_t length = getline(&line, &capacity, stdin);
    std::string text = length > 0 ? std::string(line, static_cast<size_t>(length)) : std::string();
    std::free(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text.empty())
        return std::nullopt;
    return typed_path(std::move(text));
}

std::optional<std::string> choose_file(const DialogRequest &request)
{
    if (display_available()) {
        std::string chosen;
        for (const auto &[program, arguments] :
             {std::pair{"zenity", zenity_arguments(request)}, std::pair{"kdialog", kdialog_arguments(request)}}) {
            switch (run_chooser(program, arguments, chosen)) {
            case ChooserResult::chosen: return chosen;
            case ChooserResult::cancelled: return std::nullopt;
            case ChooserResult::unavailable: break;
            }
        }
    }
    if (isatty(STDIN_FILENO))
        return ask_on_terminal(request);
    return std::nullopt;
}

void copy_truncated(const std::string &text, LPSTR buffer, DWORD capacity)
{
    const size_t length = std::min<size_t>(text.size(), capacity - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

// Hands the choice back the way the common dialog does: the path, the offsets of its
// name and extension, and the bare name in the title buffer.
void hand_back(const std::string &path, OPENFILENAMEA &ofn)
{
    std::memcpy(ofn.lpstrFile, path.c_str(), path.size() + 1);
    const size_t slash = path.find_last_of('/');
    const size_t name_offset = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    const size_t extension_offset = dot == std::string::npos || dot < name_offset ? path.size() : dot + 1;
    if (extension_offset <= 0xFFFF) {
        ofn.nFileOffset = static_cast<WORD>(name_offset);
        ofn.nFileExtension = static_cast<WORD>(extension_offset);
    }
    if (ofn.lpstrFileTitle && ofn.nMaxFileTitle > 0)
        copy_truncated(path.substr(name_offset), ofn.lpstrFileTitle, ofn.nMaxFileTitle);
}

} // namespace
} // namespace corvane::platform

BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA ofn)
{
    namespace p = corvane::platform;
    if (!ofn || !ofn->lpstrFile || ofn->nMaxFile == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::optional<std::string> chosen;
    try {
        chosen = p::choose_file(p::read_request(*ofn));
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (!chosen)
        return FALSE;
    if (chosen->size() >= ofn->nMaxFile) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    p::hand_back(*chosen, *ofn);
    return TRUE;
}
