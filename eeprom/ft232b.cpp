#include "eeprom/ft232b.h"

#include "eeprom/common_fields.h"
#include "eeprom/serial_number.h"

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_bm = 0x0400;
constexpr uint16_t release_am = 0x0200;
constexpr uint16_t usb_2_0 = 0x0200;
constexpr uint16_t usb_1_1 = 0x0110;     // what older images are reported to speak
constexpr uint8_t default_attributes = 0xA0;
constexpr uint8_t default_power = 0x2D;  // 90 mA
constexpr uint16_t part_93c46 = 0x46;

} // namespace

void set_64_word_part(TFtE2Data &image)
{
    image.eeprom_type = part_93c46;
}

TFtEE232::TFtEE232()
{
    checksum_span = 126;
}

TFtEE232::TFtEE232(const device::HandleRecord &record) : TFtE2Data(record)
{
    checksum_span = 126;
}

void TFtEE232::EncodeImage(const ChipOptions &options)
{
    const auto &block = block_of<ChipOptions232>(options);
    clear_image();
    set_word_at(0, 0);
    set_word_at(1, ftdi_vendor_id);
    set_word_at(2, ft232b_product_id);
    set_word_at(3, block.release_0400 ? release_bm : release_am);
    image[8] = default_attributes;
    image[9] = default_power;
    const uint8_t options_bits[] = {block.option_bit0, block.option_bit1, block.option_bit2, block.option_bit3,
                                    block.option_bit4};
    image[10] = 0;
    for (unsigned bit = 0; bit < 5; ++bit)
        if (options_bits[bit])
            image[10] |= static_cast<uint8_t>(1u << bit);
    image[11] = 0;
    set_word_at(6, block.usb_version);
    PlaceStrings(ft232b_first_string, options.manufacturer, options.description,
                 options.serial != nullptr ? options.serial : "");
    AppendEmptyDescriptor();
    SetTailWord(0);
    SetVendorId(ftdi_vendor_id);
    SetProductId(ft232b_product_id);
    UpdateChecksum();
    blank = 0;
}

void decode_ft232b_block(const TFtE2Data &image, ProgramData &record)
{
    const bool bm = image.image[7] == 4;
    const uint8_t options = image.image[10];
    record.release_0400 = flag(bm);
    record.option_bit2 = flag(bit_set(options, 2));
    // Images of the older release keep no meaning in these bits.
    record.option_bit0 = flag(bm && bit_set(options, 0));
    record.option_bit1 = flag(bm && bit_set(options, 1));
    record.option_bit3 = flag(bm && bit_set(options, 3));
    record.option_bit4 = flag(bm && bit_set(options, 4));
    record.usb_version = bm ? image.word_at(6) : usb_1_1;

    record.dual_release_0500 = 0;
    record.dual_option_bit2 = 0;
    record.dual_option_bit3 = 0;
    record.dual_option_bit4 = 0;
    record.dual_usb_version = 0;
    record.dual_w0_bit4 = 0;
    record.dual_w0_bit12 = 0;
    record.dual_w0_bit0 = 0;
    record.dual_w0_bit1 = 0;
    record.dual_w0_bit2 = 0;
    record.dual_w0_bit3 = 0;
    record.dual_w0_bit8 = 0;
    record.dual_w0_bit9 = 0;
    record.dual_w0_bit10 = 0;
    record.dual_w0_bit11 = 0;
}

FtdevStatus TFtEE232::DecodeImage(ProgramData &record)
{
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    if (FtdevStatus status = check_vendor_word(*this))
        return status;
    decode_common_fields(*this, record);
    decode_ft232b_block(*this, record);
    return FTDEV_OK;
}

bool TFtEE232::ProbeEepromType()
{
    set_64_word_part(*this);
    return true;
}

void TFtEE232::FitImageToEeprom()
{
}

FtdevStatus TFtEE232::ReadSettings(SettingsHeader &settings, const TextBuffers &buffers)
{
    if (FtdevStatus status = check_buffers(buffers))
        return status;
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    if (FtdevStatus status = check_vendor_word(*this))
        return status;
    read_settings_header(*this, settings, buffers);
    return FTDEV_OK;
}

FtdevStatus TFtEE232::ProgramSettings(const SettingsHeader &settings, const Texts &texts)
{
    char automatic[automatic_serial_size];
    const char *serial = choose_serial(texts.serial_number, texts.manufacturer_id, settings.product_id, automatic);
    if (FtdevStatus status = check_program_settings(settings, texts, serial, ft232b_first_string))
        return status;

    clear_image();
    ProbeEepromType();
    set_word_at(3, release_bm);
    apply_settings_header(*this, settings);
    PlaceStrings(ft232b_first_string, texts.manufacturer, texts.description, serial);
    FitImageToEeprom();
    set_word_at(6, usb_2_0);
    AppendEmptyDescriptor();
    SetTailWord(0);
    UpdateChecksum();
    blank = 0;
    return WriteSequence();
}

void encode_ft232b_record(TFtE2Data &layout, const ProgramData &record)
{
    ChipOptions232 block{};
    block.texts = {record.manufacturer, record.description, ""};
    copy_record_block(block, offsetof(ChipOptions232, release_0400), record,
                      offsetof(ProgramData, release_0400),
                      offsetof(ProgramData, usb_version) + sizeof record.usb_version);
    layout.EncodeImage(block.texts);
}

} // namespace corvane::eeprom
