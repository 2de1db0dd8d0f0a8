// How a virtual chip reads its USB identity from its EEPROM, as the chip does at plug-in:
// the image is valid when its vendor id is neither 0 nor 0xFFFF and its checksum is right;
// the strings are found through the image's string pointers.
//
// This decoder is the model's own and is kept apart from the EEPROM library, so that the
// library's tests against the model can fail when the library writes a wrong image.
#ifndef CORVANE_SIM_EEPROM_IDENTITY_H
#define CORVANE_SIM_EEPROM_IDENTITY_H

#include "wire/ftdi_protocol.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::sim {

struct EepromIdentity {
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
    std::string manufacturer;
    std::string product;
    std::string serial;
};

// The checksum of the image words: 0xAAAA, then for each covered word XOR and rotate left
// by one. Covers words 0 to `checksum_word` - 1, except [skip_first, skip_last] when
// skip_last >= skip_first.
uint16_t image_checksum(const std::vector<uint16_t> &words, unsigned checksum_word, unsigned skip_first = 1,
                        unsigned skip_last = 0);

// `words` are the EEPROM words as the chip reads them from address 0 on (at least 128;
// 1024 for the FT-X). nullopt when they hold no valid image for the family.
std::optional<EepromIdentity> decode_eeprom_identity(usb::ftdi::Family family, const std::vector<uint16_t> &words);

} // namespace corvane::sim

#endif // CORVANE_SIM_EEPROM_IDENTITY_H
