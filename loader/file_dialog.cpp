#include "loader/file_dialog.h"

#include "platform/platform.h"

#include <cstring>

namespace corvane::loader {

namespace {

constexpr size_t DIALOG_PATH_CAPACITY = 260;

// Pairs of description and pattern, each text NUL-terminated, the list ending in an
// empty text.
constexpr char dialog_filter[] = "Images (*.z64, *.bin, *.rom,)\0*.bin;*.z64;*.rom;\0"
                                 "All Files\0*.*;\0";

char chosen_path[DIALOG_PATH_CAPACITY];
char chosen_title[DIALOG_PATH_CAPACITY];

} // namespace

void choose_file_with_dialog(RunState &state)
{
    OPENFILENAMEA dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.lpstrFilter = dialog_filter;
    dialog.lpstrFile = chosen_path;
    dialog.nMaxFile = DIALOG_PATH_CAPACITY;
    dialog.lpstrFileTitle = chosen_title;
    dialog.nMaxFileTitle = DIALOG_PATH_CAPACITY;
    // No hook flag: the record carries no hook procedure for the dialog to call.
    dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING;

    // A cancelled dialog leaves the path buffer as it was; only its text matters.
    GetOpenFileNameA(&dialog);
    chosen_path[DIALOG_PATH_CAPACITY - 1] = '\0';
    if (chosen_path[0] != '\0')
        std::memcpy(state.file_name, chosen_path, std::strlen(chosen_path) + 1);
}

} // namespace corvane::loader
