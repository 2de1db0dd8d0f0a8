// The state folder that corvane-sim makes for itself when it is given none.
#ifndef CORVANE_SIM_STATE_DIR_H
#define CORVANE_SIM_STATE_DIR_H

#include <filesystem>
#include <string>
#include <string_view>

namespace corvane::sim {

// The names of the memory files the devices keep in a state folder: sdram.bin,
// bootflash.bin, fpga.bin, savetype and eeprom-<serial>.bin.
bool is_memory_file_name(std::string_view name);

// Removes the memory files in `dir` and then `dir` itself. Anything else in it (a file
// the user put there, a symbolic link, a subfolder) stays, and so does the folder: false
// with what was kept, or why the removal failed, in `error`.
bool remove_state_dir(const std::filesystem::path &dir, std::string &error);

// Owns a state folder made for this run: removed when the owner ends, that is at every
// return from main after the folder was made (a clean stop or a failed start). A folder
// the user named is never owned. What could not be removed is said on standard error.
class OwnStateDir {
public:
    OwnStateDir() = default;
    explicit OwnStateDir(std::filesystem::path dir) : dir_(std::move(dir)) {}
    ~OwnStateDir();
    OwnStateDir(const OwnStateDir &) = delete;
    OwnStateDir &operator=(const OwnStateDir &) = delete;

private:
    std::filesystem::path dir_;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_STATE_DIR_H
