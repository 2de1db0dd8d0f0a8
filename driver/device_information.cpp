// What the driver tells about the device itself: the device information reply, the
// serial number, description and location, and the packet size.
#include "driver/channel_file.h"

#include <algorithm>
#include <cstring>

namespace corvane::driver {

namespace {

// The device information reply, 96 bytes, little-endian.
constexpr uint32_t information_size = 96;
constexpr uint32_t chip_code_offset = 4;
constexpr uint32_t id_offset = 8;
constexpr uint32_t serial_offset = 16;
constexpr uint32_t serial_field = 16;
constexpr uint32_t description_offset = 32;
constexpr uint32_t description_field = 64;
// The texts of requests 39 and 40 are bounded like the reply's fields, so that a device
// opened by the serial number or description that the device list shows is found.
constexpr uint32_t text_reply_limit = 64;

// Zero-fills `field` and puts as much of `text` as fits with its terminator.
void put_text(uint8_t *field, uint32_t field_size, const std::string &text)
{
    std::memset(field, 0, field_size);
    std::memcpy(field, text.data(), std::min<size_t>(text.size(), field_size - 1));
}

} // namespace

std::string ChannelFile::serial_number() const
{
    // One listed device per channel: the channel letter tells them apart, so it is the
    // serial string that gives way when the field is short.
    if (identity_.channels <= 1)
        return identity_.serial.substr(0, serial_field - 1);
    return identity_.serial.substr(0, serial_field - 2) + static_cast<char>('A' + channel_ - 1);
}

std::string ChannelFile::description() const
{
    if (identity_.channels <= 1)
        return identity_.product.substr(0, description_field - 1);
    return identity_.product.substr(0, description_field - 3) + ' ' + static_cast<char>('A' + channel_ - 1);
}

uint32_t ChannelFile::get_device_information(RequestBuffers &buffers) const
{
    if (buffers.out_size < information_size)
        return ERROR_INVALID_PARAMETER;
    uint8_t *reply = buffers.out;
    // The reserved word at offset 12 is the caller's and stays as it is.
    store_u32(reply, 0);
    store_u32(reply + chip_code_offset, chip_ ? chip_->chip_code : usb::ftdi::unknown_chip_code);
    store_u32(reply + id_offset, static_cast<uint32_t>(identity_.vendor_id) << 16 | identity_.product_id);
    put_text(reply + serial_offset, serial_field, serial_number());
    put_text(reply + description_offset, description_field, description());
    buffers.returned = information_size;
    return ERROR_SUCCESS;
}

// The text and its terminator; the count returned leaves the terminator out, so that a
// caller that appends one to what came back stays within the 64 bytes.
uint32_t ChannelFile::get_text(RequestBuffers &buffers, const std::string &text) const
{
    if (buffers.out_size < 1)
        return ERROR_INVALID_PARAMETER;
    uint32_t field = std::min(buffers.out_size, text_reply_limit);
    put_text(buffers.out, field, text);
    buffers.returned = static_cast<uint32_t>(std::min<size_t>(text.size(), field - 1));
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::get_location(RequestBuffers &buffers) const
{
    if (buffers.out_size < 4)
        return ERROR_INVALID_PARAMETER;
    store_u32(buffers.out, identity_.location + channel_);
    buffers.returned = 4;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::get_packet_size(RequestBuffers &buffers) const
{
    if (buffers.out_size < 2)
        return ERROR_INVALID_PARAMETER;
    store_u16(buffers.out, identity_.packet_size);
    buffers.returned = 2;
    return ERROR_SUCCESS;
}

} // namespace corvane::driver
