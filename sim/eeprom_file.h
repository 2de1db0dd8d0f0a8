// An EEPROM's words kept in eeprom-<serial>.bin of the state directory: 16-bit words,
// little-endian, mapped into memory so that every change reaches the file at once and a
// restart of the simulator finds it again.
#ifndef CORVANE_SIM_EEPROM_FILE_H
#define CORVANE_SIM_EEPROM_FILE_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvane::sim {

class EepromFile {
public:
    // Maps `path`, which must hold exactly `words` words. A missing file is created with
    // `initial` (which has `words` entries). A file of another size is refused, never resized.
    static std::unique_ptr<EepromFile> open(const std::filesystem::path &path, size_t words,
                                            const std::vector<uint16_t> &initial, std::string &error);
    ~EepromFile();
    EepromFile(const EepromFile &) = delete;
    EepromFile &operator=(const EepromFile &) = delete;

    size_t words() const { return words_; }
    uint16_t get(size_t index) const { return static_cast<uint16_t>(bytes_[2 * index] | bytes_[2 * index + 1] << 8); }
    void set(size_t index, uint16_t value)
    {
        bytes_[2 * index] = static_cast<uint8_t>(value);
        bytes_[2 * index + 1] = static_cast<uint8_t>(value >> 8);
    }

private:
    EepromFile(uint8_t *bytes, size_t words) : bytes_(bytes), words_(words) {}
    uint8_t *bytes_;
    size_t words_;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_EEPROM_FILE_H
