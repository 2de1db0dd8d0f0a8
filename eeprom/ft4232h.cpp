#include "eeprom/ft4232h.h"

#include "eeprom/common_fields.h"
#include "eeprom/record_block_view.h"

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_4232h = 0x0800;

// The driver types of channels A, B, C and D sit in word 0 bits 3, 11, 7 and 15: the
// channels of each half of the chip share a byte.
constexpr unsigned driver_type_bits[4] = {3, 11, 7, 15};
// Word 5 bits 12 to 15 carry the flags of bits 4 to 7 of its high byte.
constexpr unsigned byte11_first_bit = 12;

static_assert(offsetof(ProgramData, ft4232h_group3_drive) -
                  offsetof(ProgramData, ft4232h_group0_slow_slew) ==
              11);
static_assert(offsetof(Settings4232H, group3_drive) - offsetof(Settings4232H, group0_slow_slew) == 11);

uint16_t word0_of(const bool (&driver_types)[4])
{
    uint16_t word = 0;
    for (unsigned channel = 0; channel < 4; ++channel)
        if (driver_types[channel])
            word |= static_cast<uint16_t>(1u << driver_type_bits[channel]);
    return word;
}

uint16_t byte11_flags_of(const uint8_t (&flags)[4])
{
    uint16_t word = 0;
    for (unsigned i = 0; i < 4; ++i)
        if (flags[i])
            word |= static_cast<uint16_t>(1u << (byte11_first_bit + i));
    return word;
}

} // namespace

TFtEE4232H::TFtEE4232H()
{
    checksum_span = 126;
    word_count = 128;
}

TFtEE4232H::TFtEE4232H(const device::HandleRecord &record) : HighSpeedLayout(record)
{
    checksum_span = 126;
    word_count = 128;
}

void TFtEE4232H::EncodeImage(const ChipOptions &options)
{
    const ProgramData record = record_fields_of(block_of<ChipOptions4232H>(options),
                                                        offsetof(ProgramData, ft4232h_option_bit2));
    ChipWords words{};
    words.release = release_4232h;
    words.word0 = word0_of({record.ft4232h_driver_type_a != 0, record.ft4232h_driver_type_b != 0,
                            record.ft4232h_driver_type_c != 0, record.ft4232h_driver_type_d != 0});
    words.word5 = byte11_flags_of({record.ft4232h_byte11_bit4, record.ft4232h_byte11_bit5, record.ft4232h_byte11_bit6,
                                   record.ft4232h_byte11_bit7});
    if (record.ft4232h_option_bit2)
        words.word5 |= option_bit2_mask;
    if (record.ft4232h_option_bit3)
        words.word5 |= option_bit3_mask;
    GroupsFromBytes(&record.ft4232h_group0_slow_slew, words.groups);
    EncodeChipImage(options, words);
}

FtdevStatus TFtEE4232H::DecodeImage(ProgramData &record)
{
    if (FtdevStatus status = DecodeChipImage(record, offsetof(ProgramData, ft4232h_option_bit2)))
        return status;
    const uint16_t word0 = word_at(0);
    const uint16_t word5 = word_at(5);
    record.ft4232h_option_bit2 = flag(image[option_byte] & option_bit2_mask);
    record.ft4232h_option_bit3 = flag(image[option_byte] & option_bit3_mask);
    PinGroup groups[4];
    ReadPinGroups(groups);
    GroupsToBytes(groups, &record.ft4232h_group0_slow_slew);
    record.ft4232h_byte11_bit4 = flag(bit_set(word5, byte11_first_bit));
    record.ft4232h_byte11_bit5 = flag(bit_set(word5, byte11_first_bit + 1));
    record.ft4232h_byte11_bit6 = flag(bit_set(word5, byte11_first_bit + 2));
    record.ft4232h_byte11_bit7 = flag(bit_set(word5, byte11_first_bit + 3));
    record.ft4232h_driver_type_a = flag(bit_set(word0, driver_type_bits[0]));
    record.ft4232h_driver_type_b = flag(bit_set(word0, driver_type_bits[1]));
    record.ft4232h_driver_type_c = flag(bit_set(word0, driver_type_bits[2]));
    record.ft4232h_driver_type_d = flag(bit_set(word0, driver_type_bits[3]));
    return FTDEV_OK;
}

FtdevStatus TFtEE4232H::ReadSettings(SettingsHeader &header, const TextBuffers &buffers)
{
    if (FtdevStatus status = ReadChipSettings(header, buffers))
        return status;
    auto &settings = reinterpret_cast<Settings4232H &>(header);
    const uint16_t word0 = word_at(0);
    const uint16_t word5 = word_at(5);
    PinGroup groups[4];
    ReadPinGroups(groups);
    GroupsToBytes(groups, &settings.group0_slow_slew);
    settings.byte11_bit4 = flag(bit_set(word5, byte11_first_bit));
    settings.byte11_bit5 = flag(bit_set(word5, byte11_first_bit + 1));
    settings.byte11_bit6 = flag(bit_set(word5, byte11_first_bit + 2));
    settings.byte11_bit7 = flag(bit_set(word5, byte11_first_bit + 3));
    settings.driver_type_a = flag(bit_set(word0, driver_type_bits[0]));
    settings.driver_type_b = flag(bit_set(word0, driver_type_bits[1]));
    settings.driver_type_c = flag(bit_set(word0, driver_type_bits[2]));
    settings.driver_type_d = flag(bit_set(word0, driver_type_bits[3]));
    return FTDEV_OK;
}

FtdevStatus TFtEE4232H::ProgramSettings(const SettingsHeader &header, const Texts &texts)
{
    const auto &settings = reinterpret_cast<const Settings4232H &>(header);
    ChipWords words{};
    words.release = release_4232h;
    // The settings structure sets a driver type only with the value 1.
    words.word0 = word0_of({settings.driver_type_a == 1, settings.driver_type_b == 1, settings.driver_type_c == 1,
                            settings.driver_type_d == 1});
    words.word5 = byte11_flags_of({settings.byte11_bit4, settings.byte11_bit5, settings.byte11_bit6,
                                   settings.byte11_bit7});
    GroupsFromBytes(&settings.group0_slow_slew, words.groups);
    return ProgramChipSettings(header, texts, words);
}

void encode_ft4232h_record(TFtE2Data &layout, const ProgramData &record)
{
    encode_record_block<ChipOptions4232H>(layout, record, offsetof(ProgramData, ft4232h_option_bit2));
}

} // namespace corvane::eeprom
