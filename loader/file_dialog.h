// The "-w" option: the platform's open-file dialog.
#ifndef CORVANE_LOADER_FILE_DIALOG_H
#define CORVANE_LOADER_FILE_DIALOG_H

#include "loader/run_state.h"

namespace corvane::loader {

// Shows the dialog; a chosen path becomes the run's file name. The last choice seeds the
// next dialog of the same run.
void choose_file_with_dialog(RunState &state);

} // namespace corvane::loader

#endif // CORVANE_LOADER_FILE_DIALOG_H
