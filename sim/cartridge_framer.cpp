#include "sim/cartridge_framer.h"

#include <cassert>

namespace corvane::sim {
namespace {

// The length byte each command must carry; 0 for a byte that starts no command.
size_t packet_length(uint8_t code)
{
    switch (static_cast<CartridgeCommand>(code)) {
    case CartridgeCommand::sdram_write:
    case CartridgeCommand::sdram_read:
    case CartridgeCommand::config_write: return 10;
    case CartridgeCommand::flash_cycle:
    case CartridgeCommand::flash_program: return 8;
    case CartridgeCommand::config_erase:
    case CartridgeCommand::set_save_type: return 4;
    }
    return 0;
}

uint32_t big_endian_32(const uint8_t *bytes)
{
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

} // namespace

size_t CartridgeFramer::skip_padding(const uint8_t *data, size_t size)
{
    if (inside_packet())
        return 0;
    size_t count = 0;
    while (count < size && data[count] == 0)
        ++count;
    zero_bytes_ += count;
    return count;
}

std::optional<CartridgePacket> CartridgeFramer::feed(uint8_t byte)
{
    if (!inside_packet()) {
        if (byte == 0) {
            ++zero_bytes_;
            return std::nullopt;
        }
        if (packet_length(byte) == 0) {
            ++skipped_bytes_;
            return std::nullopt;
        }
    }
    header_[collected_++] = byte;
    switch (judge()) {
    case Verdict::incomplete: return std::nullopt;
    case Verdict::complete: {
        CartridgePacket packet = decode();
        collected_ = 0;
        return packet;
    }
    case Verdict::rejected: reject(); return std::nullopt;
    }
    return std::nullopt;
}

// Looks at the newest byte only: the ones before it have passed already.
CartridgeFramer::Verdict CartridgeFramer::judge() const
{
    const size_t expected = packet_length(header_[0]);
    const size_t index = collected_ - 1;
    const uint8_t byte = header_[index];
    bool fits = true;
    if (index == 1) {
        fits = byte == expected;
    } else if (header_[0] == static_cast<uint8_t>(CartridgeCommand::config_erase) && index >= 2) {
        // The fixed pattern guards the erase against a stray 0x80 in the stream.
        fits = index == 2 ? byte == 0xBE : byte == 0xEF;
    } else if (header_[0] == static_cast<uint8_t>(CartridgeCommand::set_save_type) && index >= 2) {
        fits = index == 2 ? byte <= highest_save_type : byte == 0x00;
    }
    if (!fits)
        return Verdict::rejected;
    return collected_ == expected ? Verdict::complete : Verdict::incomplete;
}

CartridgePacket CartridgeFramer::decode() const
{
    CartridgePacket packet;
    packet.command = static_cast<CartridgeCommand>(header_[0]);
    switch (packet.command) {
    case CartridgeCommand::sdram_write:
    case CartridgeCommand::sdram_read:
    case CartridgeCommand::config_write:
        packet.length = big_endian_32(&header_[2]);
        packet.address = big_endian_32(&header_[6]);
        break;
    case CartridgeCommand::flash_cycle:
    case CartridgeCommand::flash_program:
        packet.address = big_endian_32(&header_[2]);
        packet.data = static_cast<uint16_t>(header_[6] << 8 | header_[7]);
        break;
    case CartridgeCommand::set_save_type: packet.save_type = header_[2]; break;
    case CartridgeCommand::config_erase: break;
    }
    return packet;
}

// Gives up the first byte of a false start and looks at the others again. Only the length
// byte of the long packets is checked, so a rejection comes at the fourth byte at the
// latest: the at most three bytes looked at again never complete a packet.
void CartridgeFramer::reject()
{
    std::array<uint8_t, longest_packet> again{};
    const size_t count = collected_ - 1;
    for (size_t i = 0; i < count; ++i)
        again[i] = header_[i + 1];
    ++skipped_bytes_;
    collected_ = 0;
    for (size_t i = 0; i < count; ++i) {
        [[maybe_unused]] std::optional<CartridgePacket> packet = feed(again[i]);
        assert(!packet);
    }
}

} // namespace corvane::sim
