// Which layout class serves which device type in each family of EEPROM functions, and
// what the programming interface needs to know about each class.
#ifndef CORVANE_EEPROM_LAYOUT_TABLE_H
#define CORVANE_EEPROM_LAYOUT_TABLE_H

#include "eeprom/field_table.h"
#include "ftdev.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace corvane::eeprom {

enum class Layout {
    ft232b,
    ft232r,
    ft2232,
    ft2232h,
    ft4232h,
    ft232h,
    ftx,
    invalid,     // the function does not serve this device type: status 6
    unsupported, // the library has no fitting layout for this device type: status 17
};

// The classes for FT_EE_Program/FT_EE_Read, for the user-area functions and for
// FT_EEPROM_Program/FT_EEPROM_Read.
struct DeviceLayouts {
    Layout record;
    Layout user_area;
    Layout settings;
};

DeviceLayouts layouts_for_device(uint32_t device_type);

struct LayoutInfo {
    // A new object of the class (nothrow: nullptr when memory runs out).
    TFtE2Data *(*create)(const device::HandleRecord &record, FtdevHandle handle);
    // FT_EE_Program: the class's ChipOptions block from a record, handed to EncodeImage.
    void (*encode_record)(TFtE2Data &layout, const ProgramData &record);
    // The class's table: where its strings begin, and whether FT_EE_Program probes (and
    // so erases) an external part first.
    const ChipLayout *chip;
    uint32_t settings_size;  // the size FT_EEPROM_* require
    uint32_t record_version; // written into records converted from the unsigned form
    size_t record_span;      // bytes of an unsigned record this class reads and writes
};

const LayoutInfo &layout_info(Layout layout);

// The object for `layout`, or nullptr with the status to return.
std::unique_ptr<TFtE2Data> create_layout(Layout layout, const device::HandleRecord &record, FtdevHandle handle,
                                         FtdevStatus &status);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_LAYOUT_TABLE_H
