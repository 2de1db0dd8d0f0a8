// What each kind of the --chip option is: its chip family (wire/ftdi_protocol.h holds the
// identity table), its EEPROM, and the identity it shows when its EEPROM holds no image.
#ifndef CORVANE_SIM_CHIP_KIND_H
#define CORVANE_SIM_CHIP_KIND_H

#include "sim/virtual_bus.h"
#include "wire/ftdi_protocol.h"

#include <optional>
#include <string_view>

namespace corvane::sim {

enum class EepromKind {
    external,      // a serial EEPROM beside the chip: 0 (none), 64, 128 or 256 words
    internal_232r, // 64 words inside the chip, factory words above them
    internal_x,    // 1024 words inside the chip, with a write-protected area
};

struct ChipProfile {
    ChipKind kind;
    std::string_view name; // as on the command line
    const usb::ftdi::ChipIdentity *identity;
    EepromKind eeprom;
    unsigned default_eeprom_words;
    std::string_view default_product;
    bool cartridge_on_a; // channel A carries the cartridge command stream
};

const ChipProfile &profile_of(ChipKind kind);
std::optional<ChipKind> kind_from_name(std::string_view name);

// The manufacturer string a chip shows when its EEPROM holds no valid image.
constexpr std::string_view default_manufacturer = "Corvane";

} // namespace corvane::sim

#endif // CORVANE_SIM_CHIP_KIND_H
