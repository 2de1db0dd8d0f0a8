#include "eeprom/ftx.h"

#include "eeprom/common_fields.h"
#include "eeprom/pin_group.h"
#include "eeprom/serial_number.h"

#include <algorithm>
#include <cstring>

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_x = 0x1000;
constexpr int checksum_word = 127;
constexpr uint16_t checksum_seed = 0xAAAA;

// Word ranges [first, end) of the memory.
struct WordRange {
    int first;
    int end;
};
// The checksum skips the first user stretch and ends before its own word; the second
// stretch lies beyond it.
constexpr WordRange checksummed[] = {{0, 18}, {64, 127}};
// What reprogramming keeps: both user stretches and the chip's own words 64 to 79.
constexpr WordRange kept_words[] = {{18, 64}, {64, 80}, {128, max_words}};

constexpr int user_start_word = 18;
constexpr uint32_t first_stretch = 2 * (64 - user_start_word);     // bytes 0x24 to 0x7F
constexpr int second_stretch_at = 0x100;
constexpr uint32_t second_stretch = image_size - second_stretch_at;
constexpr int user_area_words = static_cast<int>((first_stretch + second_stretch) / 2);

constexpr int byte0 = 0x00;
constexpr int option_flags_byte = 0x0A;    // bits 4 to 7 beside the header's bits 2 and 3
constexpr int byte11 = 0x0B;
constexpr int pin_groups_byte = 0x0C;      // group 0 in bits 0-3, group 1 in bits 4-7
constexpr int aux16_at = 0x14;
constexpr int aux24_at = 0x16;
constexpr int mux_at = 0x1A;
constexpr int mux_count = 7;

uint8_t bits_of(const uint8_t *flags, unsigned count, unsigned first_bit)
{
    uint8_t byte = 0;
    for (unsigned i = 0; i < count; ++i)
        if (flags[i])
            byte |= static_cast<uint8_t>(1u << (first_bit + i));
    return byte;
}

} // namespace

TFtEEFTX::TFtEEFTX()
{
    word_count = max_words;
    checksum_span = 254;
}

TFtEEFTX::TFtEEFTX(const device::HandleRecord &record) : TFtE2Data(record)
{
    word_count = max_words;
    checksum_span = 254;
}

// The pointer bytes hold the real offsets, all in the upper half of the first 128 words.
bool TFtEEFTX::ReadImage()
{
    if (!TFtE2Data::ReadImage())
        return false;
    manufacturer_offset += 0x80;
    description_offset += 0x80;
    serial_offset += 0x80;
    return true;
}

void TFtEEFTX::UpdateChecksum()
{
    uint16_t sum = checksum_seed;
    for (const WordRange &range : checksummed) {
        for (int word = range.first; word < range.end; ++word) {
            sum ^= word_at(word);
            sum = static_cast<uint16_t>(sum << 1 | sum >> 15);
        }
    }
    set_word_at(checksum_word, sum);
    checksum = sum;
}

int TFtEEFTX::UserAreaStart()
{
    return user_start_word;
}

int TFtEEFTX::UserAreaSize()
{
    return user_area_words;
}

bool TFtEEFTX::WriteUserArea(const uint8_t *bytes, uint32_t count)
{
    if (count > static_cast<uint32_t>(user_area_words) * 2)
        return false;
    const uint32_t first = std::min(count, first_stretch);
    if (!TFtE2Data::WriteUserArea(bytes, first))
        return false;
    if (count > first)
        std::memcpy(image + second_stretch_at, bytes + first, count - first);
    UpdateChecksum();
    return true;
}

void TFtEEFTX::ReadUserArea(uint8_t *buffer, uint32_t count, uint32_t &got)
{
    const uint32_t first = std::min(count, first_stretch);
    TFtE2Data::ReadUserArea(buffer, first, got);
    if (got != first || count <= first)
        return;
    const uint32_t rest = std::min(count - first, second_stretch);
    std::memcpy(buffer + first, image + second_stretch_at, rest);
    got += rest;
}

void TFtEEFTX::EncodeImage(const ChipOptions &) {}

FtdevStatus TFtEEFTX::DecodeImage(ProgramData &)
{
    return FTDEV_OK;
}

// The memory is inside the chip: there is nothing to probe.
bool TFtEEFTX::ProbeEepromType()
{
    eeprom_type = ftx_part_code;
    return true;
}

void TFtEEFTX::FitImageToEeprom() {}

bool TFtEEFTX::StringsFitStringArea(const char *manufacturer, const char *description, const char *serial)
{
    return ftx_first_string + descriptor_size(manufacturer) + descriptor_size(description) +
               descriptor_size(serial) <=
           ftx_strings_end;
}

void TFtEEFTX::PlaceStringDescriptors(const char *manufacturer, const char *description, const char *serial)
{
    const int manufacturer_at = ftx_first_string;
    const int description_at = manufacturer_at + descriptor_size(manufacturer);
    const int serial_at = description_at + descriptor_size(description);
    // Every offset is 0xA0 or more, so bit 7 of each pointer byte is set already.
    image[manufacturer_pointer] = static_cast<uint8_t>(manufacturer_at);
    image[manufacturer_pointer + 1] = static_cast<uint8_t>(descriptor_size(manufacturer));
    image[description_pointer] = static_cast<uint8_t>(description_at);
    image[description_pointer + 1] = static_cast<uint8_t>(descriptor_size(description));
    image[serial_pointer] = static_cast<uint8_t>(serial_at);
    image[serial_pointer + 1] = static_cast<uint8_t>(descriptor_size(serial));
    StringToDescriptor(manufacturer_at, manufacturer);
    StringToDescriptor(description_at, description);
    StringToDescriptor(serial_at, serial);
    manufacturer_offset = manufacturer_at;
    description_offset = description_at;
    serial_offset = serial_at;
}

bool TFtEEFTX::ReadKeptWords()
{
    for (const WordRange &range : kept_words) {
        for (int address = range.first; address < range.end; ++address) {
            uint16_t word = 0;
            if (!ReadWord(static_cast<uint32_t>(address), word))
                return false;
            set_word_at(address, word);
        }
    }
    return true;
}

FtdevStatus TFtEEFTX::ProgramSettings(const SettingsHeader &header, const Texts &texts)
{
    const auto &settings = reinterpret_cast<const SettingsX &>(header);
    if (texts.manufacturer == nullptr || texts.manufacturer_id == nullptr || texts.description == nullptr)
        return FTDEV_INVALID_PARAMETER;
    if (header.vendor_id == 0 || header.product_id == 0)
        return FTDEV_INVALID_PARAMETER;
    const uint8_t *mux = &settings.cbus_mux0;
    static_assert(offsetof(SettingsX, cbus_mux6) - offsetof(SettingsX, cbus_mux0) == mux_count - 1);
    if (std::any_of(mux, mux + mux_count, [](uint8_t code) { return code > ftx_mux_max; }))
        return FTDEV_INVALID_PARAMETER;
    char automatic[automatic_serial_size];
    const char *serial = choose_serial(texts.serial_number, texts.manufacturer_id, header.product_id, automatic);
    if (!StringsFitStringArea(texts.manufacturer, texts.description, serial))
        return FTDEV_OTHER_ERROR;

    // User data and the chip's words come back from the device as they are; a word that
    // cannot be read stops here, before the erase, rather than being replaced by garbage.
    clear_image();
    if (!ReadKeptWords())
        return FTDEV_EEPROM_READ_FAILED;
    set_word_at(3, release_x);
    apply_settings_header(*this, header);
    PlaceStringDescriptors(texts.manufacturer, texts.description, serial);

    const uint8_t low_flags[] = {settings.w0_bit0, settings.w0_bit1, settings.w0_bit2, settings.w0_bit3};
    image[byte0] = bits_of(low_flags, 4, 0);
    if (settings.w0_bit6)
        image[byte0] |= 1u << 6;
    // The settings structure sets the driver type only with the value 1.
    if (settings.driver_type == 1)
        image[byte0] |= 1u << 7;
    const uint8_t option_flags[] = {settings.option_bit4, settings.option_bit5, settings.option_bit6,
                                    settings.option_bit7};
    image[option_flags_byte] |= bits_of(option_flags, 4, 4);
    const uint8_t byte11_flags[] = {settings.byte11_bit0, settings.byte11_bit1, settings.byte11_bit2,
                                    settings.byte11_bit3, settings.byte11_bit4, settings.byte11_bit5,
                                    settings.byte11_bit6, settings.byte11_bit7};
    image[byte11] = bits_of(byte11_flags, 8, 0);
    const PinGroup group0 = {settings.group0_slow_slew, settings.group0_schmitt, settings.group0_drive};
    const PinGroup group1 = {settings.group1_slow_slew, settings.group1_schmitt, settings.group1_drive};
    image[pin_groups_byte] = static_cast<uint8_t>(pin_group_nibble(group0) | pin_group_nibble(group1) << 4);

    image[aux16_at] = static_cast<uint8_t>(settings.aux_value16);
    image[aux16_at + 1] = static_cast<uint8_t>(settings.aux_value16 >> 8);
    image[aux24_at] = static_cast<uint8_t>(settings.aux_value24);
    image[aux24_at + 1] = static_cast<uint8_t>(settings.aux_value24 >> 8);
    image[aux24_at + 2] = static_cast<uint8_t>(settings.aux_value24 >> 16);
    std::memcpy(image + mux_at, mux, mux_count);
    UpdateChecksum();
    blank = 0;
    return WriteSequence();
}

FtdevStatus TFtEEFTX::ReadSettings(SettingsHeader &header, const TextBuffers &buffers)
{
    if (FtdevStatus status = check_buffers(buffers))
        return status;
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    if (FtdevStatus status = check_vendor_word(*this))
        return status;
    read_settings_header(*this, header, buffers);

    auto &settings = reinterpret_cast<SettingsX &>(header);
    settings.w0_bit0 = flag(bit_set(image[byte0], 0));
    settings.w0_bit1 = flag(bit_set(image[byte0], 1));
    settings.w0_bit2 = flag(bit_set(image[byte0], 2));
    settings.w0_bit3 = flag(bit_set(image[byte0], 3));
    settings.w0_bit6 = flag(bit_set(image[byte0], 6));
    settings.driver_type = flag(bit_set(image[byte0], 7));
    settings.option_bit4 = flag(bit_set(image[option_flags_byte], 4));
    settings.option_bit5 = flag(bit_set(image[option_flags_byte], 5));
    settings.option_bit6 = flag(bit_set(image[option_flags_byte], 6));
    settings.option_bit7 = flag(bit_set(image[option_flags_byte], 7));
    // Eight separate members: each is set through its own pointer, never by indexing past one.
    uint8_t *const byte11_flags[] = {&settings.byte11_bit0, &settings.byte11_bit1, &settings.byte11_bit2,
                                     &settings.byte11_bit3, &settings.byte11_bit4, &settings.byte11_bit5,
                                     &settings.byte11_bit6, &settings.byte11_bit7};
    for (unsigned bit = 0; bit < 8; ++bit)
        *byte11_flags[bit] = flag(bit_set(image[byte11], bit));
    const PinGroup group0 = pin_group_from_nibble(image[pin_groups_byte] & 0x0Fu);
    const PinGroup group1 = pin_group_from_nibble(image[pin_groups_byte] >> 4);
    settings.group0_slow_slew = group0.slow_slew;
    settings.group0_schmitt = group0.schmitt;
    settings.group0_drive = group0.drive;
    settings.group1_slow_slew = group1.slow_slew;
    settings.group1_schmitt = group1.schmitt;
    settings.group1_drive = group1.drive;
    settings.aux_value16 = static_cast<uint16_t>(image[aux16_at] | image[aux16_at + 1] << 8);
    settings.aux_value24 = static_cast<uint32_t>(image[aux24_at]) | static_cast<uint32_t>(image[aux24_at + 1]) << 8 |
                           static_cast<uint32_t>(image[aux24_at + 2]) << 16;
    std::memcpy(&settings.cbus_mux0, image + mux_at, mux_count);
    return FTDEV_OK;
}

void encode_ftx_record(TFtE2Data &layout, const ProgramData &)
{
    const ChipOptions nothing = {nullptr, nullptr, nullptr};
    layout.EncodeImage(nothing);
}

} // namespace corvane::eeprom
