// The EEPROM functions that read and program an image through a ProgramData record,
// and the user-area functions: argument checks, the class for the device type, one
// layout object per call.
#include "device/c_boundary.h"
#include "device/handle_record.h"
#include "eeprom/common_fields.h"
#include "eeprom/latency_boost.h"
#include "eeprom/layout_table.h"
#include "eeprom/program_record.h"
#include "eeprom/serial_number.h"

#include <algorithm>
#include <cstring>
#include <optional>

using namespace corvane::eeprom;
using corvane::device::guarded;
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
    if (!TFtE2Data::StringsFit(info.chip->first_string, record.manufacturer, record.description, serial,
                               info.chip->strings_end))
        return FTDEV_OTHER_ERROR;
    Descriptor serial_descriptor;
    if (!make_descriptor(serial, serial_descriptor))
        return FTDEV_OTHER_ERROR;

    if (info.chip->part_code_word != 0 && !layout.ProbeEepromType())
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

// What FT_EE_Program and FT_EE_Read share: the device, its class for the record functions
// and the form of the caller's record, after the checks that refuse the call.
struct RecordCall {
    const HandleRecord *device = nullptr;
    Layout choice = Layout::invalid;
    bool signed_form = false;
    std::unique_ptr<TFtE2Data> layout;
};

FtdevStatus open_record_call(FtdevHandle handle, const ProgramData *data, RecordCall &call)
{
    call.device = corvane::device::find_open(handle);
    if (call.device == nullptr)
        return FTDEV_INVALID_HANDLE;
    if (data == nullptr)
        return FTDEV_INVALID_PARAMETER;
    call.choice = layouts_for_device(call.device->device_type).record;
    call.signed_form = is_signed(data);
    if (!call.signed_form && call.choice == Layout::ft232r)
        return FTDEV_INVALID_PARAMETER;
    FtdevStatus status = FTDEV_OK;
    call.layout = create_layout(call.choice, *call.device, handle, status);
    return status;
}

FtdevStatus ee_program(FtdevHandle handle, ProgramData *data)
{
    RecordCall call;
    if (FtdevStatus status = open_record_call(handle, data, call))
        return status;
    const LayoutInfo &info = layout_info(call.choice);
    if (call.signed_form)
        return program_record(*call.layout, info, *data, *call.device, handle);
    ProgramData converted = converted_record(info);
    fields_from_unsigned(converted, data, info.record_span);
    return program_record(*call.layout, info, converted, *call.device, handle);
}

FtdevStatus ee_read(FtdevHandle handle, ProgramData *data)
{
    RecordCall call;
    if (FtdevStatus status = open_record_call(handle, data, call))
        return status;
    if (call.signed_form)
        return call.layout->DecodeImage(*data);

    // Only the caller's four buffers go in; every field of its blocks comes back.
    const LayoutInfo &info = layout_info(call.choice);
    ProgramData converted = converted_record(info);
    const auto &caller = *reinterpret_cast<const ProgramDataUnsigned *>(data);
    converted.manufacturer = caller.manufacturer;
    converted.manufacturer_id = caller.manufacturer_id;
    converted.description = caller.description;
    converted.serial_number = caller.serial_number;
    const FtdevStatus status = call.layout->DecodeImage(converted);
    if (status == FTDEV_OK)
        fields_to_unsigned(data, info.record_span, converted);
    return status;
}

// The Ex variants put the four texts into the record where its own form keeps them.
template <typename Record>
void store_texts(Record &record, char *manufacturer, char *manufacturer_id, char *description, char *serial_number)
{
    record.manufacturer = manufacturer;
    record.manufacturer_id = manufacturer_id;
    record.description = description;
    record.serial_number = serial_number;
}

void store_texts(ProgramData *data, char *manufacturer, char *manufacturer_id, char *description, char *serial_number)
{
    if (is_signed(data))
        store_texts(*data, manufacturer, manufacturer_id, description, serial_number);
    else
        store_texts(*reinterpret_cast<ProgramDataUnsigned *>(data), manufacturer, manufacturer_id, description,
                    serial_number);
}

struct UserAreaCall {
    const HandleRecord *device = nullptr;
    std::unique_ptr<TFtE2Data> layout;
};

// The device and its class for the user-area functions, after the checks that refuse the
// call: `missing` is a null pointer of the caller's. No class is made when there is
// nothing to do.
FtdevStatus open_user_area_call(FtdevHandle handle, bool missing, bool nothing_to_do, UserAreaCall &call)
{
    call.device = corvane::device::find_open(handle);
    if (call.device == nullptr)
        return FTDEV_INVALID_HANDLE;
    if (missing)
        return FTDEV_INVALID_PARAMETER;
    if (nothing_to_do)
        return FTDEV_OK;
    FtdevStatus status = FTDEV_OK;
    call.layout = create_layout(layouts_for_device(call.device->device_type).user_area, *call.device, handle, status);
    return status;
}

} // namespace

extern "C" {

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_Program(FtdevHandle handle, ProgramData *data)
{
    return guarded([&]() -> FtdevStatus { return ee_program(handle, data); });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_ProgramEx(FtdevHandle handle, ProgramData *data, char *manufacturer,
                                                    char *manufacturer_id, char *description, char *serial_number)
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
        UserAreaCall call;
        if (FtdevStatus status = open_user_area_call(handle, size == nullptr, false, call))
            return status;
        if (!call.layout->ReadImage()) {
            *size = 0;
            return FTDEV_EEPROM_READ_FAILED;
        }
        *size = static_cast<uint32_t>(std::max(call.layout->UserAreaSize(), 0)) * 2;
        return FTDEV_OK;
    });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_UAWrite(FtdevHandle handle, const uint8_t *data, uint32_t count)
{
    return guarded([&]() -> FtdevStatus {
        UserAreaCall call;
        if (FtdevStatus status = open_user_area_call(handle, data == nullptr, false, call))
            return status;
        std::optional<LatencyBoost> boost;
        if (is_ft232r(*call.device))
            boost.emplace(handle);
        if (!call.layout->ReadImage())
            return FTDEV_EEPROM_READ_FAILED;
        if (!call.layout->WriteUserArea(data, count))
            return FTDEV_EEPROM_WRITE_FAILED;
        return call.layout->WriteSequence();
    });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_UARead(FtdevHandle handle, uint8_t *buffer, uint32_t count,
                                                 uint32_t *bytes_read)
{
    return guarded([&]() -> FtdevStatus {
        UserAreaCall call;
        if (FtdevStatus status =
                open_user_area_call(handle, buffer == nullptr || bytes_read == nullptr, count == 0, call))
            return status;
        if (count == 0)
            return FTDEV_OK;
        if (!call.layout->ReadImage())
            return FTDEV_EEPROM_READ_FAILED;
        call.layout->ReadUserArea(buffer, count, *bytes_read);
        return FTDEV_OK;
    });
}

} // extern "C"
