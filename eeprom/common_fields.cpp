#include "eeprom/common_fields.h"

namespace corvane::eeprom {

uint8_t attributes_for(bool self_powered, bool remote_wakeup)
{
    uint8_t attributes = attribute_base;
    if (self_powered)
        attributes |= attribute_self_powered;
    if (remote_wakeup)
        attributes |= attribute_remote_wakeup;
    return attributes;
}

FtdevStatus check_vendor_word(const TFtE2Data &image)
{
    const uint16_t vendor = image.GetVendorId();
    if (vendor == 0)
        return FTDEV_EEPROM_NOT_PRESENT;
    if (vendor == 0xFFFF)
        return FTDEV_EEPROM_NOT_PROGRAMMED;
    return FTDEV_OK;
}

void decode_common_fields(const TFtE2Data &image, ProgramData &record)
{
    record.vendor_id = image.GetVendorId();
    record.product_id = image.GetProductId();
    if (record.manufacturer != nullptr)
        image.GetManufacturer(record.manufacturer);
    if (record.manufacturer_id != nullptr)
        image.GetManufacturerId(record.manufacturer_id);
    if (record.description != nullptr)
        image.GetDescription(record.description);
    if (record.serial_number != nullptr)
        image.GetSerialNumber(record.serial_number);
    record.max_power = image.GetMaxPower();
    record.tail_flag = image.GetTailWord() == 0 ? 1 : 0;
    record.self_powered = flag(image.GetAttributes() & attribute_self_powered);
    record.remote_wakeup = flag(image.GetAttributes() & attribute_remote_wakeup);
}

FtdevStatus check_program_settings(const SettingsHeader &settings, const Texts &texts, const char *serial,
                                   int first_offset, int strings_end)
{
    if (texts.manufacturer == nullptr || texts.manufacturer_id == nullptr || texts.description == nullptr)
        return FTDEV_INVALID_PARAMETER;
    if (settings.vendor_id == 0 || settings.product_id == 0)
        return FTDEV_INVALID_PARAMETER;
    if (!TFtE2Data::StringsFit(first_offset, texts.manufacturer, texts.description, serial, strings_end))
        return FTDEV_OTHER_ERROR;
    return FTDEV_OK;
}

void apply_settings_header(TFtE2Data &image, const SettingsHeader &settings)
{
    image.SetVendorId(settings.vendor_id);
    image.SetProductId(settings.product_id);
    if (settings.option_bit3)
        image.image[option_byte] |= option_bit3_mask;
    image.SetMaxPower(settings.max_power);
    image.SetAttributes(attributes_for(settings.self_powered, settings.remote_wakeup));
    if (settings.option_bit2)
        image.image[option_byte] |= option_bit2_mask;
}

FtdevStatus check_buffers(const TextBuffers &buffers)
{
    if (buffers.manufacturer == nullptr || buffers.manufacturer_id == nullptr || buffers.description == nullptr ||
        buffers.serial_number == nullptr)
        return FTDEV_INVALID_PARAMETER;
    return FTDEV_OK;
}

void read_settings_header(const TFtE2Data &image, SettingsHeader &settings, const TextBuffers &buffers)
{
    settings.vendor_id = image.GetVendorId();
    settings.product_id = image.GetProductId();
    settings.option_bit3 = flag(image.image[option_byte] & option_bit3_mask);
    settings.max_power = image.GetMaxPower();
    settings.self_powered = flag(image.GetAttributes() & attribute_self_powered);
    settings.remote_wakeup = flag(image.GetAttributes() & attribute_remote_wakeup);
    settings.option_bit2 = flag(image.image[option_byte] & option_bit2_mask);
    image.GetManufacturer(buffers.manufacturer);
    image.GetManufacturerId(buffers.manufacturer_id);
    image.GetDescription(buffers.description);
    image.GetSerialNumber(buffers.serial_number);
}

} // namespace corvane::eeprom
