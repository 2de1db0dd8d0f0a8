#include "eeprom/ft232h.h"

#include "eeprom/common_fields.h"
#include "eeprom/external_eeprom.h"
#include "eeprom/pin_group.h"
#include "eeprom/record_block_view.h"
#include "eeprom/serial_number.h"

#include <algorithm>
#include <cstring>

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_232h = 0x0900;
constexpr int part_code_word = 15;
// Some FT232H images name their part by this code instead of the part size.
constexpr uint16_t part_code_232h = 0x5231;
constexpr int mux_bytes = 0x18;
constexpr int fixed_byte = 0x8A;
constexpr uint8_t fixed_byte_value = 0x48;

// On a large part bytes 0x20 to 0x7F move up by 0x80, where the pointer bytes
// (offset | 0x80) already point; the lower half then holds user data.
constexpr int moved_from = ft232h_first_string;
constexpr int moved_size = 0x80 - ft232h_first_string;
constexpr int upper_half = 0x80;
constexpr uint32_t lower_user_piece = moved_size;
constexpr int upper_strings_word = (moved_from + upper_half) / 2;

constexpr uint16_t probe_address = 0xC0;
constexpr uint16_t probe_marker = 0x00C0;

// What word 0, word 6 and the mux bytes hold, whichever structure they come from.
struct ChipFields {
    uint8_t w0_low[4];      // bits 0 to 3, of which only the first set one is stored
    bool driver_type;       // bit 4
    uint8_t w0_bit8;
    uint8_t w0_bit9;
    uint8_t w0_bit10;
    uint8_t w0_bit15;
    PinGroup groups[2];     // word 6 bits 0-3 and 8-11
    uint8_t mux[10];
};

uint16_t word0_of(const ChipFields &fields)
{
    uint16_t word = 0;
    for (unsigned bit = 0; bit < 4; ++bit) {
        if (fields.w0_low[bit]) {
            word |= static_cast<uint16_t>(1u << bit);
            break;
        }
    }
    if (fields.driver_type)
        word |= 1u << 4;
    if (fields.w0_bit8)
        word |= 1u << 8;
    if (fields.w0_bit9)
        word |= 1u << 9;
    if (fields.w0_bit10)
        word |= 1u << 10;
    if (fields.w0_bit15)
        word |= 1u << 15;
    return word;
}

uint16_t word6_of(const ChipFields &fields)
{
    return static_cast<uint16_t>(pin_group_nibble(fields.groups[0]) | pin_group_nibble(fields.groups[1]) << 8);
}

// Each reads back on its own, as 0 or 1, even where an image holds several of bits 0-3.
ChipFields chip_fields_of(const TFtE2Data &image)
{
    ChipFields fields{};
    const uint16_t word0 = image.word_at(0);
    for (unsigned bit = 0; bit < 4; ++bit)
        fields.w0_low[bit] = flag(bit_set(word0, bit));
    fields.driver_type = bit_set(word0, 4);
    fields.w0_bit8 = flag(bit_set(word0, 8));
    fields.w0_bit9 = flag(bit_set(word0, 9));
    fields.w0_bit10 = flag(bit_set(word0, 10));
    fields.w0_bit15 = flag(bit_set(word0, 15));
    const uint16_t word6 = image.word_at(6);
    fields.groups[0] = pin_group_from_nibble(word6 & 0xF);
    fields.groups[1] = pin_group_from_nibble(word6 >> 8 & 0xF);
    for (int k = 0; k < 5; ++k) {
        fields.mux[2 * k] = image.image[mux_bytes + k] & 0x0F;
        fields.mux[2 * k + 1] = image.image[mux_bytes + k] >> 4;
    }
    return fields;
}

} // namespace

TFtEE232H::TFtEE232H()
{
    word_count = 128;
    checksum_span = 254;
}

TFtEE232H::TFtEE232H(const device::HandleRecord &record) : TFtE2Data(record)
{
    word_count = 128;
    checksum_span = 254;
}

bool TFtEE232H::large_part() const
{
    return eeprom_type == part_128_words || eeprom_type == part_256_words || eeprom_type == part_code_232h;
}

bool TFtEE232H::ReadImage()
{
    if (!TFtE2Data::ReadImage())
        return false;
    eeprom_type = word_at(part_code_word);
    AdjustForPartSize(large_part());
    return true;
}

// Without a part code only word_count words go back to the device, while the checksum
// span still reaches word 127: the user area ends with the written words, or user data
// would be accepted and lost. It never starts below the strings, where the chip's own
// words lie, nor on the serial descriptor it was found behind (a blank part's length
// bytes of 0xFF walk backwards), where user data would move the area on the next read.
int TFtEE232H::UserAreaStart()
{
    if (large_part())
        return moved_from / 2;
    const int start = BaseUserAreaStart();
    const bool sound = start >= moved_from / 2 && start < static_cast<int>(word_count) && 2 * start > serial_offset;
    return sound ? start : 0;
}

int TFtEE232H::UpperPieceStart() const
{
    const int start = BaseUserAreaStart();
    return start >= upper_strings_word && 2 * start > serial_offset ? start : 0;
}

int TFtEE232H::UserAreaSize()
{
    if (large_part()) {
        const int upper = UpperPieceStart();
        const int upper_size = upper == 0 ? 0 : static_cast<int>(checksum_span) / 2 - upper;
        return static_cast<int>(lower_user_piece / 2) + upper_size;
    }
    const int start = UserAreaStart();
    if (start == 0)
        return 0;
    return std::min(static_cast<int>(checksum_span) / 2, static_cast<int>(word_count)) - start;
}

bool TFtEE232H::WriteUserArea(const uint8_t *bytes, uint32_t count)
{
    const int size = UserAreaSize();
    if (size <= 0 || count > static_cast<uint32_t>(size) * 2)
        return false;
    if (!large_part())
        return TFtE2Data::WriteUserArea(bytes, count);
    const uint32_t first = std::min(count, lower_user_piece);
    const uint32_t rest = count - first;
    if (!TFtE2Data::WriteUserArea(bytes, first))
        return false;
    // The size above counts the upper piece only when there is one, so `rest` fits it.
    if (rest > 0)
        std::memcpy(image + 2 * UpperPieceStart(), bytes + first, rest);
    UpdateChecksum();
    return true;
}

void TFtEE232H::ReadUserArea(uint8_t *buffer, uint32_t count, uint32_t &got)
{
    if (!large_part()) {
        TFtE2Data::ReadUserArea(buffer, count, got);
        return;
    }
    const uint32_t first = std::min(count, lower_user_piece);
    TFtE2Data::ReadUserArea(buffer, first, got);
    const int upper = UpperPieceStart();
    if (got != first || count <= first || upper == 0)
        return;
    const uint32_t limit = static_cast<uint32_t>(std::max(UserAreaSize(), 0)) * 2;
    const uint32_t rest = std::min(count - first, limit > got ? limit - got : 0);
    if (rest == 0)
        return;
    std::memcpy(buffer + first, image + 2 * upper, rest);
    got += rest;
}

// Erases the part and writes a marker at word 0xC0: a 128-word part, which wraps, shows
// it at 0x40. The FT232H takes no 64-word part, so word 0 is never looked at.
bool TFtEE232H::ProbeEepromType()
{
    Erase();
    WriteWord(probe_address, probe_marker);
    word_count = 128;
    checksum_span = 254;
    uint16_t word = 0;
    if (!ReadWord(0x40, word))
        return false;
    if (word == probe_marker) {
        eeprom_type = part_128_words;
        return true;
    }
    if (!ReadWord(probe_address, word))
        return false;
    // Only the first 128 words of a 256-word part are used.
    eeprom_type = word == probe_marker ? part_256_words : 0;
    return true;
}

void TFtEE232H::FitImageToEeprom()
{
    if (large_part())
        MoveStringsToUpperHalf(moved_from);
}

void TFtEE232H::StoreChipWords(uint16_t word0, uint16_t word6, const uint8_t (&mux)[10])
{
    set_word_at(0, word0);
    set_word_at(6, word6);
    // Each code keeps to its nibble, so that an out-of-range value on the record path,
    // which has no range check, cannot change its neighbour's pin function.
    for (int k = 0; k < 5; ++k)
        image[mux_bytes + k] = static_cast<uint8_t>((mux[2 * k] & 0x0F) | (mux[2 * k + 1] & 0x0F) << 4);
    set_word_at(part_code_word, eeprom_type != 0 ? eeprom_type : part_128_words);
    image[fixed_byte] = fixed_byte_value;
}

void TFtEE232H::EncodeImage(const ChipOptions &options)
{
    const ProgramData record = record_fields_of(block_of<ChipOptions232H>(options),
                                                        offsetof(ProgramData, ft232h_option_bit2));
    const ChipFields fields = {
        {record.ft232h_w0_bit0, record.ft232h_w0_bit1, record.ft232h_w0_bit2, record.ft232h_w0_bit3},
        record.ft232h_driver_type != 0,
        record.ft232h_w0_bit8,
        record.ft232h_w0_bit9,
        record.ft232h_w0_bit10,
        record.ft232h_w0_bit15,
        {{record.ft232h_group0_slow_slew, record.ft232h_group0_schmitt, record.ft232h_group0_drive},
         {record.ft232h_group1_slow_slew, record.ft232h_group1_schmitt, record.ft232h_group1_drive}},
        {record.ft232h_cbus_mux0, record.ft232h_cbus_mux1, record.ft232h_cbus_mux2, record.ft232h_cbus_mux3,
         record.ft232h_cbus_mux4, record.ft232h_cbus_mux5, record.ft232h_cbus_mux6, record.ft232h_cbus_mux7,
         record.ft232h_cbus_mux8, record.ft232h_cbus_mux9},
    };

    clear_image();
    set_word_at(3, release_232h);
    if (record.ft232h_option_bit2)
        image[option_byte] |= option_bit2_mask;
    if (record.ft232h_option_bit3)
        image[option_byte] |= option_bit3_mask;
    StoreChipWords(word0_of(fields), word6_of(fields), fields.mux);
    PlaceStrings(ft232h_first_string, options.manufacturer, options.description,
                 options.serial != nullptr ? options.serial : "");
    AppendEmptyDescriptor();
    SetTailWord(0);
    UpdateChecksum();
    blank = 0;
}

FtdevStatus TFtEE232H::DecodeImage(ProgramData &record)
{
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    if (FtdevStatus status = check_vendor_word(*this))
        return status;
    decode_common_fields(*this, record);
    // The blocks of the other chips read as clear.
    auto *bytes = reinterpret_cast<unsigned char *>(&record);
    std::memset(bytes + offsetof(ProgramData, release_0400), 0,
                offsetof(ProgramData, ft232h_option_bit2) - offsetof(ProgramData, release_0400));

    const ChipFields fields = chip_fields_of(*this);
    record.ft232h_option_bit2 = flag(image[option_byte] & option_bit2_mask);
    record.ft232h_option_bit3 = flag(image[option_byte] & option_bit3_mask);
    record.ft232h_group0_slow_slew = fields.groups[0].slow_slew;
    record.ft232h_group0_schmitt = fields.groups[0].schmitt;
    record.ft232h_group0_drive = fields.groups[0].drive;
    record.ft232h_group1_slow_slew = fields.groups[1].slow_slew;
    record.ft232h_group1_schmitt = fields.groups[1].schmitt;
    record.ft232h_group1_drive = fields.groups[1].drive;
    std::memcpy(&record.ft232h_cbus_mux0, fields.mux, sizeof fields.mux);
    static_assert(offsetof(ProgramData, ft232h_cbus_mux9) - offsetof(ProgramData, ft232h_cbus_mux0) ==
                  9);
    record.ft232h_w0_bit0 = fields.w0_low[0];
    record.ft232h_w0_bit1 = fields.w0_low[1];
    record.ft232h_w0_bit2 = fields.w0_low[2];
    record.ft232h_w0_bit3 = fields.w0_low[3];
    record.ft232h_w0_bit8 = fields.w0_bit8;
    record.ft232h_w0_bit9 = fields.w0_bit9;
    record.ft232h_w0_bit10 = fields.w0_bit10;
    record.ft232h_driver_type = flag(fields.driver_type);
    record.ft232h_w0_bit15 = fields.w0_bit15;
    return FTDEV_OK;
}

FtdevStatus TFtEE232H::ReadSettings(SettingsHeader &header, const TextBuffers &buffers)
{
    if (FtdevStatus status = check_buffers(buffers))
        return status;
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    if (FtdevStatus status = check_vendor_word(*this))
        return status;
    read_settings_header(*this, header, buffers);

    auto &settings = reinterpret_cast<Settings232H &>(header);
    const ChipFields fields = chip_fields_of(*this);
    settings.group0_slow_slew = fields.groups[0].slow_slew;
    settings.group0_schmitt = fields.groups[0].schmitt;
    settings.group0_drive = fields.groups[0].drive;
    settings.group1_slow_slew = fields.groups[1].slow_slew;
    settings.group1_schmitt = fields.groups[1].schmitt;
    settings.group1_drive = fields.groups[1].drive;
    std::memcpy(&settings.cbus_mux0, fields.mux, sizeof fields.mux);
    static_assert(offsetof(Settings232H, cbus_mux9) - offsetof(Settings232H, cbus_mux0) == 9);
    settings.w0_bit8 = fields.w0_bit8;
    settings.w0_bit9 = fields.w0_bit9;
    settings.w0_bit10 = fields.w0_bit10;
    settings.w0_bit0 = fields.w0_low[0];
    settings.w0_bit1 = fields.w0_low[1];
    settings.w0_bit2 = fields.w0_low[2];
    settings.w0_bit3 = fields.w0_low[3];
    settings.w0_bit15 = fields.w0_bit15;
    settings.driver_type = flag(fields.driver_type);
    return FTDEV_OK;
}

FtdevStatus TFtEE232H::ProgramSettings(const SettingsHeader &header, const Texts &texts)
{
    const auto &settings = reinterpret_cast<const Settings232H &>(header);
    const ChipFields fields = {
        {settings.w0_bit0, settings.w0_bit1, settings.w0_bit2, settings.w0_bit3},
        settings.driver_type == 1,
        settings.w0_bit8,
        settings.w0_bit9,
        settings.w0_bit10,
        settings.w0_bit15,
        {{settings.group0_slow_slew, settings.group0_schmitt, settings.group0_drive},
         {settings.group1_slow_slew, settings.group1_schmitt, settings.group1_drive}},
        {settings.cbus_mux0, settings.cbus_mux1, settings.cbus_mux2, settings.cbus_mux3, settings.cbus_mux4,
         settings.cbus_mux5, settings.cbus_mux6, settings.cbus_mux7, settings.cbus_mux8, settings.cbus_mux9},
    };
    for (uint8_t mux : fields.mux)
        if (mux > ft232h_mux_max)
            return FTDEV_INVALID_PARAMETER;
    char automatic[automatic_serial_size];
    const char *serial = choose_serial(texts.serial_number, texts.manufacturer_id, header.product_id, automatic);
    if (FtdevStatus status = check_program_settings(header, texts, serial, ft232h_first_string))
        return status;

    clear_image();
    if (!ProbeEepromType())
        return FTDEV_EEPROM_READ_FAILED;
    set_word_at(3, release_232h);
    apply_settings_header(*this, header);
    PlaceStrings(ft232h_first_string, texts.manufacturer, texts.description, serial);
    FitImageToEeprom();
    StoreChipWords(word0_of(fields), word6_of(fields), fields.mux);
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

void encode_ft232h_record(TFtE2Data &layout, const ProgramData &record)
{
    encode_record_block<ChipOptions232H>(layout, record, offsetof(ProgramData, ft232h_option_bit2));
}

} // namespace corvane::eeprom
