// The EEPROM image a `corvane` device is delivered with: the two-channel high-speed
// chip's layout naming the device, so that it lists as "<product> A" and "<product> B".
#ifndef CORVANE_SIM_DEFAULT_EEPROM_H
#define CORVANE_SIM_DEFAULT_EEPROM_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::sim {

struct DefaultEepromStrings {
    std::string_view manufacturer;
    std::string_view product;
    std::string_view serial;
};

// The image for a part of `part_words` words (64, 128 or 256; words past the image stay
// erased). Empty, with the reason in `error`, when the strings do not fit the string area.
std::vector<uint16_t> make_default_eeprom(unsigned part_words, const DefaultEepromStrings &strings, std::string &error);

} // namespace corvane::sim

#endif // CORVANE_SIM_DEFAULT_EEPROM_H
