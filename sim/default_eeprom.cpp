#include "sim/default_eeprom.h"

#include "sim/eeprom_identity.h"
#include "wire/ftdi_protocol.h"

#include <array>
#include <cstring>

namespace corvane::sim {
namespace {

constexpr unsigned string_area_start = 0x1A;
constexpr unsigned string_area_end = 0x7E; // the checksum word of a 64-word image follows
constexpr unsigned large_shift = 0x80;     // a larger part keeps the strings in its upper half
constexpr uint8_t attributes_bus_powered = 0x80;
constexpr uint8_t max_power_half_ma = 0x2D; // 90 mA

// The two-channel high-speed chip's row of the identity table: its release number and
// default product id go into the image.
const usb::ftdi::ChipIdentity &two_channel_high_speed()
{
    for (const usb::ftdi::ChipIdentity &chip : usb::ftdi::chip_identities)
        if (chip.family == usb::ftdi::Family::ft2232h)
            return chip;
    return usb::ftdi::chip_identities[0];
}

class ImageBytes {
public:
    void put(unsigned offset, uint8_t value) { bytes_[offset] = value; }
    void put_word(unsigned word, uint16_t value)
    {
        bytes_[2 * word] = static_cast<uint8_t>(value);
        bytes_[2 * word + 1] = static_cast<uint8_t>(value >> 8);
    }
    // A USB string descriptor: length, type 3, one little-endian code unit per character.
    unsigned put_descriptor(unsigned offset, std::string_view text)
    {
        unsigned length = static_cast<unsigned>(2 + 2 * text.size());
        bytes_[offset] = static_cast<uint8_t>(length);
        bytes_[offset + 1] = 0x03;
        for (size_t i = 0; i < text.size(); ++i) {
            bytes_[offset + 2 + 2 * i] = static_cast<uint8_t>(text[i]);
            bytes_[offset + 3 + 2 * i] = 0;
        }
        return length;
    }
    void move_up(unsigned from, unsigned to, unsigned count)
    {
        std::memmove(&bytes_[to], &bytes_[from], count);
        std::memset(&bytes_[from], 0, count);
    }
    std::vector<uint16_t> words(unsigned count) const
    {
        std::vector<uint16_t> out(count);
        for (unsigned i = 0; i < count; ++i)
            out[i] = static_cast<uint16_t>(bytes_[2 * i] | bytes_[2 * i + 1] << 8);
        return out;
    }

private:
    std::array<uint8_t, 256> bytes_{};
};

} // namespace

std::vector<uint16_t> make_default_eeprom(unsigned part_words, const DefaultEepromStrings &strings, std::string &error)
{
    const bool large = part_words >= 128;
    const size_t needed =
        3 * 2 + 2 * (strings.manufacturer.size() + strings.product.size() + strings.serial.size()) + 4;
    if (part_words < 64 || string_area_start + needed > string_area_end) {
        error = "the manufacturer, product and serial strings do not fit the EEPROM's string area";
        return {};
    }

    ImageBytes image;
    image.put_word(1, usb::ftdi::vendor_id);
    image.put_word(2, two_channel_high_speed().default_product_id);
    image.put_word(3, two_channel_high_speed().bcd_device);
    image.put(8, attributes_bus_powered);
    image.put(9, max_power_half_ma);
    image.put_word(12, part_words == 256 ? 0x66 : part_words == 128 ? 0x56 : 0x46);

    unsigned offset = string_area_start;
    const std::string_view texts[] = {strings.manufacturer, strings.product, strings.serial};
    for (unsigned i = 0; i < 3; ++i) {
        unsigned length = image.put_descriptor(offset, texts[i]);
        // Pointer with bit 7 set: after the move to the upper half it is the real offset.
        image.put(14 + 2 * i, static_cast<uint8_t>(offset | 0x80));
        image.put(15 + 2 * i, static_cast<uint8_t>(length));
        offset += length;
    }
    offset += image.put_descriptor(offset, {});
    image.put_word(offset / 2, 0); // tail word behind the empty descriptor

    unsigned checksum_word = 63;
    if (large) {
        image.move_up(string_area_start, string_area_start + large_shift, 0x80 - string_area_start);
        checksum_word = 127;
    }
    std::vector<uint16_t> words = image.words(large ? 128 : 64);
    words[checksum_word] = image_checksum(words, checksum_word);
    words.resize(part_words, 0xFFFF);
    return words;
}

} // namespace corvane::sim
