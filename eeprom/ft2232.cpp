#include "eeprom/ft2232.h"

#include "eeprom/common_fields.h"
#include "eeprom/ft232b.h"
#include "eeprom/serial_number.h"

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_2232 = 0x0500;
constexpr uint16_t usb_2_0 = 0x0200;
constexpr uint8_t default_attributes = 0xA0;
constexpr uint8_t default_power = 0x2D;
constexpr int part_code_word = 10;

// On a large part bytes 22 to 127 move up by 128.
constexpr int moved_from = ft2232_first_string;

} // namespace

TFtEE2232::TFtEE2232()
{
    checksum_span = 126;
    word_count = 128;
}

TFtEE2232::TFtEE2232(const device::HandleRecord &record) : ExternalEepromLayout(record)
{
    checksum_span = 126;
    word_count = 128;
}

bool TFtEE2232::ReadImage()
{
    if (!TFtE2Data::ReadImage())
        return false;
    eeprom_type = word_at(part_code_word);
    AdjustForPartSize(large_part());
    return true;
}

int TFtEE2232::UserAreaStart()
{
    return large_part() ? moved_from / 2 : BaseUserAreaStart();
}

void TFtEE2232::EncodeImage(const ChipOptions &options)
{
    const auto &block = block_of<ChipOptions2232>(options);
    const uint8_t word0_flags[] = {block.dual_w0_bit0, block.dual_w0_bit1, block.dual_w0_bit2, block.dual_w0_bit3,
                                   block.dual_w0_bit4};
    const uint8_t word0_high_flags[] = {block.dual_w0_bit8, block.dual_w0_bit9, block.dual_w0_bit10,
                                        block.dual_w0_bit11, block.dual_w0_bit12};
    uint16_t word0 = 0;
    for (unsigned i = 0; i < 5; ++i) {
        if (word0_flags[i])
            word0 |= static_cast<uint16_t>(1u << i);
        if (word0_high_flags[i])
            word0 |= static_cast<uint16_t>(1u << (8 + i));
    }
    const uint8_t option_flags[] = {block.dual_option_bit0, block.dual_option_bit1, block.dual_option_bit2,
                                    block.dual_option_bit3, block.dual_option_bit4, block.dual_option_bit5,
                                    block.dual_option_bit6};
    uint16_t word5 = 0;
    for (unsigned i = 0; i < 7; ++i)
        if (option_flags[i])
            word5 |= static_cast<uint16_t>(1u << i);

    clear_image();
    set_word_at(0, word0);
    set_word_at(1, ftdi_vendor_id);
    set_word_at(2, ft2232_product_id);
    set_word_at(3, release_2232);
    image[8] = default_attributes;
    image[9] = default_power;
    set_word_at(5, word5);
    set_word_at(6, block.dual_usb_version);
    set_word_at(part_code_word, part_code_for(eeprom_type));
    PlaceStrings(ft2232_first_string, options.manufacturer, options.description,
                 options.serial != nullptr ? options.serial : "");
    AppendEmptyDescriptor();
    SetTailWord(0);
    UpdateChecksum();
    blank = 0;
}

void TFtEE2232::FitImageToEeprom()
{
    if (large_part())
        MoveStringsToUpperHalf(moved_from);
}

FtdevStatus TFtEE2232::DecodeImage(ProgramData &record)
{
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    if (FtdevStatus status = check_vendor_word(*this))
        return status;
    decode_common_fields(*this, record);
    record.release_0400 = 0;
    record.option_bit0 = 0;
    record.option_bit1 = 0;
    record.option_bit2 = 0;
    record.option_bit3 = 0;
    record.option_bit4 = 0;
    record.usb_version = 0;

    const uint16_t word0 = word_at(0);
    const uint16_t word5 = word_at(5);
    record.dual_release_0500 = 1;
    uint8_t *word0_flags[] = {&record.dual_w0_bit0, &record.dual_w0_bit1, &record.dual_w0_bit2,
                              &record.dual_w0_bit3, &record.dual_w0_bit4};
    uint8_t *word0_high_flags[] = {&record.dual_w0_bit8, &record.dual_w0_bit9, &record.dual_w0_bit10,
                                   &record.dual_w0_bit11, &record.dual_w0_bit12};
    for (unsigned i = 0; i < 5; ++i) {
        *word0_flags[i] = flag(bit_set(word0, i));
        *word0_high_flags[i] = flag(bit_set(word0, 8 + i));
    }
    uint8_t *option_flags[] = {&record.dual_option_bit0, &record.dual_option_bit1, &record.dual_option_bit2,
                               &record.dual_option_bit3, &record.dual_option_bit4, &record.dual_option_bit5,
                               &record.dual_option_bit6};
    for (unsigned i = 0; i < 7; ++i)
        *option_flags[i] = flag(bit_set(word5, i));
    record.dual_usb_version = word_at(6);
    return FTDEV_OK;
}

FtdevStatus TFtEE2232::ReadSettings(SettingsHeader &header, const TextBuffers &buffers)
{
    if (FtdevStatus status = check_buffers(buffers))
        return status;
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    if (FtdevStatus status = check_vendor_word(*this))
        return status;
    read_settings_header(*this, header, buffers);
    auto &settings = reinterpret_cast<Settings2232 &>(header);
    const uint16_t word0 = word_at(0);
    settings.w0_bit0 = flag(bit_set(word0, 0));
    settings.w0_bit1 = flag(bit_set(word0, 1));
    settings.w0_bit2 = flag(bit_set(word0, 2));
    settings.w0_bit3 = flag(bit_set(word0, 3));
    settings.w0_bit4 = flag(bit_set(word0, 4));
    settings.w0_bit8 = flag(bit_set(word0, 8));
    settings.w0_bit9 = flag(bit_set(word0, 9));
    settings.w0_bit10 = flag(bit_set(word0, 10));
    settings.w0_bit11 = flag(bit_set(word0, 11));
    settings.w0_bit12 = flag(bit_set(word0, 12));
    return FTDEV_OK;
}

FtdevStatus TFtEE2232::ProgramSettings(const SettingsHeader &header, const Texts &texts)
{
    const auto &settings = reinterpret_cast<const Settings2232 &>(header);
    char automatic[automatic_serial_size];
    const char *serial = choose_serial(texts.serial_number, texts.manufacturer_id, header.product_id, automatic);
    if (FtdevStatus status = check_program_settings(header, texts, serial, ft2232_first_string))
        return status;

    clear_image();
    if (!ProbeEepromType())
        return FTDEV_EEPROM_READ_FAILED;
    set_word_at(3, release_2232);
    apply_settings_header(*this, header);
    PlaceStrings(ft2232_first_string, texts.manufacturer, texts.description, serial);
    FitImageToEeprom();

    uint16_t word0 = 0;
    const uint8_t plain_flags[][2] = {{settings.w0_bit0, 0}, {settings.w0_bit1, 1}, {settings.w0_bit2, 2},
                                      {settings.w0_bit4, 4}, {settings.w0_bit8, 8}, {settings.w0_bit9, 9},
                                      {settings.w0_bit10, 10}, {settings.w0_bit12, 12}};
    for (const auto &entry : plain_flags)
        if (entry[0])
            word0 |= static_cast<uint16_t>(1u << entry[1]);
    if (settings.w0_bit3 == 1)
        word0 |= 1u << 3;
    if (settings.w0_bit11 == 1)
        word0 |= 1u << 11;
    set_word_at(0, word0);
    set_word_at(6, usb_2_0);
    set_word_at(part_code_word, part_code_for(eeprom_type));
    // Both work from the offsets in memory, which the move above left in the lower half:
    // the images this path has always written keep 02 03 00 00 at the serial's old place.
    AppendEmptyDescriptor();
    SetTailWord(0);
    UpdateChecksum();
    blank = 0;

    // The probe erases the part, in place of Erase.
    if (!ProbeEepromType())
        return FTDEV_EEPROM_READ_FAILED;
    if (!WriteAll() || !Verify())
        return FTDEV_EEPROM_WRITE_FAILED;
    return FTDEV_OK;
}

void encode_ft2232_record(TFtE2Data &layout, const ProgramData &record)
{
    ChipOptions2232 block{};
    block.texts = {record.manufacturer, record.description, ""};
    copy_record_block(block, offsetof(ChipOptions2232, dual_release_0500), record,
                      offsetof(ProgramData, dual_release_0500),
                      offsetof(ProgramData, dual_w0_bit11) + 1);
    layout.EncodeImage(block.texts);
}

} // namespace corvane::eeprom
