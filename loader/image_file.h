// The run's one file: opened for the dump's writing or for reading by every other step.
#ifndef CORVANE_LOADER_IMAGE_FILE_H
#define CORVANE_LOADER_IMAGE_FILE_H

#include "loader/run_state.h"

namespace corvane::loader {

// The part of a file name after its last backslash or slash.
const char *displayed_name(const char *file_name);

// Opens the file named in the run state at its first byte; a file to read gives its
// length as the transfer size.
void open_image_file(RunState &state);

// For a load at SDRAM offset 0, with the file at its first byte: an image in one of the
// two other byte orders is named, and sent in big-endian order when it is whole words.
void note_byte_order(RunState &state);

// Closes the file; a dump's file that cannot be completed ends the run (FAIL 2).
void close_image_file(RunState &state);

} // namespace corvane::loader

#endif // CORVANE_LOADER_IMAGE_FILE_H
