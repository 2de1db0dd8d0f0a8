// Shared pieces of the chip model tests: a channel opened through the in-process
// transport and short forms of the vendor requests.
#ifndef CORVANE_TESTS_UNIT_SIM_SIM_TEST_HELPERS_H
#define CORVANE_TESTS_UNIT_SIM_SIM_TEST_HELPERS_H

#include "support/inproc_bus.h"
#include "wire/ftdi_protocol.h"
#include "usb/vbus/inproc.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace corvane::testing {

inline std::unique_ptr<usb::Channel> open_channel(usb::Transport &transport, const std::string &id,
                                                  unsigned channel = 1)
{
    std::unique_ptr<usb::Channel> out;
    EXPECT_EQ(transport.open(id, channel, out), usb::Status::ok);
    return out;
}

inline usb::Status send_out(usb::Channel &channel, uint8_t request, uint16_t value, uint16_t index)
{
    usb::ControlSetup setup{usb::ftdi::request_out, request, value, index, 0};
    uint16_t transferred = 0;
    return channel.control(setup, nullptr, 100, &transferred);
}

inline usb::Status read_in(usb::Channel &channel, uint8_t request, uint16_t index, std::vector<uint8_t> &reply,
                           uint16_t length)
{
    reply.assign(length, 0xEE);
    usb::ControlSetup setup{usb::ftdi::request_in, request, 0, index, length};
    uint16_t transferred = 0;
    usb::Status status = channel.control(setup, reply.data(), 100, &transferred);
    reply.resize(transferred);
    return status;
}

inline uint16_t read_word(usb::Channel &channel, uint16_t address)
{
    std::vector<uint8_t> reply;
    EXPECT_EQ(read_in(channel, usb::ftdi::read_eeprom, address, reply, 2), usb::Status::ok);
    return reply.size() == 2 ? static_cast<uint16_t>(reply[0] | reply[1] << 8) : 0;
}

inline std::vector<uint8_t> bytes(size_t count, uint8_t first = 0)
{
    std::vector<uint8_t> out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(first + i);
    return out;
}

} // namespace corvane::testing

#endif // CORVANE_TESTS_UNIT_SIM_SIM_TEST_HELPERS_H
