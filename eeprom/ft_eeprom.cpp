// The EEPROM functions that read and program an image through a ProgramData record,
// and the user-area functions: argument checks, the class for the device type, one
// layout object per call.
#include "device/handle_record.h"
#include "eeprom/c_boundary.h"
#include "eeprom/common_fields.h"
#include "eeprom/latency_boost.h"
#include "eeprom/layout_table.h"
#include "eeprom/program_record.h"
#include "eeprom/serial_number.h"

#include <algorithm>
#include <cstring>
#include <optional>

using namespace corvane::eeprom;
using corvane::device::HandleRecord;

namespace {

bool is_ft232r(const HandleRecord &record)
{
    return record.device_type == FTDEV_DEVICE_232R;
}

// A signed record converted from the caller's unsigned one.
ProgramData converted_record(const LayoutInfo &info)
{
    ProgramData converted{};
    converted.signature_1 = FTDEV_PROGRAM_SIGNATURE_1;
    converted.signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
    converted.version = info.record_version;
    return converted;
}

FtdevStatus program_record(TFtE2Data &layout, const LayoutInfo &info, const ProgramData &record,
                           const HandleRecord &device, FtdevHandle handle)
{
    // Everything that can refuse the record is checked before the device is touched.
    if (record.vendor_id == 0 || record.product_id == 0)
        return FTDEV_INVALID_PARAMETER;
    if (record.manufacturer == nullptr || record.manufacturer_id == nullptr || record.description == nullptr)
        return FTDEV_INVALID_PARAMETER;
    char automatic[automatic_serial_size];
    const char *serial = choose_serial(record.serial_number, record.manufacturer_id, record.product_id, automatic);
    if (!TFtE2Data::StringsFit(info.first_string, record.manufacturer, record.description, serial))
        return FTDEV_OTHER_ERROR;
    Descriptor serial_descriptor;
    if (!make_descriptor(serial, serial_descriptor))
        return FTDEV_OTHER_ERROR;

    if (info.probes_before_encoding && !layout.ProbeEepromType())
        return FTDEV_EEPROM_READ_FAILED;
    info.encode_record(layout, record);
    if (!layout.SetSerialDescriptor(serial_descriptor) || !layout.AppendEmptyDescriptor())
        return FTDEV_OTHER_ERROR;
    layout.SetTailWord(record.tail_flag == 0 ? 1 : 0);
    layout.SetVendorId(record.vendor_id);
    layout.SetProductId(record.product_id);
    layout.SetAttributes(attributes_for(record.self_powered, record.remote_wakeup));
    layout.SetMaxPower(std::min<int>(record.max_power, max_power_limit));
    layout.FitImageToEeprom();

    std::optional<LatencyBoost> boost;
    if (is_ft232r(device))
        boost.emplace(handle);
    return layout.WriteSequence();
}

FtdevStatus ee_program(FtdevHandle handle, ProgramData *data)
{
    const HandleRecord *device = corvane::device::find_open(handle);
    if (device == nullptr)
        return FTDEV_INVALID_HANDLE;
    if (data == nullptr)
        return FTDEV_INVALID_PARAMETER;
    const Layout choice = layouts_for_device(device->device_type).record;
    const bool signed_form = is_signed(data);
    if (!signed_form && choice == Layout::ft232r)
        return FTDEV_INVALID_PARAMETER;
    FtdevStatus status = FTDEV_OK;
    auto layout = create_layout(choice, *device, handle, status);
    if (!layout)
        return status;
    const LayoutInfo &info = layout_info(choice);
    if (signed_form)
        return program_record(*layout, info, *data, *device, handle);
    ProgramData converted = converted_record(info);
    fields_from_unsigned(converted, data, info.record_span);
    return program_record(*layout, info, converted, *device, handle);
}

FtdevStatus ee_read(FtdevHandle handle, ProgramData *data)
{
    const HandleRecord *device = corvane::device::find_open(handle);
    if (device == nullptr)
        return FTDEV_INVALID_HANDLE;
    if (data == nullptr)
        return FTDEV_INVALID_PARAMETER;
    const Layout choice = layouts_for_device(device->device_type).record;
    const bool signed_form = is_signed(data);
    if (!signed_form && choice == Layout::ft232r)
        return FTDEV_INVALID_PARAMETER;
    FtdevStatus status = FTDEV_OK;
    auto layout = create_layout(choice, *device, handle, status);
    if (!layout)
        return status;
    if (signed_form)
        return layout->DecodeImage(*data);

    // Only the caller's four buffers go in; every field of its blocks comes back.
    const LayoutInfo &info = layout_info(choice);
    ProgramData converted = converted_record(info);
    const auto &caller = *reinterpret_cast<const ProgramDataUnsigned *>(data);
    converted.manufacturer = caller.manufacturer;
    converted.manufacturer_id = caller.manufacturer_id;
    converted.description = caller.description;
    converted.serial_number = caller.serial_number;
    status = layout->DecodeImage(converted);
    if (status == FTDEV_OK)
        fields_to_unsigned(data, info.record_span, converted);
    return status;
}

// The Ex variants put the four texts into the record where its own form keeps them.
template <typename Record>
void store_texts(Record &record, char *manufacturer, char *manufacturer_id, char *description,
                 char *serial_number)
{
    record.manufacturer = manufacturer;
    record.manufacturer_id = manufacturer_id;
    record.description = description;
    record.serial_number = serial_number;
}

void store_texts(ProgramData *data, char *manufacturer, char *manufacturer_id, char *description,
                 char *serial_number)
{
    if (is_signed(data))
        store_texts(*data, manufacturer, manufacturer_id, description, serial_number);
    else
        store_texts(*reinterpret_cast<ProgramDataUnsigned *>(data), manufacturer, manufacturer_id, description,
                    serial_number);
}

std::unique_ptr<TFtE2Data> user_area_layout(const HandleRecord &device, FtdevHandle handle, FtdevStatus &status)
{
    return create_layout(layouts_for_device(device.device_type).user_area, device, handle, status);
}

} // namespace

extern "C" {

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_Program(FtdevHandle handle, ProgramData *data)
{
    return guarded([&]() -> FtdevStatus { return ee_program(handle, data); });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_ProgramEx(FtdevHandle handle, ProgramData *data, char *manufacturer,
                                                    char *manufacturer_id, char *description,
                                                    char *serial_number)
{
    return guarded([&]() -> FtdevStatus {
        if (data == nullptr)
            return FTDEV_INVALID_ARGS;
        store_texts(data, manufacturer, manufacturer_id, description, serial_number);
        return ee_program(handle, data);
    });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_Read(FtdevHandle handle, ProgramData *data)
{
    return guarded([&]() -> FtdevStatus { return ee_read(handle, data); });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_ReadEx(FtdevHandle handle, ProgramData *data, char *manufacturer,
                                                 char *manufacturer_id, char *description, char *serial_number)
{
    return guarded([&]() -> FtdevStatus {
        if (data == nullptr)
            return FTDEV_INVALID_ARGS;
        store_texts(data, manufacturer, manufacturer_id, description, serial_number);
        return ee_read(handle, data);
    });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_UASize(FtdevHandle handle, uint32_t *size)
{
    return guarded([&]() -> FtdevStatus {
        const HandleRecord *device = corvane::device::find_open(handle);
        if (device == nullptr)
            return FTDEV_INVALID_HANDLE;
        if (size == nullptr)
            return FTDEV_INVALID_PARAMETER;
        FtdevStatus status = FTDEV_OK;
        auto layout = user_area_layout(*device, handle, status);
        if (!layout)
            return status;
        if (!layout->ReadImage()) {
            *size = 0;
            return FTDEV_EEPROM_READ_FAILED;
        }
        *size = static_cast<uint32_t>(std::max(layout->UserAreaSize(), 0)) * 2;
        return FTDEV_OK;
    });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_UAWrite(FtdevHandle handle, const uint8_t *data, uint32_t count)
{
    return guarded([&]() -> FtdevStatus {
        const HandleRecord *device = corvane::device::find_open(handle);
        if (device == nullptr)
            return FTDEV_INVALID_HANDLE;
        if (data == nullptr)
            return FTDEV_INVALID_PARAMETER;
        FtdevStatus status = FTDEV_OK;
        auto layout = user_area_layout(*device, handle, status);
        if (!layout)
            return status;
        std::optional<LatencyBoost> boost;
        if (is_ft232r(*device))
            boost.emplace(handle);
        if (!layout->ReadImage())
            return FTDEV_EEPROM_READ_FAILED;
        if (!layout->WriteUserArea(data, count))
            return FTDEV_EEPROM_WRITE_FAILED;
        return layout->WriteSequence();
    });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_UARead(FtdevHandle handle, uint8_t *buffer, uint32_t count,
                                                 uint32_t *bytes_read)
{
    return guarded([&]() -> FtdevStatus {
        const HandleRecord *device = corvane::device::find_open(handle);
        if (device == nullptr)
            return FTDEV_INVALID_HANDLE;
        if (buffer == nullptr || bytes_read == nullptr)
            return FTDEV_INVALID_PARAMETER;
        if (count == 0)
            return FTDEV_OK;
        FtdevStatus status = FTDEV_OK;
        auto layout = user_area_layout(*device, handle, status);
        if (!layout)
            return status;
        if (!layout->ReadImage())
            return FTDEV_EEPROM_READ_FAILED;
        layout->ReadUserArea(buffer, count, *bytes_read);
        return FTDEV_OK;
    });
}

} // extern "C"
