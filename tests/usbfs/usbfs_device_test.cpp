// The device library over the real libusb, against emulated chips: what a user with a
// chip on a Linux machine gets.
#include "usbfs_fixture.h"

#include "ftdev.h"
#include "wire/ftdi_protocol.h"
#include "usb/transport.h"

#include <gmock/gmock.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

namespace corvane::usbfs {
namespace {

std::vector<FtdevDeviceNode> device_list()
{
    uint32_t count = 0, copied = 0;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FTDEV_OK);
    std::vector<FtdevDeviceNode> nodes(count);
    if (count > 0) {
        EXPECT_EQ(FT_GetDeviceInfoList(nodes.data(), &copied), FTDEV_OK);
    }
    return nodes;
}

// Lists until `count` devices show (libusb learns of a plug or an unplug on its own thread).
bool list_shows(uint32_t count)
{
    for (int attempt = 0; attempt < 500; ++attempt) {
        uint32_t listed = 0;
        if (FT_CreateDeviceInfoList(&listed) == FTDEV_OK && listed == count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::vector<uint8_t> pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

FtdevHandle open_serial(const char *serial)
{
    FtdevHandle handle = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char *>(serial), FTDEV_OPEN_BY_SERIAL_NUMBER, &handle), FTDEV_OK) << serial;
    return handle;
}

// Writes `size` bytes and reads them back through the loopback plug, in pieces that let
// several IN transfers fill while the writes go on.
void loop_back(FtdevHandle handle, size_t size, uint32_t seed)
{
    const std::vector<uint8_t> sent = pattern(size, seed);
    std::vector<uint8_t> received(size);
    auto reader = std::async(std::launch::async, [&] {
        size_t got = 0;
        while (got < size) {
            uint32_t read = 0;
            const uint32_t want = static_cast<uint32_t>(std::min<size_t>(size - got, 100000));
            if (FT_Read(handle, received.data() + got, want, &read) != FTDEV_OK || read == 0)
                return got;
            got += read;
        }
        return got;
    });
    uint32_t written = 0;
    EXPECT_EQ(FT_Write(handle, sent.data(), static_cast<uint32_t>(size), &written), FTDEV_OK);
    EXPECT_EQ(written, size);
    EXPECT_EQ(reader.get(), size);
    EXPECT_TRUE(received == sent) << "the bytes came back changed (status bytes left in?)";
}

// A full-speed chip on port 1 and the two channels of a high-speed one on port 2.
TEST_F(UsbfsTest, ListShowsEachChannelWithItsStringsPlaceAndSpeed)
{
    start_bus({"ft232r,serial=FS0001,description=Full Speed", "ft2232h,serial=HS0002,description=High Speed"});
    const std::vector<FtdevDeviceNode> nodes = device_list();
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].type, uint32_t{FTDEV_DEVICE_232R});
    EXPECT_EQ(nodes[0].id, 0x04036001u);
    EXPECT_STREQ(nodes[0].serial_number, "FS0001");
    EXPECT_STREQ(nodes[0].description, "Full Speed");
    EXPECT_EQ(nodes[0].location_id, 0x111u);
    EXPECT_EQ(nodes[0].flags, 0u);

    EXPECT_EQ(nodes[1].type, uint32_t{FTDEV_DEVICE_2232H});
    EXPECT_EQ(nodes[1].id, 0x04036010u);
    EXPECT_STREQ(nodes[1].serial_number, "HS0002A");
    EXPECT_STREQ(nodes[1].description, "High Speed A");
    EXPECT_EQ(nodes[1].location_id, 0x121u);
    EXPECT_EQ(nodes[1].flags, uint32_t{FTDEV_NODE_HIGH_SPEED});
    EXPECT_STREQ(nodes[2].serial_number, "HS0002B");
    EXPECT_STREQ(nodes[2].description, "High Speed B");
    EXPECT_EQ(nodes[2].location_id, 0x122u);
    // Listing reads strings only: no channel was taken from the serial driver.
    EXPECT_TRUE(bus().driver_bound(0, 0));
    EXPECT_TRUE(bus().driver_bound(1, 1));
}

// Every kind corvane-sim knows, one per port: each channel lists with its type and speed,
// opens on its own interface's endpoints and carries data (channel A of the cartridge
// carries its command stream instead).
TEST_F(UsbfsTest, EveryKindListsAndEachChannelCarriesData)
{
    struct Kind {
        const char *name;
        uint32_t type;
        unsigned channels;
        bool high_speed;
    };
    const Kind kinds[] = {
        {"ft232b", FTDEV_DEVICE_232B, 1, false},  {"ft232r", FTDEV_DEVICE_232R, 1, false},
        {"ft2232", FTDEV_DEVICE_2232, 2, false},  {"ft2232h", FTDEV_DEVICE_2232H, 2, true},
        {"ft4232h", FTDEV_DEVICE_4232H, 4, true}, {"ft232h", FTDEV_DEVICE_232H, 1, true},
        {"ftx", FTDEV_DEVICE_X_SERIES, 1, false}, {"corvane", FTDEV_DEVICE_2232H, 2, true},
    };
    std::vector<std::string> chips;
    for (const Kind &kind : kinds)
        chips.push_back(kind.name);
    start_bus(chips);
    const std::vector<FtdevDeviceNode> nodes = device_list();
    ASSERT_EQ(nodes.size(), 14u);
    size_t index = 0;
    for (size_t port = 0; port < std::size(kinds); ++port) {
        const Kind &kind = kinds[port];
        for (unsigned channel = 1; channel <= kind.channels; ++channel, ++index) {
            SCOPED_TRACE(std::string(kind.name) + " channel " + std::to_string(channel));
            const FtdevDeviceNode &node = nodes[index];
            EXPECT_EQ(node.type, kind.type);
            EXPECT_EQ(node.flags, kind.high_speed ? uint32_t{FTDEV_NODE_HIGH_SPEED} : 0u);
            EXPECT_EQ(node.location_id, (0x10u + port + 1) << 4 | channel);
            if (std::string(kind.name) == "corvane" && channel == 1)
                continue;
            FtdevHandle handle = nullptr;
            ASSERT_EQ(FT_Open(static_cast<uint32_t>(index), &handle), FTDEV_OK);
            EXPECT_FALSE(bus().driver_bound(port, channel - 1));
            EXPECT_EQ(FT_SetTimeouts(handle, 5000, 5000), FTDEV_OK);
            loop_back(handle, 70000 + index, static_cast<uint32_t>(index));
            EXPECT_EQ(FT_Close(handle), FTDEV_OK);
            EXPECT_TRUE(bus().driver_bound(port, channel - 1));
        }
    }
}

// The serial driver is taken from a channel only while it is open; the control requests
// reach the chip model as vendor requests and their answers come back.
TEST_F(UsbfsTest, OpenCloseAndControlRequestsReachTheChip)
{
    start_bus({"ft232r,serial=FS0001", "ft2232h,serial=HS0002"});
    sim::ChipModel &chip = *bus().model().chip(1);
    FtdevHandle handle = open_serial("HS0002A");
    ASSERT_NE(handle, nullptr);
    EXPECT_FALSE(bus().driver_bound(1, 0));
    EXPECT_TRUE(bus().driver_bound(1, 1)) << "channel B was not asked for";
    EXPECT_TRUE(bus().driver_bound(0, 0));

    // A second open of the same interface (another program's, as far as usbfs knows).
    usb::Transport &real = *usb::transports().front();
    ASSERT_EQ(real.name(), "usb");
    std::unique_ptr<usb::Channel> second;
    EXPECT_EQ(real.open("1-2", 1, second), usb::Status::busy);
    EXPECT_TRUE(real.open("1-2", 2, second) == usb::Status::ok);
    EXPECT_FALSE(bus().driver_bound(1, 1));
    second.reset();
    EXPECT_TRUE(bus().driver_bound(1, 1));

    uint8_t latency = 0;
    EXPECT_EQ(FT_SetLatencyTimer(handle, 7), FTDEV_OK);
    EXPECT_EQ(FT_GetLatencyTimer(handle, &latency), FTDEV_OK);
    EXPECT_EQ(latency, 7);
    EXPECT_EQ(chip.channel_settings(1)->latency_ms, 7);

    uint8_t pins = 0;
    EXPECT_EQ(FT_SetBitMode(handle, 0xF0, 0x01), FTDEV_OK);
    EXPECT_EQ(chip.channel_settings(1)->bit_mask, 0xF0);
    EXPECT_EQ(chip.channel_settings(1)->bit_mode, 0x01);
    const uint8_t latch = 0xA0;
    uint32_t written = 0;
    EXPECT_EQ(FT_Write(handle, &latch, 1, &written), FTDEV_OK);
    EXPECT_EQ(FT_GetBitMode(handle, &pins), FTDEV_OK);
    EXPECT_EQ(pins & 0xF0, 0xA0);
    EXPECT_EQ(FT_SetBitMode(handle, 0, 0), FTDEV_OK);

    uint32_t modem = 0;
    ASSERT_TRUE(chip.set_modem_lines(1, usb::ftdi::modem_cts | usb::ftdi::modem_dcd));
    EXPECT_EQ(FT_GetModemStatus(handle, &modem), FTDEV_OK);
    EXPECT_EQ(modem & 0xF0, uint32_t{usb::ftdi::modem_cts | usb::ftdi::modem_dcd});

    EXPECT_EQ(FT_SetBaudRate(handle, 115200), FTDEV_OK);
    const uint32_t fast = chip.channel_settings(1)->baud_divisor;
    EXPECT_EQ(FT_SetBaudRate(handle, 9600), FTDEV_OK);
    EXPECT_NE(chip.channel_settings(1)->baud_divisor, fast);

    uint16_t word = 0;
    EXPECT_EQ(FT_WriteEE(handle, 0x40, 0xBEEF), FTDEV_OK);
    EXPECT_EQ(FT_ReadEE(handle, 0x40, &word), FTDEV_OK);
    EXPECT_EQ(word, 0xBEEF);
    EXPECT_EQ(chip.eeprom_words().at(0x40), 0xBEEF);
    EXPECT_EQ(FT_EraseEE(handle), FTDEV_OK);
    EXPECT_EQ(FT_ReadEE(handle, 0x40, &word), FTDEV_OK);
    EXPECT_EQ(word, 0xFFFF);

    // Bytes held in the chip and in reads in flight are gone after a purge or a reset.
    const std::vector<uint8_t> stale = pattern(1000, 1);
    EXPECT_EQ(FT_Write(handle, stale.data(), 1000, &written), FTDEV_OK);
    EXPECT_EQ(FT_Purge(handle, FTDEV_PURGE_RX | FTDEV_PURGE_TX), FTDEV_OK);
    EXPECT_EQ(FT_SetTimeouts(handle, 100, 1000), FTDEV_OK);
    std::vector<uint8_t> buffer(1000);
    uint32_t read = 99;
    EXPECT_EQ(FT_Read(handle, buffer.data(), 1000, &read), FTDEV_OK);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(FT_ResetDevice(handle), FTDEV_OK);
    // A port reset restarts the chip: its settings go back to their power-on values.
    EXPECT_EQ(FT_ResetPort(handle), FTDEV_OK);
    EXPECT_EQ(chip.channel_settings(1)->latency_ms, usb::ftdi::default_latency_ms);
    loop_back(handle, 5000, 2);

    // Smaller IN transfers than the channel's own: each URB then holds a few packets.
    EXPECT_EQ(FT_SetUSBParameters(handle, 1024, 1024), FTDEV_OK);
    loop_back(handle, 20000, 9);

    EXPECT_EQ(FT_Close(handle), FTDEV_OK);
    EXPECT_TRUE(bus().driver_bound(1, 0)) << "the serial driver was not given back";

    // A cycled port: the handle is done with, the device lists and opens again.
    handle = open_serial("HS0002A");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(FT_CyclePort(handle), FTDEV_OK);
    EXPECT_NE(FT_GetModemStatus(handle, &modem), FTDEV_OK);
    EXPECT_EQ(FT_Close(handle), FTDEV_OK);
    ASSERT_TRUE(list_shows(3));
    handle = open_serial("HS0002A");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(FT_SetTimeouts(handle, 5000, 5000), FTDEV_OK);
    loop_back(handle, 3000, 10);
    EXPECT_EQ(FT_Close(handle), FTDEV_OK);
}

// Data both ways at 512- and 64-byte packets with four IN transfers in flight; a read
// with nothing coming ends at its time-out.
TEST_F(UsbfsTest, LoopbackAtBothPacketSizesAndTimeOuts)
{
    start_bus({"ft232r,serial=FS0001", "ft2232h,serial=HS0002"});
    for (const char *serial : {"FS0001", "HS0002B"}) {
        SCOPED_TRACE(serial);
        FtdevHandle handle = open_serial(serial);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(FT_SetTimeouts(handle, 5000, 5000), FTDEV_OK);
        loop_back(handle, 1, 3);
        loop_back(handle, 62, 4);          // one full-speed packet of data
        loop_back(handle, 510 * 3 + 1, 5); // just past whole high-speed packets
        loop_back(handle, 3 * 1024 * 1024 + 7, 6);

        EXPECT_EQ(FT_SetTimeouts(handle, 150, 150), FTDEV_OK);
        std::vector<uint8_t> buffer(64);
        uint32_t read = 99;
        EXPECT_EQ(FT_Read(handle, buffer.data(), 64, &read), FTDEV_OK);
        EXPECT_EQ(read, 0u);
        EXPECT_EQ(FT_Close(handle), FTDEV_OK);
    }
}

// Unplugged in the middle of a read and of a write: both fail, the handle still closes,
// the device leaves the list, and once plugged back it lists and carries data again.
TEST_F(UsbfsTest, UnplugMidReadAndMidWriteThenPlugBack)
{
    start_bus({"ft232r,serial=FS0001", "ft2232h,serial=HS0002"});
    ASSERT_TRUE(list_shows(3));
    FtdevHandle reading = open_serial("FS0001");
    FtdevHandle writing = open_serial("HS0002A");
    ASSERT_TRUE(reading && writing);
    EXPECT_EQ(FT_SetTimeouts(reading, 20000, 20000), FTDEV_OK);
    EXPECT_EQ(FT_SetTimeouts(writing, 20000, 20000), FTDEV_OK);

    auto read = std::async(std::launch::async, [&] {
        std::vector<uint8_t> buffer(100);
        uint32_t got = 0;
        return FT_Read(reading, buffer.data(), 100, &got);
    });
    // More than the plug, the driver's queue and the reads in flight hold: the write waits.
    const std::vector<uint8_t> flood = pattern(4 * 1024 * 1024, 7);
    uint32_t written = 0;
    auto write = std::async(std::launch::async, [&] {
        return FT_Write(writing, flood.data(), static_cast<uint32_t>(flood.size()), &written);
    });
    while (bus().bytes_out(1) < 1024 * 1024)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    bus().unplug(1);
    // The library reports a write that moved some bytes before it failed by its count.
    write.get();
    EXPECT_LT(written, flood.size());
    EXPECT_NE(FT_Write(writing, flood.data(), 10, &written), FTDEV_OK);
    bus().unplug(0);
    EXPECT_NE(read.get(), FTDEV_OK);

    uint32_t modem = 0;
    EXPECT_NE(FT_GetModemStatus(reading, &modem), FTDEV_OK);
    EXPECT_EQ(FT_Close(reading), FTDEV_OK);
    EXPECT_EQ(FT_Close(writing), FTDEV_OK);
    EXPECT_TRUE(list_shows(0));

    bus().plug(1);
    ASSERT_TRUE(list_shows(2));
    EXPECT_TRUE(bus().driver_bound(1, 0));
    FtdevHandle again = open_serial("HS0002A");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(FT_SetTimeouts(again, 5000, 5000), FTDEV_OK);
    loop_back(again, 100000, 8);
    EXPECT_EQ(FT_Close(again), FTDEV_OK);
}

} // namespace
} // namespace corvane::usbfs
