// Where a virtual chip takes its USB identity from: a valid EEPROM image, else its defaults.
#include "sim_test_helpers.h"

#include <string_view>

namespace corvane::testing {
namespace {

// Image words written the way the EEPROM layouts place them, with the checksum computed
// here rather than by the model.
class ImageWords {
public:
    explicit ImageWords(size_t words) : bytes_(2 * words, 0) {}
    void word(unsigned index, uint16_t value)
    {
        bytes_[2 * index] = static_cast<uint8_t>(value);
        bytes_[2 * index + 1] = static_cast<uint8_t>(value >> 8);
    }
    // A descriptor at `offset`, its pointer in byte `pointer` as `pointer_value`.
    void string(unsigned pointer, uint8_t pointer_value, unsigned offset, std::string_view text)
    {
        bytes_[pointer] = pointer_value;
        bytes_[pointer + 1] = static_cast<uint8_t>(2 + 2 * text.size());
        bytes_[offset] = static_cast<uint8_t>(2 + 2 * text.size());
        bytes_[offset + 1] = 3;
        for (size_t i = 0; i < text.size(); ++i)
            bytes_[offset + 2 + 2 * i] = static_cast<uint8_t>(text[i]);
    }
    void seal(unsigned checksum_word, unsigned skip_first = 1, unsigned skip_last = 0)
    {
        uint16_t sum = 0xAAAA;
        for (unsigned i = 0; i < checksum_word; ++i) {
            if (i >= skip_first && i <= skip_last)
                continue;
            sum ^= static_cast<uint16_t>(bytes_[2 * i] | bytes_[2 * i + 1] << 8);
            sum = static_cast<uint16_t>(sum << 1 | sum >> 15);
        }
        word(checksum_word, sum);
    }
    std::vector<uint16_t> words() const
    {
        std::vector<uint16_t> out(bytes_.size() / 2);
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<uint16_t>(bytes_[2 * i] | bytes_[2 * i + 1] << 8);
        return out;
    }

private:
    std::vector<uint8_t> bytes_;
};

ImageWords ft232r_image(uint16_t product_id)
{
    ImageWords image(64);
    image.word(1, 0x0403);
    image.word(2, product_id);
    image.word(3, 0x0600);
    image.string(14, 0x80 | 24, 24, "Acme");
    image.string(16, 0x80 | 34, 34, "Probe");
    image.string(18, 0x80 | 46, 46, "AC12");
    image.seal(63);
    return image;
}

class Identity : public ::testing::Test {
protected:
    InprocBus fixture{{"ft232r,serial=R1,description=Bench UART", "ft2232h,eeprom=128", "ftx", "ft232h"}};
    std::unique_ptr<usb::Transport> transport = usb::make_inproc_transport(fixture.bus());

    usb::DeviceIdentity listed(size_t index)
    {
        std::vector<usb::DeviceIdentity> devices;
        EXPECT_EQ(transport->list(devices), usb::Status::ok);
        for (const usb::DeviceIdentity &device : devices)
            if (device.id == InprocBus::device_id(index))
                return device;
        ADD_FAILURE() << "device " << index << " not listed";
        return {};
    }
    void replug(size_t index)
    {
        fixture.bus().set_plugged(InprocBus::device_id(index), false);
        fixture.bus().set_plugged(InprocBus::device_id(index), true);
    }
};

TEST_F(Identity, ErasedEepromGivesTheKindsDefaultsWithTheOptionsSerialAndDescription)
{
    usb::DeviceIdentity device = listed(0);
    EXPECT_EQ(device.vendor_id, 0x0403);
    EXPECT_EQ(device.product_id, 0x6001);
    EXPECT_EQ(device.bcd_device, 0x0600);
    EXPECT_EQ(device.product, "Bench UART");
    EXPECT_EQ(device.serial, "R1");
    EXPECT_EQ(device.manufacturer, "Corvane");
    EXPECT_EQ(listed(1).serial, "CV000002");
    EXPECT_EQ(listed(1).product_id, 0x6010);
    EXPECT_EQ(listed(2).product_id, 0x6015);
    EXPECT_EQ(listed(3).product_id, 0x6014);
}

TEST_F(Identity, ValidImageIsReadAtReplugAndNotBefore)
{
    fixture.set_eeprom_words(0, ft232r_image(0x1234).words());
    EXPECT_EQ(listed(0).product_id, 0x6001);
    replug(0);
    usb::DeviceIdentity device = listed(0);
    EXPECT_EQ(device.product_id, 0x1234);
    EXPECT_EQ(device.manufacturer, "Acme");
    EXPECT_EQ(device.product, "Probe");
    EXPECT_EQ(device.serial, "AC12");
}

TEST_F(Identity, ReenumerationReadsTheImageTheHostJustWrote)
{
    auto channel = open_channel(*transport, "0");
    std::vector<uint16_t> words = ft232r_image(0x4321).words();
    for (uint16_t address = 0; address < words.size(); ++address)
        ASSERT_EQ(send_out(*channel, usb::ftdi::write_eeprom, words[address], address), usb::Status::ok);
    ASSERT_EQ(channel->reenumerate(), usb::Status::ok);
    EXPECT_EQ(listed(0).product_id, 0x4321);
}

TEST_F(Identity, BadChecksumOrMissingVendorFallsBackToDefaults)
{
    std::vector<uint16_t> words = ft232r_image(0x1234).words();
    words[63] ^= 1;
    fixture.set_eeprom_words(0, words);
    replug(0);
    EXPECT_EQ(listed(0).product_id, 0x6001);
    EXPECT_EQ(listed(0).serial, "R1");

    for (uint16_t vendor : {uint16_t{0}, uint16_t{0xFFFF}}) {
        ImageWords image = ft232r_image(0x1234);
        image.word(1, vendor);
        image.seal(63);
        fixture.set_eeprom_words(0, image.words());
        replug(0);
        EXPECT_EQ(listed(0).vendor_id, 0x0403) << vendor;
        EXPECT_EQ(listed(0).product, "Bench UART") << vendor;
    }
}

TEST_F(Identity, DescriptorPointingPastTheImageReadsAsEmpty)
{
    ImageWords image = ft232r_image(0x1234);
    image.string(16, 0x80 | 120, 34, "Probe"); // would run over the checksum word
    image.seal(63);
    fixture.set_eeprom_words(0, image.words());
    replug(0);
    EXPECT_EQ(listed(0).product, "");
    EXPECT_EQ(listed(0).serial, "AC12");
}

TEST_F(Identity, LargePartImageKeepsItsStringsInTheUpperHalf)
{
    ImageWords image(128);
    image.word(1, 0x0403);
    image.word(2, 0x6010);
    image.word(12, 0x56);
    image.string(14, 0x9A, 0x9A, "Maker");
    image.string(16, 0xA6, 0xA6, "Dual");
    image.string(18, 0xB0, 0xB0, "D1");
    image.seal(127);
    fixture.set_eeprom_words(1, image.words());
    replug(1);
    usb::DeviceIdentity device = listed(1);
    EXPECT_EQ(device.manufacturer, "Maker");
    EXPECT_EQ(device.product, "Dual");
    EXPECT_EQ(device.serial, "D1");
}

TEST_F(Identity, FtxChecksumPassesOverTheFirstUserStretch)
{
    ImageWords image(1024);
    for (unsigned i = 0; i < 1024; ++i)
        image.word(i, 0xFFFF);
    for (unsigned i = 0; i < 128; ++i)
        if (i < 18 || i >= 64)
            image.word(i, 0);
    image.word(1, 0x0403);
    image.word(2, 0x6015);
    image.string(14, 0xA0, 0xA0, "X");
    image.string(16, 0xA4, 0xA4, "Tiny");
    image.string(18, 0xAE, 0xAE, "X9");
    image.seal(127, 18, 63);
    fixture.set_eeprom_words(2, image.words());
    replug(2);
    EXPECT_EQ(listed(2).product, "Tiny");

    std::vector<uint16_t> words = image.words();
    words[30] = 0x1234; // user words do not count
    fixture.set_eeprom_words(2, words);
    replug(2);
    EXPECT_EQ(listed(2).product, "Tiny");
    words[70] = 0x1234; // the chip's words do
    fixture.set_eeprom_words(2, words);
    replug(2);
    EXPECT_EQ(listed(2).product, "Corvane virtual FT-X");
}

} // namespace
} // namespace corvane::testing
