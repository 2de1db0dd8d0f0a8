#include "eeprom/image.h"

#include "device/handle_record.h"

#include <algorithm>
#include <cstring>

namespace corvane::eeprom {

namespace {

constexpr unsigned read_word_index = 32;
constexpr unsigned write_word_index = 33;
constexpr unsigned erase_index = 34;
constexpr uint32_t no_request = 0xFFFFFFFFu;

// The user area never starts before the string area: a corrupted tail walk that lands
// in the header must not let user data overwrite the ids and pointer bytes.
constexpr int user_area_floor = 20;

// Longest text measured in full; anything longer is far past every string area.
constexpr size_t text_measure_limit = 4096;

} // namespace

int descriptor_size(const char *text)
{
    if (text == nullptr)
        return 2;
    return 2 * static_cast<int>(strnlen(text, text_measure_limit)) + 2;
}

bool make_descriptor(const char *text, Descriptor &out)
{
    out.size = 0;
    const int size = descriptor_size(text);
    if (size > static_cast<int>(sizeof out.bytes))
        return false;
    out.bytes[0] = static_cast<uint8_t>(size);
    out.bytes[1] = string_descriptor_type;
    for (int i = 0; i < size / 2 - 1; ++i) {
        out.bytes[2 + 2 * i] = static_cast<uint8_t>(text[i]);
        out.bytes[3 + 2 * i] = 0;
    }
    out.size = size;
    return true;
}

// ---- TEeData ----

TEeData::TEeData()
    : image{}, cursor(0), blank(1), word_count(64), device(nullptr), read_word_request(no_request),
      write_word_request(no_request), erase_request(no_request)
{}

TEeData::TEeData(const device::HandleRecord &record) : TEeData()
{
    device = record.driver_handle;
    if (record.request_table != nullptr) {
        read_word_request = record.request_table[read_word_index];
        write_word_request = record.request_table[write_word_index];
        erase_request = record.request_table[erase_index];
    }
}

void TEeData::ResetCursor()
{
    cursor = 0;
}

void TEeData::PushWord(uint16_t word)
{
    if (cursor >= 0 && cursor + 2 <= image_size) {
        image[cursor] = static_cast<uint8_t>(word);
        image[cursor + 1] = static_cast<uint8_t>(word >> 8);
    }
    cursor += 2;
    if (word != 0xFFFF)
        blank = 0;
}

uint16_t TEeData::PullWord()
{
    uint16_t word = 0xFFFF;
    if (cursor >= 0 && cursor + 2 <= image_size)
        word = static_cast<uint16_t>(image[cursor] | image[cursor + 1] << 8);
    cursor += 2;
    return word;
}

bool TEeData::ReadWord(uint32_t address, uint16_t &value)
{
    if (device == nullptr)
        return false;
    uint8_t in[4] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                     static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)};
    uint8_t out[2] = {0xFF, 0xFF};
    DWORD returned = 0;
    if (!DeviceIoControl(device, read_word_request, in, sizeof in, out, sizeof out, &returned, nullptr))
        return false;
    value = static_cast<uint16_t>(out[0] | out[1] << 8);
    return true;
}

bool TEeData::ReadAll()
{
    if (device == nullptr)
        return false;
    // Blank again until a word says otherwise, so that the flag describes this read.
    blank = 1;
    ResetCursor();
    const uint32_t count = std::min<uint32_t>(word_count, max_words);
    for (uint32_t address = 0; address < count; ++address) {
        uint16_t word = 0;
        if (!ReadWord(address, word))
            return false;
        PushWord(word);
    }
    return true;
}

bool TEeData::WriteWord(uint16_t address, uint16_t value)
{
    if (device == nullptr)
        return false;
    uint8_t buffer[4] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(value),
                         static_cast<uint8_t>(value >> 8)};
    DWORD returned = 0;
    DeviceIoControl(device, write_word_request, buffer, sizeof buffer, buffer, sizeof buffer, &returned, nullptr);
    return true;
}

bool TEeData::WriteAll()
{
    if (device == nullptr)
        return false;
    ResetCursor();
    const uint32_t count = std::min<uint32_t>(word_count, max_words);
    for (uint32_t address = 0; address < count; ++address)
        WriteWord(static_cast<uint16_t>(address), PullWord());
    return true;
}

bool TEeData::Erase()
{
    if (device == nullptr)
        return false;
    // The driver erases only when the request carries its guard bytes (the same ones
    // FT_EraseEE sends); without them the request is refused and the part keeps its words.
    uint8_t guard[4] = {0xAD, 0x0B, 0xEE, 0xAD};
    DWORD returned = 0;
    DeviceIoControl(device, erase_request, guard, sizeof guard, nullptr, 0, &returned, nullptr);
    blank = 1;
    return true;
}

bool TEeData::Verify()
{
    const size_t bytes = 2 * std::min<uint32_t>(word_count, max_words);
    uint8_t written[image_size];
    std::memcpy(written, image, bytes);
    if (!ReadAll())
        return false;
    return std::memcmp(written, image, bytes) == 0;
}

uint16_t TEeData::word_at(int index) const
{
    if (index < 0 || index >= max_words)
        return 0xFFFF;
    return static_cast<uint16_t>(image[2 * index] | image[2 * index + 1] << 8);
}

void TEeData::set_word_at(int index, uint16_t value)
{
    if (index < 0 || index >= max_words)
        return;
    image[2 * index] = static_cast<uint8_t>(value);
    image[2 * index + 1] = static_cast<uint8_t>(value >> 8);
}

void TEeData::clear_image()
{
    std::memset(image, 0, sizeof image);
}

// ---- TFtE2Data: the operations every layout starts from ----

bool TFtE2Data::ReadImage()
{
    if (!ReadAll())
        return false;
    manufacturer_offset = image[manufacturer_pointer] & 0x7F;
    description_offset = image[description_pointer] & 0x7F;
    serial_offset = image[serial_pointer] & 0x7F;
    return true;
}

void TFtE2Data::AdjustForPartSize(bool large_part)
{
    constexpr int upper_half = 128;
    if (large_part) {
        manufacturer_offset += upper_half;
        description_offset += upper_half;
        serial_offset += upper_half;
        checksum_span = 254;
    } else {
        word_count = 64;
    }
}

void TFtE2Data::MoveStringsToUpperHalf(int from)
{
    constexpr int upper_half = 128;
    const int size = upper_half - from;
    std::memmove(image + from + upper_half, image + from, size);
    std::memset(image + from, 0, size);
    UpdateChecksum();
}

void TFtE2Data::UpdateChecksum()
{
    const int span = std::min<int>(static_cast<int>(checksum_span), image_size - 2) & ~1;
    uint16_t sum = 0xAAAA;
    for (int offset = 0; offset < span; offset += 2) {
        sum ^= static_cast<uint16_t>(image[offset] | image[offset + 1] << 8);
        sum = static_cast<uint16_t>(sum << 1 | sum >> 15);
    }
    image[span] = static_cast<uint8_t>(sum);
    image[span + 1] = static_cast<uint8_t>(sum >> 8);
    checksum = sum;
}

int TFtE2Data::SignedByteAt(int p) const
{
    return static_cast<int8_t>(image[p]);
}

// Serial descriptor, then the empty descriptor, then the tail word; -1 when the walk
// leaves the image (a corrupted length byte).
int TFtE2Data::TailWordOffset() const
{
    int p = serial_offset;
    for (int step = 0; step < 2; ++step) {
        if (p < 0 || p >= image_size)
            return -1;
        p += SignedByteAt(p);
    }
    return p;
}

void TFtE2Data::ReadUserPieces(uint8_t *buffer, uint32_t count, uint32_t &got, uint32_t first_piece, int second_at,
                               uint32_t second_size)
{
    const uint32_t first = std::min(count, first_piece);
    TFtE2Data::ReadUserArea(buffer, first, got);
    if (got != first || count <= first || second_size == 0)
        return;
    const uint32_t rest = std::min(count - first, second_size);
    if (second_at <= 0 || second_at + static_cast<int64_t>(rest) > image_size)
        return;
    std::memcpy(buffer + first, image + second_at, rest);
    got += rest;
}

int TFtE2Data::BaseUserAreaStart() const
{
    const int tail = TailWordOffset();
    if (tail < 0)
        return 0;
    const int p = tail + 2;
    if (p < user_area_floor || p >= static_cast<int>(checksum_span))
        return 0;
    return p / 2;
}

int TFtE2Data::BaseUserAreaSize() const
{
    const int start = BaseUserAreaStart();
    return start == 0 ? 0 : static_cast<int>(checksum_span) / 2 - start;
}

int TFtE2Data::UserAreaStart()
{
    return BaseUserAreaStart();
}

int TFtE2Data::UserAreaSize()
{
    return BaseUserAreaSize();
}

bool TFtE2Data::WriteUserArea(const uint8_t *bytes, uint32_t count)
{
    const int size = UserAreaSize();
    const int start = UserAreaStart();
    if (size <= 0 || count > static_cast<uint32_t>(size) * 2)
        return false;
    if (start <= 0 || 2 * start + static_cast<int64_t>(count) > image_size)
        return false;
    if (count > 0)
        std::memcpy(image + 2 * start, bytes, count);
    UpdateChecksum();
    return true;
}

void TFtE2Data::ReadUserArea(uint8_t *buffer, uint32_t count, uint32_t &got)
{
    const int size = UserAreaSize();
    const int start = UserAreaStart();
    got = 0;
    if (size <= 0 || start <= 0)
        return;
    uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(size) * 2);
    n = std::min<uint32_t>(n, static_cast<uint32_t>(image_size - 2 * start));
    if (n > 0)
        std::memcpy(buffer, image + 2 * start, n);
    got = n;
}

// ---- Fields of the header ----

uint16_t TFtE2Data::GetVendorId() const
{
    return word_at(1);
}

void TFtE2Data::SetVendorId(uint16_t id)
{
    set_word_at(1, id);
    UpdateChecksum();
}

uint16_t TFtE2Data::GetProductId() const
{
    return word_at(2);
}

void TFtE2Data::SetProductId(uint16_t id)
{
    set_word_at(2, id);
    UpdateChecksum();
}

uint8_t TFtE2Data::GetAttributes() const
{
    return image[8];
}

void TFtE2Data::SetAttributes(uint8_t attributes)
{
    image[8] = attributes;
    UpdateChecksum();
}

uint16_t TFtE2Data::GetMaxPower() const
{
    return static_cast<uint16_t>(image[9] * 2);
}

void TFtE2Data::SetMaxPower(int milliamps)
{
    // USB allows at most 500 mA; the byte counts 2 mA steps.
    milliamps = std::clamp(milliamps, 0, 500);
    image[9] = static_cast<uint8_t>(milliamps / 2);
    UpdateChecksum();
}

// ---- Strings ----

bool TFtE2Data::StringToDescriptor(int offset, const char *text)
{
    Descriptor descriptor;
    if (!make_descriptor(text, descriptor))
        return false;
    if (offset < 0 || offset + descriptor.size > image_size)
        return false;
    std::memcpy(image + offset, descriptor.bytes, descriptor.size);
    return true;
}

void TFtE2Data::DescriptorToString(char *out, int offset) const
{
    out[0] = '\0';
    if (offset < 0 || offset + 2 > image_size)
        return;
    // A length byte of 0 or 1 holds no character; one with bit 7 set would promise more
    // than a text buffer holds, so the text is cut to the buffer and to the image.
    int chars = image[offset] / 2 - 1;
    chars = std::min({chars, text_buffer_size - 1, (image_size - offset - 2) / 2});
    if (chars <= 0)
        return;
    for (int i = 0; i < chars; ++i)
        out[i] = static_cast<char>(image[offset + 2 + 2 * i]);
    out[chars] = '\0';
}

void TFtE2Data::TextAt(char *out, int offset) const
{
    if (blank)
        out[0] = '\0';
    else
        DescriptorToString(out, offset);
}

void TFtE2Data::GetManufacturer(char *out) const
{
    TextAt(out, manufacturer_offset);
}

void TFtE2Data::GetDescription(char *out) const
{
    TextAt(out, description_offset);
}

void TFtE2Data::GetSerialNumber(char *out) const
{
    TextAt(out, serial_offset);
}

void TFtE2Data::GetManufacturerId(char *out) const
{
    GetSerialNumber(out);
    if (out[0] != '\0' && out[1] != '\0')
        out[2] = '\0';
}

bool TFtE2Data::SetSerialDescriptor(const Descriptor &descriptor)
{
    if (descriptor.size <= 0 || serial_offset < 0 || serial_offset + descriptor.size > image_size)
        return false;
    std::memcpy(image + serial_offset, descriptor.bytes, descriptor.size);
    image[serial_pointer + 1] = descriptor.bytes[0];
    return true;
}

bool TFtE2Data::AppendDescriptor(const uint8_t *descriptor)
{
    if (serial_offset < 0 || serial_offset >= image_size)
        return false;
    const int p = serial_offset + image[serial_offset];
    const int length = descriptor[0];
    if (p + length > descriptor_area_end)
        return false;
    std::memcpy(image + p, descriptor, length);
    return true;
}

bool TFtE2Data::AppendEmptyDescriptor()
{
    static const uint8_t empty[2] = {2, string_descriptor_type};
    return AppendDescriptor(empty);
}

uint16_t TFtE2Data::GetTailWord() const
{
    const int p = TailWordOffset();
    if (p < 0 || p + 2 > image_size)
        return 0xFFFF;
    return static_cast<uint16_t>(image[p] | image[p + 1] << 8);
}

void TFtE2Data::SetTailWord(uint16_t value)
{
    const int p = TailWordOffset();
    if (p < user_area_floor || p + 2 > image_size)
        return;
    image[p] = static_cast<uint8_t>(value);
    image[p + 1] = static_cast<uint8_t>(value >> 8);
}

bool TFtE2Data::StringsFit(int first_offset, const char *manufacturer, const char *description, const char *serial,
                           int end)
{
    return first_offset + descriptor_size(manufacturer) + descriptor_size(description) + descriptor_size(serial) <= end;
}

bool TFtE2Data::PlaceStrings(int first_offset, const char *manufacturer, const char *description, const char *serial,
                             int end)
{
    if (!StringsFit(first_offset, manufacturer, description, serial, end))
        return false;
    const int manufacturer_at = first_offset;
    const int description_at = manufacturer_at + descriptor_size(manufacturer);
    const int serial_at = description_at + descriptor_size(description);
    image[manufacturer_pointer] = static_cast<uint8_t>(manufacturer_at);
    image[manufacturer_pointer + 1] = static_cast<uint8_t>(descriptor_size(manufacturer));
    image[description_pointer] = static_cast<uint8_t>(description_at);
    image[description_pointer + 1] = static_cast<uint8_t>(descriptor_size(description));
    image[serial_pointer] = static_cast<uint8_t>(serial_at);
    image[serial_pointer + 1] = static_cast<uint8_t>(descriptor_size(serial));
    StringToDescriptor(manufacturer_at, manufacturer);
    StringToDescriptor(description_at, description);
    StringToDescriptor(serial_at, serial);
    manufacturer_offset = manufacturer_at;
    description_offset = description_at;
    serial_offset = serial_at;
    image[manufacturer_pointer] |= pointer_flag;
    image[description_pointer] |= pointer_flag;
    image[serial_pointer] |= pointer_flag;
    return true;
}

FtdevStatus TFtE2Data::WriteSequence()
{
    if (!Erase())
        return FTDEV_EEPROM_ERASE_FAILED;
    if (!WriteAll() || !Verify())
        return FTDEV_EEPROM_WRITE_FAILED;
    return FTDEV_OK;
}

} // namespace corvane::eeprom
