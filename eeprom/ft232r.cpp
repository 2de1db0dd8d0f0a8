#include "eeprom/ft232r.h"

#include "eeprom/common_fields.h"
#include "eeprom/ft232b.h"
#include "eeprom/latency_boost.h"
#include "eeprom/serial_number.h"

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_r = 0x0600;
constexpr uint16_t usb_2_0 = 0x0200;
constexpr uint8_t default_attributes = 0xA0;
constexpr uint8_t default_power = 0x2D;
constexpr uint8_t programmed_byte1 = 0x40;   // what every programmed image holds in byte 1
constexpr uint32_t factory_word_address = 0x42;

constexpr int select_bytes = 20;             // bytes 20 to 22: five 4-bit pin functions

void store_selects(uint8_t *image, const uint8_t (&select)[5])
{
    image[select_bytes] = static_cast<uint8_t>(select[0] | select[1] << 4);
    image[select_bytes + 1] = static_cast<uint8_t>(select[2] | select[3] << 4);
    image[select_bytes + 2] = select[4];
}

uint8_t bits_of(const uint8_t (&flags)[8])
{
    uint8_t byte = 0;
    for (unsigned bit = 0; bit < 8; ++bit)
        if (flags[bit])
            byte |= static_cast<uint8_t>(1u << bit);
    return byte;
}

} // namespace

TFtEE232R::TFtEE232R()
{
    checksum_span = 126;
}

TFtEE232R::TFtEE232R(const device::HandleRecord &record, FtdevHandle handle_)
    : TFtE2Data(record), handle(handle_)
{
    checksum_span = 126;
}

FtdevStatus TFtEE232R::ReadFactoryWord(uint16_t &value)
{
    return ReadWord(factory_word_address, value) ? FTDEV_OK : FTDEV_EEPROM_READ_FAILED;
}

void TFtEE232R::EncodeImage(const ChipOptions &options)
{
    const auto &block = block_of<ChipOptions232R>(options);
    clear_image();
    image[0] = 0;
    // Bit 0 of word 0 belongs to the chip: carry over what its factory word says.
    uint16_t factory = 0;
    if (ReadFactoryWord(factory) == FTDEV_OK && (factory & 1u) && factory != 0xFFFF)
        image[0] |= 0x01;
    if (block.r_w0_bit1)
        image[0] |= 0x02;
    if (block.r_w0_bit2)
        image[0] |= 0x04;
    if (block.r_w0_bit3)
        image[0] |= 0x08;
    image[1] = block.byte1;
    set_word_at(1, ftdi_vendor_id);
    set_word_at(2, ft232b_product_id);
    set_word_at(3, release_r);
    image[8] = default_attributes;
    image[9] = default_power;
    image[10] = 0;
    if (block.r_option_bit2)
        image[10] |= 0x04;
    if (block.r_option_bit3)
        image[10] |= 0x08;
    const uint8_t byte11[8] = {block.r_byte11_bit0, block.r_byte11_bit1, block.r_byte11_bit2, block.r_byte11_bit3,
                               block.r_byte11_bit4, block.r_byte11_bit5, block.r_byte11_bit6, block.r_byte11_bit7};
    image[11] = bits_of(byte11);
    set_word_at(6, usb_2_0);
    PlaceStrings(ft232r_first_string, options.manufacturer, options.description,
                 options.serial != nullptr ? options.serial : "");
    // The record path combines the values unchecked, as images made this way always have.
    const uint8_t select[5] = {block.r_select0, block.r_select1, block.r_select2, block.r_select3,
                               block.r_select4};
    store_selects(image, select);
    AppendEmptyDescriptor();
    SetTailWord(0);
    UpdateChecksum();
    blank = 0;
}

FtdevStatus TFtEE232R::DecodeImage(ProgramData &record)
{
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    if (FtdevStatus status = check_vendor_word(*this))
        return status;
    decode_common_fields(*this, record);
    decode_ft232b_block(*this, record);
    record.r_w0_bit1 = flag(bit_set(image[0], 1));
    record.r_w0_bit2 = flag(bit_set(image[0], 2));
    record.r_w0_bit3 = flag(bit_set(image[0], 3));
    record.r_byte1 = image[1];
    record.r_option_bit2 = flag(bit_set(image[10], 2));
    record.r_option_bit3 = flag(bit_set(image[10], 3));
    uint8_t *byte11[8] = {&record.r_byte11_bit0, &record.r_byte11_bit1, &record.r_byte11_bit2,
                          &record.r_byte11_bit3, &record.r_byte11_bit4, &record.r_byte11_bit5,
                          &record.r_byte11_bit6, &record.r_byte11_bit7};
    for (unsigned bit = 0; bit < 8; ++bit)
        *byte11[bit] = flag(bit_set(image[11], bit));
    record.r_select0 = image[select_bytes] & 0x0F;
    record.r_select1 = image[select_bytes] >> 4;
    record.r_select2 = image[select_bytes + 1] & 0x0F;
    record.r_select3 = image[select_bytes + 1] >> 4;
    record.r_select4 = image[select_bytes + 2];
    return FTDEV_OK;
}

bool TFtEE232R::ProbeEepromType()
{
    set_64_word_part(*this);
    return true;
}

void TFtEE232R::FitImageToEeprom()
{
}

FtdevStatus TFtEE232R::ReadSettings(SettingsHeader &header, const TextBuffers &buffers)
{
    if (FtdevStatus status = check_buffers(buffers))
        return status;
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    if (FtdevStatus status = check_vendor_word(*this))
        return status;
    read_settings_header(*this, header, buffers);
    auto &settings = reinterpret_cast<Settings232R &>(header);
    settings.w0_bit1 = flag(bit_set(image[0], 1));
    settings.w0_bit2 = flag(bit_set(image[0], 2));
    settings.w0_bit3_clear = flag(!bit_set(image[0], 3));
    uint8_t *byte11[8] = {&settings.byte11_bit0, &settings.byte11_bit1, &settings.byte11_bit2,
                          &settings.byte11_bit3, &settings.byte11_bit4, &settings.byte11_bit5,
                          &settings.byte11_bit6, &settings.byte11_bit7};
    for (unsigned bit = 0; bit < 8; ++bit)
        *byte11[bit] = flag(bit_set(image[11], bit));
    settings.select0 = image[select_bytes] & 0x0F;
    settings.select1 = image[select_bytes] >> 4;
    settings.select2 = image[select_bytes + 1] & 0x0F;
    settings.select3 = image[select_bytes + 1] >> 4;
    settings.select4 = image[select_bytes + 2];
    return FTDEV_OK;
}

FtdevStatus TFtEE232R::ProgramSettings(const SettingsHeader &header, const Texts &texts)
{
    const auto &settings = reinterpret_cast<const Settings232R &>(header);
    const uint8_t select[5] = {settings.select0, settings.select1, settings.select2, settings.select3,
                               settings.select4};
    for (uint8_t value : select)
        if (value > ft232r_select_max)
            return FTDEV_INVALID_PARAMETER;
    char automatic[automatic_serial_size];
    const char *serial = choose_serial(texts.serial_number, texts.manufacturer_id, header.product_id, automatic);
    if (FtdevStatus status = check_program_settings(header, texts, serial, ft232r_first_string))
        return status;

    clear_image();
    ProbeEepromType();
    set_word_at(3, release_r);
    apply_settings_header(*this, header);
    PlaceStrings(ft232r_first_string, texts.manufacturer, texts.description, serial);
    FitImageToEeprom();
    uint16_t word0 = static_cast<uint16_t>(programmed_byte1) << 8;
    if (settings.w0_bit1)
        word0 |= 0x0002;
    if (settings.w0_bit2)
        word0 |= 0x0004;
    if (settings.w0_bit3_clear == 0)
        word0 |= 0x0008;
    set_word_at(0, word0);
    const uint8_t byte11[8] = {settings.byte11_bit0, settings.byte11_bit1, settings.byte11_bit2,
                               settings.byte11_bit3, settings.byte11_bit4, settings.byte11_bit5,
                               settings.byte11_bit6, settings.byte11_bit7};
    image[11] = bits_of(byte11);
    set_word_at(6, usb_2_0);
    store_selects(image, select);
    AppendEmptyDescriptor();
    SetTailWord(0);
    UpdateChecksum();
    blank = 0;

    LatencyBoost boost(handle);
    const FtdevStatus written = WriteSequence();
    const FtdevStatus restored = boost.restore();
    return written != FTDEV_OK ? written : restored;
}

void encode_ft232r_record(TFtE2Data &layout, const ProgramData &record)
{
    ChipOptions232R block{};
    block.texts = {record.manufacturer, record.description, ""};
    copy_record_block(block, offsetof(ChipOptions232R, r_w0_bit1), record, offsetof(ProgramData, r_w0_bit1),
                      offsetof(ProgramData, r_w0_bit3) + 1);
    block.byte1 = programmed_byte1;
    layout.EncodeImage(block.texts);
}

} // namespace corvane::eeprom
