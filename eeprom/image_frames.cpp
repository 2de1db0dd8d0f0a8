// The frames every layout builds and reads its image in: the chip's table (field_table.h)
// fills in the fields, and a few hooks the words that are one chip's own.
#include "eeprom/common_fields.h"
#include "eeprom/field_table.h"
#include "eeprom/serial_number.h"

#include <cstring>

namespace corvane::eeprom {

TFtE2Data::TFtE2Data(const ChipLayout &layout) : chip(&layout)
{
    word_count = layout.word_count;
    checksum_span = layout.checksum_span;
}

TFtE2Data::TFtE2Data(const device::HandleRecord &record, const ChipLayout &layout) : TEeData(record), chip(&layout)
{
    word_count = layout.word_count;
    checksum_span = layout.checksum_span;
}

FtdevStatus TFtE2Data::ReadCheckedImage()
{
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    return check_vendor_word(*this);
}

void TFtE2Data::FinishImage()
{
    AppendEmptyDescriptor();
    SetTailWord(0);
    UpdateChecksum();
    blank = 0;
}

void TFtE2Data::StoreChipWords(const ProgramData *) {}

void TFtE2Data::DecodeChipWords(ProgramData &) const {}

bool TFtE2Data::PrepareSettingsImage()
{
    return ProbeEepromType();
}

FtdevStatus TFtE2Data::WriteSettingsImage()
{
    if (chip->part_code_word == 0)
        return WriteSequence();
    if (!ProbeEepromType())
        return FTDEV_EEPROM_READ_FAILED;
    if (!WriteAll() || !Verify())
        return FTDEV_EEPROM_WRITE_FAILED;
    return FTDEV_OK;
}

// FT_EE_Program replaces the empty serial, the tail word, the ids, attributes and power
// afterwards.
void TFtE2Data::EncodeImage(const ChipOptions &options)
{
    const ProgramData record = record_of_options(*chip, options);
    clear_image();
    set_word_at(3, chip->release);
    if (chip->product_id != 0) {
        set_word_at(1, ftdi_vendor_id);
        set_word_at(2, chip->product_id);
        image[8] = default_attributes;
        image[9] = default_power;
    }
    if (chip->usb_version != 0)
        set_word_at(6, chip->usb_version);
    store_fields(*chip, Side::record, &record, *this);
    StoreChipWords(&record);
    PlaceStrings(chip->first_string, options.manufacturer, options.description,
                 options.serial != nullptr ? options.serial : "");
    FinishImage();
}

FtdevStatus TFtE2Data::DecodeImage(ProgramData &record)
{
    if (FtdevStatus status = ReadCheckedImage())
        return status;
    decode_common_fields(*this, record);
    auto *bytes = reinterpret_cast<unsigned char *>(&record);
    for (const ByteRange &range : chip->record.cleared)
        std::memset(bytes + range.first, 0, range.end - range.first);
    load_fields(*chip, Side::record, *this, &record);
    DecodeChipWords(record);
    return FTDEV_OK;
}

FtdevStatus TFtE2Data::ProgramSettings(const SettingsHeader &settings, const Texts &texts)
{
    if (!settings_in_range(*chip, settings))
        return FTDEV_INVALID_PARAMETER;
    char automatic[automatic_serial_size];
    const char *serial = choose_serial(texts.serial_number, texts.manufacturer_id, settings.product_id, automatic);
    if (FtdevStatus status = check_program_settings(settings, texts, serial, chip->first_string, chip->strings_end))
        return status;

    clear_image();
    if (!PrepareSettingsImage())
        return FTDEV_EEPROM_READ_FAILED;
    set_word_at(3, chip->release);
    apply_settings_header(*this, settings);
    PlaceStrings(chip->first_string, texts.manufacturer, texts.description, serial, chip->strings_end);
    FitImageToEeprom();
    if (chip->usb_version != 0)
        set_word_at(6, chip->usb_version);
    store_fields(*chip, Side::settings, &settings, *this);
    StoreChipWords(nullptr);
    // After a move to the upper half both work from the offsets in memory, still in the
    // lower half: the images this path has always written keep 02 03 00 00 at the
    // serial's old place.
    FinishImage();
    return WriteSettingsImage();
}

FtdevStatus TFtE2Data::ReadSettings(SettingsHeader &settings, const TextBuffers &buffers)
{
    if (FtdevStatus status = check_buffers(buffers))
        return status;
    if (FtdevStatus status = ReadCheckedImage())
        return status;
    read_settings_header(*this, settings, buffers);
    load_fields(*chip, Side::settings, *this, &settings);
    return FTDEV_OK;
}

} // namespace corvane::eeprom
