#include "eeprom/layout_table.h"

#include "eeprom/ft2232.h"
#include "eeprom/high_speed_dual_quad.h"
#include "eeprom/ft232b.h"
#include "eeprom/ft232h.h"
#include "eeprom/ft232r.h"
#include "eeprom/ftx.h"
#include "eeprom/program_record.h"

#include <new>

namespace corvane::eeprom {

namespace {

constexpr DeviceLayouts by_device_type[] = {
    /* 0 FT232B family */ {Layout::ft232b, Layout::ft232b, Layout::ft232b},
    /* 1 */ {Layout::ft232b, Layout::ft232b, Layout::invalid},
    /* 2 */ {Layout::ft232b, Layout::ft232b, Layout::invalid},
    /* 3 */ {Layout::ft232b, Layout::ft232b, Layout::invalid},
    /* 4 FT2232 */ {Layout::ft2232, Layout::ft2232, Layout::ft2232},
    // The user-area functions use only operations the two classes share.
    /* 5 FT232R */ {Layout::ft232r, Layout::ft232b, Layout::ft232r},
    /* 6 FT2232H */ {Layout::ft2232h, Layout::ft2232h, Layout::ft2232h},
    /* 7 FT4232H */ {Layout::ft4232h, Layout::ft4232h, Layout::ft4232h},
    /* 8 FT232H */ {Layout::ft232h, Layout::ft232h, Layout::ft232h},
    // An FT232B image written to an FT-X would overwrite its configuration with a layout
    // the chip does not read: the record functions refuse it.
    /* 9 FT-X */ {Layout::unsupported, Layout::ftx, Layout::ftx},
};
constexpr DeviceLayouts other_device_types = {Layout::ft232b, Layout::ft232b, Layout::invalid};

template <typename Class>
TFtE2Data *create_plain(const device::HandleRecord &record, FtdevHandle)
{
    return new (std::nothrow) Class(record);
}

// FT_EE_Program's step: the record's block of the chip, copied unchanged into its
// ChipOptions block with the manufacturer, the description and an empty serial.
template <typename Block, const ChipLayout &chip>
void encode_options(TFtE2Data &layout, const ProgramData &record)
{
    Block block{};
    block.texts = {record.manufacturer, record.description, ""};
    copy_record_block(block, chip.record.options_first, record, chip.record.fields.first, chip.record.fields.end);
    layout.EncodeImage(block.texts);
}

// The FT232R's block carries the byte every programmed image holds in byte 1.
void encode_ft232r_options(TFtE2Data &layout, const ProgramData &record)
{
    ProgramData fixed = record;
    fixed.r_byte1 = ft232r_programmed_byte1;
    encode_options<ChipOptions232R, ft232r_layout>(layout, fixed);
}

// Should the record functions ever reach the FT-X class: it builds nothing from a record.
void encode_nothing(TFtE2Data &layout, const ProgramData &)
{
    layout.EncodeImage({nullptr, nullptr, nullptr});
}

TFtE2Data *create_ft232r(const device::HandleRecord &record, FtdevHandle handle)
{
    return new (std::nothrow) TFtEE232R(record, handle);
}

// Indexed by Layout up to ftx. A new class fills in `create` (create_plain<TheClass>),
// `encode_record` (encode_options with its ChipOptions block and its table) and its
// table; nothing else in the library changes.
const LayoutInfo layout_infos[] = {
    /* ft232b */ {&create_plain<TFtEE232>, &encode_options<ChipOptions232, ft232b_layout>, &ft232b_layout,
                  sizeof(Settings232B), FTDEV_PROGRAM_VERSION_232B, record_span_232b},
    /* ft232r */
    {&create_ft232r, &encode_ft232r_options, &ft232r_layout, sizeof(Settings232R), FTDEV_PROGRAM_VERSION_232B, 0},
    /* ft2232 */
    {&create_plain<TFtEE2232>, &encode_options<ChipOptions2232, ft2232_layout>, &ft2232_layout, sizeof(Settings2232),
     FTDEV_PROGRAM_VERSION_2232, record_span_2232},
    /* ft2232h */
    {&create_plain<TFtEE2232H>, &encode_options<ChipOptions2232H, ft2232h_layout>, &ft2232h_layout,
     sizeof(Settings2232H), FTDEV_PROGRAM_VERSION_2232H, record_span_2232h},
    /* ft4232h */
    {&create_plain<TFtEE4232H>, &encode_options<ChipOptions4232H, ft4232h_layout>, &ft4232h_layout,
     sizeof(Settings4232H), FTDEV_PROGRAM_VERSION_4232H, record_span_4232h},
    /* ft232h */
    {&create_plain<TFtEE232H>, &encode_options<ChipOptions232H, ft232h_layout>, &ft232h_layout, sizeof(Settings232H),
     FTDEV_PROGRAM_VERSION_232H, record_span_232h},
    /* ftx */ {&create_plain<TFtEEFTX>, &encode_nothing, &ftx_layout, sizeof(SettingsX), FTDEV_PROGRAM_VERSION_232B, 0},
};
static_assert(std::size(layout_infos) == static_cast<size_t>(Layout::ftx) + 1);

const LayoutInfo no_layout = {nullptr, nullptr, nullptr, 0, 0, 0};

} // namespace

DeviceLayouts layouts_for_device(uint32_t device_type)
{
    if (device_type < std::size(by_device_type))
        return by_device_type[device_type];
    return other_device_types;
}

const LayoutInfo &layout_info(Layout layout)
{
    const auto index = static_cast<size_t>(layout);
    return index < std::size(layout_infos) ? layout_infos[index] : no_layout;
}

std::unique_ptr<TFtE2Data> create_layout(Layout layout, const device::HandleRecord &record, FtdevHandle handle,
                                         FtdevStatus &status)
{
    if (layout == Layout::invalid) {
        status = FTDEV_INVALID_PARAMETER;
        return nullptr;
    }
    const LayoutInfo &info = layout_info(layout);
    if (info.create == nullptr) {
        status = FTDEV_NOT_SUPPORTED;
        return nullptr;
    }
    std::unique_ptr<TFtE2Data> object(info.create(record, handle));
    status = object ? FTDEV_OK : FTDEV_INSUFFICIENT_RESOURCES;
    return object;
}

} // namespace corvane::eeprom
