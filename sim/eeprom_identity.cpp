#include "sim/eeprom_identity.h"

namespace corvane::sim {
namespace {

using usb::ftdi::Family;

struct Layout {
    unsigned checksum_word;
    unsigned skip_first = 1, skip_last = 0; // words the checksum passes over
    bool offsets_as_stored = false;         // pointer bytes are the real offsets (moved strings)
    bool offsets_in_upper_half = false;     // FT-X: 7-bit offsets counted from byte 0x80
};

bool is_large_code(uint16_t code, bool with_x_code)
{
    return code == 0x56 || code == 0x66 || (with_x_code && code == 0x5231);
}

// Where the family keeps its checksum and strings; the two-channel and H-series images
// say in an EEPROM-type word whether they use a large part.
Layout layout_for(Family family, const std::vector<uint16_t> &words)
{
    switch (family) {
    case Family::ft2232c:
        if (is_large_code(words[10], false))
            return {127, 1, 0, true, false};
        return {63};
    case Family::ft2232h:
    case Family::ft4232h:
        if (is_large_code(words[12], false))
            return {127, 1, 0, true, false};
        return {63};
    case Family::ft232h: return {127, 1, 0, is_large_code(words[15], true), false};
    case Family::ftx: return {127, 18, 63, false, true};
    default: return {63};
    }
}

uint8_t image_byte(const std::vector<uint16_t> &words, unsigned offset)
{
    uint16_t word = words[offset / 2];
    return static_cast<uint8_t>(offset % 2 ? word >> 8 : word);
}

// A string descriptor that does not lie wholly before the checksum word reads as empty.
std::string descriptor_text(const std::vector<uint16_t> &words, unsigned offset, unsigned limit)
{
    if (offset + 2 > limit)
        return {};
    unsigned length = image_byte(words, offset);
    if (length < 2 || offset + length > limit || image_byte(words, offset + 1) != 0x03)
        return {};
    std::string text;
    for (unsigned at = offset + 2; at + 1 < offset + length; at += 2)
        text.push_back(static_cast<char>(image_byte(words, at)));
    return text;
}

} // namespace

uint16_t image_checksum(const std::vector<uint16_t> &words, unsigned checksum_word, unsigned skip_first,
                        unsigned skip_last)
{
    uint16_t sum = 0xAAAA;
    for (unsigned i = 0; i < checksum_word && i < words.size(); ++i) {
        if (skip_last >= skip_first && i >= skip_first && i <= skip_last)
            continue;
        sum ^= words[i];
        sum = static_cast<uint16_t>(sum << 1 | sum >> 15);
    }
    return sum;
}

std::optional<EepromIdentity> decode_eeprom_identity(Family family, const std::vector<uint16_t> &words)
{
    if (words.size() < 128)
        return std::nullopt;
    EepromIdentity identity;
    identity.vendor_id = words[1];
    identity.product_id = words[2];
    if (identity.vendor_id == 0 || identity.vendor_id == 0xFFFF)
        return std::nullopt;
    Layout layout = layout_for(family, words);
    if (words[layout.checksum_word] != image_checksum(words, layout.checksum_word, layout.skip_first, layout.skip_last))
        return std::nullopt;

    const unsigned limit = layout.checksum_word * 2;
    auto offset_of = [&](unsigned pointer_byte) {
        unsigned pointer = image_byte(words, pointer_byte);
        if (layout.offsets_in_upper_half)
            return (pointer & 0x7F) + 0x80;
        return layout.offsets_as_stored ? pointer : pointer & 0x7F;
    };
    identity.manufacturer = descriptor_text(words, offset_of(14), limit);
    identity.product = descriptor_text(words, offset_of(16), limit);
    identity.serial = descriptor_text(words, offset_of(18), limit);
    return identity;
}

} // namespace corvane::sim
