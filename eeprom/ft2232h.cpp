#include "eeprom/ft2232h.h"

#include "eeprom/common_fields.h"
#include "eeprom/record_block_view.h"

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_2232h = 0x0700;

static_assert(offsetof(ProgramData, ft2232h_group3_drive) -
                  offsetof(ProgramData, ft2232h_group0_slow_slew) ==
              11);
static_assert(offsetof(Settings2232H, group3_drive) - offsetof(Settings2232H, group0_slow_slew) == 11);

// Word 0: flags in bits 0-2, 8-10 and 15, the driver type of channel A in bit 3 and of
// channel B in bit 11.
struct Word0Fields {
    uint8_t w0_bit0;
    uint8_t w0_bit1;
    uint8_t w0_bit2;
    bool driver_type_a;
    uint8_t w0_bit8;
    uint8_t w0_bit9;
    uint8_t w0_bit10;
    bool driver_type_b;
    uint8_t w0_bit15;
};

uint16_t word0_of(const Word0Fields &fields)
{
    const bool bits[16] = {fields.w0_bit0 != 0, fields.w0_bit1 != 0, fields.w0_bit2 != 0, fields.driver_type_a,
                           false, false, false, false,
                           fields.w0_bit8 != 0, fields.w0_bit9 != 0, fields.w0_bit10 != 0, fields.driver_type_b,
                           false, false, false, fields.w0_bit15 != 0};
    uint16_t word = 0;
    for (unsigned bit = 0; bit < 16; ++bit)
        if (bits[bit])
            word |= static_cast<uint16_t>(1u << bit);
    return word;
}

} // namespace

TFtEE2232H::TFtEE2232H()
{
    checksum_span = 126;
    word_count = 128;
}

TFtEE2232H::TFtEE2232H(const device::HandleRecord &record) : HighSpeedLayout(record)
{
    checksum_span = 126;
    word_count = 128;
}

void TFtEE2232H::EncodeImage(const ChipOptions &options)
{
    const ProgramData record = record_fields_of(block_of<ChipOptions2232H>(options),
                                                        offsetof(ProgramData, ft2232h_option_bit2));
    ChipWords words{};
    words.release = release_2232h;
    words.word0 = word0_of({record.ft2232h_w0_bit0, record.ft2232h_w0_bit1, record.ft2232h_w0_bit2,
                            record.ft2232h_driver_type_a != 0, record.ft2232h_w0_bit8, record.ft2232h_w0_bit9,
                            record.ft2232h_w0_bit10, record.ft2232h_driver_type_b != 0, record.ft2232h_w0_bit15});
    if (record.ft2232h_option_bit2)
        words.word5 |= option_bit2_mask;
    if (record.ft2232h_option_bit3)
        words.word5 |= option_bit3_mask;
    GroupsFromBytes(&record.ft2232h_group0_slow_slew, words.groups);
    EncodeChipImage(options, words);
}

FtdevStatus TFtEE2232H::DecodeImage(ProgramData &record)
{
    if (FtdevStatus status = DecodeChipImage(record, offsetof(ProgramData, ft2232h_option_bit2)))
        return status;
    const uint16_t word0 = word_at(0);
    record.ft2232h_option_bit2 = flag(image[option_byte] & option_bit2_mask);
    record.ft2232h_option_bit3 = flag(image[option_byte] & option_bit3_mask);
    PinGroup groups[4];
    ReadPinGroups(groups);
    GroupsToBytes(groups, &record.ft2232h_group0_slow_slew);
    record.ft2232h_w0_bit0 = flag(bit_set(word0, 0));
    record.ft2232h_w0_bit1 = flag(bit_set(word0, 1));
    record.ft2232h_w0_bit2 = flag(bit_set(word0, 2));
    record.ft2232h_driver_type_a = flag(bit_set(word0, 3));
    record.ft2232h_w0_bit8 = flag(bit_set(word0, 8));
    record.ft2232h_w0_bit9 = flag(bit_set(word0, 9));
    record.ft2232h_w0_bit10 = flag(bit_set(word0, 10));
    record.ft2232h_driver_type_b = flag(bit_set(word0, 11));
    record.ft2232h_w0_bit15 = flag(bit_set(word0, 15));
    return FTDEV_OK;
}

FtdevStatus TFtEE2232H::ReadSettings(SettingsHeader &header, const TextBuffers &buffers)
{
    if (FtdevStatus status = ReadChipSettings(header, buffers))
        return status;
    auto &settings = reinterpret_cast<Settings2232H &>(header);
    const uint16_t word0 = word_at(0);
    PinGroup groups[4];
    ReadPinGroups(groups);
    GroupsToBytes(groups, &settings.group0_slow_slew);
    settings.w0_bit0 = flag(bit_set(word0, 0));
    settings.w0_bit1 = flag(bit_set(word0, 1));
    settings.w0_bit2 = flag(bit_set(word0, 2));
    settings.driver_type_a = flag(bit_set(word0, 3));
    settings.w0_bit8 = flag(bit_set(word0, 8));
    settings.w0_bit9 = flag(bit_set(word0, 9));
    settings.w0_bit10 = flag(bit_set(word0, 10));
    settings.driver_type_b = flag(bit_set(word0, 11));
    settings.w0_bit15 = flag(bit_set(word0, 15));
    return FTDEV_OK;
}

FtdevStatus TFtEE2232H::ProgramSettings(const SettingsHeader &header, const Texts &texts)
{
    const auto &settings = reinterpret_cast<const Settings2232H &>(header);
    ChipWords words{};
    words.release = release_2232h;
    // The settings structure sets a driver type only with the value 1.
    words.word0 = word0_of({settings.w0_bit0, settings.w0_bit1, settings.w0_bit2, settings.driver_type_a == 1,
                            settings.w0_bit8, settings.w0_bit9, settings.w0_bit10, settings.driver_type_b == 1,
                            settings.w0_bit15});
    GroupsFromBytes(&settings.group0_slow_slew, words.groups);
    return ProgramChipSettings(header, texts, words);
}

void encode_ft2232h_record(TFtE2Data &layout, const ProgramData &record)
{
    encode_record_block<ChipOptions2232H>(layout, record, offsetof(ProgramData, ft2232h_option_bit2));
}

} // namespace corvane::eeprom
