// The cartridge's save-memory type, kept as text in the file `savetype` of the state
// directory ("3" and a line end) so that it outlives the simulator and a person can read it.
#ifndef CORVANE_SIM_CARTRIDGE_SAVE_TYPE_H
#define CORVANE_SIM_CARTRIDGE_SAVE_TYPE_H

#include <filesystem>
#include <optional>
#include <string>

namespace corvane::sim {

class SaveTypeFile {
public:
    // Reads the last save type from `path`; a missing file means none was set yet.
    // Contents that are not a save type are refused (false, the reason in `error`).
    bool load(const std::filesystem::path &path, std::string &error);

    // Records `type` in memory and in the file, replacing the file whole so that a reader
    // never sees it half written.
    bool store(unsigned type, std::string &error);

    std::optional<unsigned> value() const { return value_; }

private:
    std::filesystem::path path_;
    std::optional<unsigned> value_;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_CARTRIDGE_SAVE_TYPE_H
