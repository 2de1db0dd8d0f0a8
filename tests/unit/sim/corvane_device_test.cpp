// The corvane device: its EEPROM image as delivered, and the cartridge behind channel A.
#include "sim_test_helpers.h"

#include <fstream>
#include <string_view>

namespace corvane::testing {
namespace {

uint8_t byte_at(const std::vector<uint16_t> &words, unsigned offset)
{
    return static_cast<uint8_t>(offset % 2 ? words[offset / 2] >> 8 : words[offset / 2]);
}

// Checks a USB string descriptor at `offset` of the image.
void expect_descriptor(const std::vector<uint16_t> &words, unsigned offset, std::string_view text)
{
    ASSERT_EQ(byte_at(words, offset), 2 + 2 * text.size()) << text;
    EXPECT_EQ(byte_at(words, offset + 1), 0x03) << text;
    for (size_t i = 0; i < text.size(); ++i) {
        EXPECT_EQ(byte_at(words, offset + 2 + 2 * i), static_cast<uint8_t>(text[i])) << text << i;
        EXPECT_EQ(byte_at(words, offset + 3 + 2 * i), 0) << text << i;
    }
}

uint16_t checksum_over(const std::vector<uint16_t> &words, unsigned checksum_word)
{
    uint16_t sum = 0xAAAA;
    for (unsigned i = 0; i < checksum_word; ++i) {
        sum ^= words[i];
        sum = static_cast<uint16_t>(sum << 1 | sum >> 15);
    }
    return sum;
}

// Field by field against the two-channel high-speed layout: words 0 to 12, the string
// pointers, the descriptors (moved to the upper half on a large part), the empty
// descriptor and tail word, and the checksum.
void expect_default_image(const std::vector<uint16_t> &words, unsigned part_words, std::string_view serial)
{
    const bool large = part_words >= 128;
    ASSERT_EQ(words.size(), part_words);
    EXPECT_EQ(words[0], 0x0000);
    EXPECT_EQ(words[1], 0x0403);
    EXPECT_EQ(words[2], 0x6010);
    EXPECT_EQ(words[3], 0x0700);
    EXPECT_TRUE(byte_at(words, 8) & 0x80);
    EXPECT_EQ(byte_at(words, 8) & 0x1F, 0);
    EXPECT_LE(byte_at(words, 9), 250);
    EXPECT_EQ(words[5] & ~0x000C, 0);
    EXPECT_EQ(words[10], 0);
    EXPECT_EQ(words[11], 0);
    EXPECT_EQ(words[12], part_words == 256 ? 0x66 : large ? 0x56 : 0x46);

    const unsigned shift = large ? 0x80 : 0;
    const std::string_view texts[] = {"Corvane", "Corvane USB device", serial};
    unsigned offset = 0x1A;
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(byte_at(words, 14 + 2 * i), 0x80 | offset) << i;
        EXPECT_EQ(byte_at(words, 15 + 2 * i), 2 + 2 * texts[i].size()) << i;
        expect_descriptor(words, offset + shift, texts[i]);
        offset += static_cast<unsigned>(2 + 2 * texts[i].size());
    }
    EXPECT_EQ(byte_at(words, offset + shift), 0x02);
    EXPECT_EQ(byte_at(words, offset + shift + 1), 0x03);
    EXPECT_EQ(words[(offset + shift + 2) / 2], 0x0000);
    if (large) {
        for (unsigned at = 0x1A; at < 0x9A; ++at)
            EXPECT_EQ(byte_at(words, at), 0) << at;
    }
    const unsigned checksum_word = large ? 127 : 63;
    EXPECT_EQ(words[checksum_word], checksum_over(words, checksum_word));
    for (unsigned i = 128; i < part_words; ++i)
        EXPECT_EQ(words[i], 0xFFFF) << i;
}

class CorvaneDevice : public ::testing::Test {
protected:
    InprocBus fixture{{"corvane", "corvane,serial=SMALL,eeprom=64", "corvane,serial=BIG,eeprom=256"}};
    std::unique_ptr<usb::Transport> transport = usb::make_inproc_transport(fixture.bus());
};

TEST_F(CorvaneDevice, DefaultEepromFollowsTheTwoChannelHighSpeedLayout)
{
    expect_default_image(fixture.eeprom_words(0), 128, "CV000001");
    expect_default_image(fixture.eeprom_words(1), 64, "SMALL");
    expect_default_image(fixture.eeprom_words(2), 256, "BIG");
}

TEST_F(CorvaneDevice, ListsAsTheTwoChannelDeviceItsEepromNames)
{
    std::vector<usb::DeviceIdentity> devices;
    ASSERT_EQ(transport->list(devices), usb::Status::ok);
    ASSERT_EQ(devices.size(), 3u);
    for (const usb::DeviceIdentity &device : devices) {
        EXPECT_EQ(device.product, "Corvane USB device");
        EXPECT_EQ(device.manufacturer, "Corvane");
        EXPECT_EQ(device.bcd_device, 0x0700);
        EXPECT_EQ(device.channels, 2);
        EXPECT_EQ(device.packet_size, 512);
    }
    EXPECT_EQ(devices[0].serial, "CV000001");
    EXPECT_EQ(devices[1].serial, "SMALL");
}

TEST_F(CorvaneDevice, ChannelAFeedsTheCartridgeAndChannelBLoopsBack)
{
    auto a = open_channel(*transport, "0", 1);
    auto b = open_channel(*transport, "0", 2);
    const uint8_t stray[] = {0x00, 0x00, 0x00};
    size_t sent = 0, got = 0;
    ASSERT_EQ(a->bulk_out(stray, 3, 100, &sent), usb::Status::ok);
    ASSERT_EQ(b->bulk_out(stray, 3, 100, &sent), usb::Status::ok);
    std::vector<uint8_t> buffer(512);
    ASSERT_EQ(a->bulk_in(buffer.data(), buffer.size(), 100, &got), usb::Status::ok);
    EXPECT_EQ(got, 2u); // the cartridge answers no stray bytes
    ASSERT_EQ(b->bulk_in(buffer.data(), buffer.size(), 100, &got), usb::Status::ok);
    EXPECT_EQ(got, 5u);
}

std::vector<uint8_t> transfer_header(uint8_t command, uint32_t words, uint32_t word_address)
{
    std::vector<uint8_t> header{command, 0x0A};
    for (uint32_t value : {words, word_address})
        for (int shift = 24; shift >= 0; shift -= 8)
            header.push_back(static_cast<uint8_t>(value >> shift));
    return header;
}

// Reads until `count` data bytes came, without the status bytes of the 512-byte packets.
std::vector<uint8_t> read_data(usb::Channel &channel, size_t count)
{
    std::vector<uint8_t> data, buffer(4096);
    while (data.size() < count) {
        size_t got = 0;
        if (channel.bulk_in(buffer.data(), buffer.size(), 1000, &got) != usb::Status::ok)
            break;
        for (size_t at = 0; at < got; at += 512)
            data.insert(data.end(), buffer.begin() + at + 2, buffer.begin() + std::min(got, at + 512));
    }
    return data;
}

// While the cartridge owes a read answer it takes no command; the chip's 4 KiB buffer
// holds what the host writes meanwhile, so a small header completes at once (no time-out
// allowed) and runs once the answer has been read. Past the buffer's bound a write waits.
TEST_F(CorvaneDevice, ChipHoldsCommandsWhileTheCartridgeAnswersAndPassesThemOnAfter)
{
    auto a = open_channel(*transport, "0", 1);
    std::vector<uint8_t> memory(2048);
    for (size_t i = 0; i < memory.size(); ++i)
        memory[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    std::vector<uint8_t> load = transfer_header(0x10, 1024, 0);
    load.insert(load.end(), memory.begin(), memory.end());
    size_t sent = 0;
    ASSERT_EQ(a->bulk_out(load.data(), load.size(), 1000, &sent), usb::Status::ok);

    const std::vector<uint8_t> first = transfer_header(0x20, 1000, 0);
    ASSERT_EQ(a->bulk_out(first.data(), first.size(), 1000, &sent), usb::Status::ok);
    const std::vector<uint8_t> second = transfer_header(0x20, 4, 0x200);
    ASSERT_EQ(a->bulk_out(second.data(), second.size(), 0, &sent), usb::Status::ok);
    EXPECT_EQ(sent, second.size());
    const std::vector<uint8_t> padding(5000, 0);
    EXPECT_EQ(a->bulk_out(padding.data(), padding.size(), 0, &sent), usb::Status::timeout);
    EXPECT_EQ(sent, 4096 - second.size());

    std::vector<uint8_t> expected(memory.begin(), memory.begin() + 2000);
    expected.insert(expected.end(), memory.begin() + 0x400, memory.begin() + 0x408);
    EXPECT_EQ(read_data(*a, expected.size()), expected);
    // The answers read out, the rest of the padding finds room.
    EXPECT_EQ(a->bulk_out(padding.data() + sent, padding.size() - sent, 1000, &sent), usb::Status::ok);

    // A purge drops what the chip holds with the owed answer.
    ASSERT_EQ(a->bulk_out(first.data(), first.size(), 1000, &sent), usb::Status::ok);
    ASSERT_EQ(a->bulk_out(second.data(), second.size(), 0, &sent), usb::Status::ok);
    ASSERT_EQ(send_out(*a, usb::ftdi::reset_purge, usb::ftdi::purge_tx, 1), usb::Status::ok);
    const std::vector<uint8_t> third = transfer_header(0x20, 2, 0x10);
    ASSERT_EQ(a->bulk_out(third.data(), third.size(), 0, &sent), usb::Status::ok);
    EXPECT_EQ(read_data(*a, 4), std::vector<uint8_t>(memory.begin() + 0x20, memory.begin() + 0x24));
}

TEST(CorvaneDescription, DescriptionOptionNamesTheDeliveredImage)
{
    InprocBus fixture{{"corvane,description=Bench cart"}};
    std::vector<usb::DeviceIdentity> devices = fixture.bus().list();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].product, "Bench cart");
}

TEST(CorvaneDescription, StringsTooLongForTheSmallPartAreRefused)
{
    EXPECT_THROW(InprocBus({"corvane,eeprom=64,serial=ABCDEFGHIJKLMN,description="
                            "A description of sixty-one characters to overflow the area"}),
                 std::runtime_error);
}

} // namespace
} // namespace corvane::testing
