// FT_EEPROM_Read and FT_EEPROM_Program (a settings structure of the device's chip), and
// the three configuration calls that pass straight to the driver.
#include "device/c_boundary.h"
#include "device/handle_record.h"
#include "eeprom/layout_table.h"

using namespace corvane::eeprom;
using corvane::device::guarded;
using corvane::device::HandleRecord;

namespace {

constexpr uint32_t read_config_request = 0x2201CC;  // request index 115
constexpr uint32_t write_config_request = 0x2201D0; // request index 116
constexpr uint32_t read_ecc_request = 0x2201D4;     // request index 117

// The layout for a settings call, after the checks that refuse the structure.
std::unique_ptr<TFtE2Data> settings_layout(FtdevHandle handle, const SettingsHeader *settings, uint32_t size,
                                           FtdevStatus &status)
{
    const HandleRecord *device = corvane::device::find_open(handle);
    if (device == nullptr) {
        status = FTDEV_INVALID_HANDLE;
        return nullptr;
    }
    // The size is checked before the header is read: a caller's structure smaller than the
    // header must not be read past its end.
    if (settings == nullptr || size < sizeof(SettingsHeader) || settings->device_type != device->device_type) {
        status = FTDEV_INVALID_PARAMETER;
        return nullptr;
    }
    const Layout choice = layouts_for_device(device->device_type).settings;
    if (choice == Layout::invalid || size != layout_info(choice).settings_size) {
        status = FTDEV_INVALID_PARAMETER;
        return nullptr;
    }
    return create_layout(choice, *device, handle, status);
}

// The configuration calls exist on the FT232H and the FT-X series only; `out_missing`
// is a caller's null pointer, refused once the device is known to take the call.
FtdevStatus config_request(FtdevHandle handle, uint32_t request, void *in, uint32_t in_size, void *out,
                           uint32_t out_size, bool out_missing)
{
    const HandleRecord *device = corvane::device::find_open(handle);
    if (device == nullptr)
        return FTDEV_INVALID_HANDLE;
    if (device->device_type != FTDEV_DEVICE_232H && device->device_type != FTDEV_DEVICE_X_SERIES)
        return FTDEV_NOT_SUPPORTED;
    if (out_missing)
        return FTDEV_INVALID_PARAMETER;
    uint32_t returned = 0;
    return FT_IoCtl(handle, request, in, in_size, out, out_size, &returned, nullptr);
}

} // namespace

extern "C" {

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EEPROM_Read(FtdevHandle handle, SettingsHeader *settings, uint32_t size,
                                                   char *manufacturer, char *manufacturer_id, char *description,
                                                   char *serial_number)
{
    return guarded([&]() -> FtdevStatus {
        FtdevStatus status = FTDEV_OK;
        auto layout = settings_layout(handle, settings, size, status);
        return layout ? layout->ReadSettings(*settings, {manufacturer, manufacturer_id, description, serial_number})
                      : status;
    });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EEPROM_Program(FtdevHandle handle, const SettingsHeader *settings, uint32_t size,
                                                      const char *manufacturer, const char *manufacturer_id,
                                                      const char *description, const char *serial_number)
{
    return guarded([&]() -> FtdevStatus {
        FtdevStatus status = FTDEV_OK;
        auto layout = settings_layout(handle, settings, size, status);
        return layout ? layout->ProgramSettings(*settings, {manufacturer, manufacturer_id, description, serial_number})
                      : status;
    });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_ReadConfig(FtdevHandle handle, uint8_t address, uint8_t *value)
{
    return guarded([&]() -> FtdevStatus {
        return config_request(handle, read_config_request, &address, 1, value, 1, value == nullptr);
    });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_WriteConfig(FtdevHandle handle, uint8_t address, uint8_t value)
{
    return guarded([&]() -> FtdevStatus {
        uint8_t in[2] = {address, value};
        return config_request(handle, write_config_request, in, sizeof in, nullptr, 0, false);
    });
}

FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EE_ReadECC(FtdevHandle handle, uint8_t option, uint16_t *value)
{
    return guarded([&]() -> FtdevStatus {
        uint8_t out[2] = {0, 0};
        const FtdevStatus status =
            config_request(handle, read_ecc_request, &option, 1, out, sizeof out, value == nullptr);
        if (status == FTDEV_OK)
            *value = static_cast<uint16_t>(out[0] | out[1] << 8);
        return status;
    });
}

} // extern "C"
