// The image framework on an in-memory image: checksum, descriptors and their bounds, the
// tail walk, the user area.
#include "eeprom/ft232b.h"
#include "eeprom/image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace corvane::eeprom {
namespace {

class ImageTest : public ::testing::Test {
protected:
    TFtEE232 layout; // no device behind it: only the in-memory operations work

    // Strings placed the way every builder places them, with the empty descriptor and
    // tail word behind the serial.
    void place(const char *manufacturer, const char *description, const char *serial)
    {
        layout.clear_image();
        ASSERT_TRUE(layout.PlaceStrings(ft232b_first_string, manufacturer, description, serial));
        ASSERT_TRUE(layout.AppendEmptyDescriptor());
        layout.SetTailWord(0);
        layout.blank = 0;
    }
};

TEST_F(ImageTest, ChecksumOfAZeroSpanIs5555ForBothSpans)
{
    for (uint32_t span : {126u, 254u}) {
        layout.clear_image();
        layout.checksum_span = span;
        layout.UpdateChecksum();
        EXPECT_EQ(layout.image[span], 0x55) << span;
        EXPECT_EQ(layout.image[span + 1], 0x55) << span;
        EXPECT_EQ(layout.checksum, 0x5555);
    }
}

TEST_F(ImageTest, ChecksumRotatesAfterEachWord)
{
    layout.clear_image();
    layout.checksum_span = 4;
    layout.set_word_at(0, 0x0001);
    layout.set_word_at(1, 0x8000);
    layout.UpdateChecksum();
    // 0xAAAA ^ 1 = 0xAAAB -> 0x5557; ^ 0x8000 = 0xD557 -> 0xAAAF
    EXPECT_EQ(layout.checksum, 0xAAAF);
    EXPECT_EQ(layout.word_at(2), 0xAAAF);
}

TEST_F(ImageTest, MaxPowerIsClampedAndHalved)
{
    const struct {
        int milliamps;
        uint8_t stored;
    } cases[] = {{600, 250}, {500, 250}, {91, 45}, {0, 0}, {-5, 0}};
    for (const auto &c : cases) {
        layout.SetMaxPower(c.milliamps);
        EXPECT_EQ(layout.image[9], c.stored) << c.milliamps;
    }
}

TEST_F(ImageTest, StringToDescriptorWritesLowBytesAndZeroHighBytes)
{
    layout.clear_image();
    ASSERT_TRUE(layout.StringToDescriptor(40, "abc"));
    const uint8_t expected[] = {0x08, 0x03, 0x61, 0x00, 0x62, 0x00, 0x63, 0x00};
    EXPECT_EQ(0, std::memcmp(layout.image + 40, expected, sizeof expected));

    // Latin-1 characters keep their byte as the low byte and read back unchanged.
    ASSERT_TRUE(layout.StringToDescriptor(60, "\xE9t\xE9"));
    EXPECT_EQ(layout.image[62], 0xE9);
    EXPECT_EQ(layout.image[63], 0x00);
    char text[text_buffer_size];
    layout.DescriptorToString(text, 60);
    EXPECT_STREQ(text, "\xE9t\xE9");
}

TEST_F(ImageTest, StringToDescriptorNeverWritesPastTheImage)
{
    layout.clear_image();
    EXPECT_FALSE(layout.StringToDescriptor(image_size - 4, "abc"));
    EXPECT_TRUE(layout.StringToDescriptor(image_size - 8, "abc"));
    EXPECT_FALSE(layout.StringToDescriptor(-2, "a"));
    const std::string too_long(max_descriptor_chars + 1, 'x');
    EXPECT_FALSE(layout.StringToDescriptor(0, too_long.c_str()));
}

// Length bytes as a corrupted image may hold them: the text stays within the image and
// within a 64-byte buffer.
TEST_F(ImageTest, DescriptorToStringStaysInsideImageAndBuffer)
{
    const struct {
        uint8_t length;
        int offset;
        size_t expected_chars;
    } cases[] = {
        {0, 20, 0},
        {1, 20, 0},
        {2, 20, 0},
        {4, 20, 1},
        {0xFF, 20, 63},             // bit 7 set: cut to the buffer
        {0xFE, image_size - 10, 4}, // cut to the image
        {0x08, image_size - 2, 0},
    };
    for (const auto &c : cases) {
        std::memset(layout.image, 'z', sizeof layout.image);
        layout.image[c.offset] = c.length;
        char text[text_buffer_size + 8];
        std::memset(text, '#', sizeof text);
        layout.DescriptorToString(text, c.offset);
        EXPECT_EQ(std::strlen(text), c.expected_chars) << int(c.length) << "@" << c.offset;
        EXPECT_EQ(text[text_buffer_size], '#');
    }
}

// Texts of 127 characters and more would wrap the 8-bit length byte: the fit check counts
// their full length and refuses them.
TEST_F(ImageTest, StringsThatDoNotFitAreRefusedWithoutChange)
{
    const std::string wraps(127, 'w');
    layout.clear_image();
    EXPECT_FALSE(TFtE2Data::StringsFit(ft232b_first_string, wraps.c_str(), "", ""));
    EXPECT_FALSE(layout.PlaceStrings(ft232b_first_string, wraps.c_str(), "", ""));
    for (uint8_t byte : layout.image)
        ASSERT_EQ(byte, 0);

    // 20 + 6 + 12 + 84 = 122: the serial may end exactly at byte 122.
    EXPECT_TRUE(TFtE2Data::StringsFit(ft232b_first_string, "AB", "Cable", std::string(41, 's').c_str()));
    EXPECT_FALSE(TFtE2Data::StringsFit(ft232b_first_string, "AB", "Cable", std::string(42, 's').c_str()));
}

TEST_F(ImageTest, AppendDescriptorFailsBehindASerialEndingAt123)
{
    layout.clear_image();
    layout.serial_offset = 103;
    layout.image[103] = 20; // ends at 123
    const uint8_t empty[2] = {2, 3};
    EXPECT_FALSE(layout.AppendDescriptor(empty));
    EXPECT_EQ(layout.image[123], 0);
    layout.image[103] = 19; // ends at 122
    EXPECT_TRUE(layout.AppendDescriptor(empty));
    EXPECT_EQ(layout.image[122], 2);
}

TEST_F(ImageTest, UserAreaTakesExactlyItsSize)
{
    place("AB", "Cable", "AB123456");
    uint8_t data[67];
    for (size_t i = 0; i < sizeof data; ++i)
        data[i] = static_cast<uint8_t>(i + 1);
    uint8_t before[image_size];
    std::memcpy(before, layout.image, sizeof before);
    EXPECT_FALSE(layout.WriteUserArea(data, 67));
    EXPECT_EQ(0, std::memcmp(before, layout.image, sizeof before));

    EXPECT_TRUE(layout.WriteUserArea(data, 66));
    EXPECT_EQ(0, std::memcmp(layout.image + 60, data, 66));
    const uint16_t stored = layout.word_at(63);
    layout.UpdateChecksum();
    EXPECT_EQ(layout.word_at(63), stored) << "the write updates the checksum";

    uint8_t back[100] = {};
    uint32_t got = 0;
    layout.ReadUserArea(back, sizeof back, got);
    EXPECT_EQ(got, 66u);
    EXPECT_EQ(0, std::memcmp(back, data, 66));
}

TEST_F(ImageTest, BlankImageHasNoTextsAndNoUserArea)
{
    std::memset(layout.image, 0xFF, sizeof layout.image);
    layout.blank = 1;
    layout.manufacturer_offset = layout.image[14] & 0x7F;
    layout.description_offset = layout.image[16] & 0x7F;
    layout.serial_offset = layout.image[18] & 0x7F;
    char text[text_buffer_size] = "x";
    layout.GetSerialNumber(text);
    EXPECT_STREQ(text, "");
    layout.GetManufacturerId(text);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(layout.UserAreaStart(), 0);
    EXPECT_EQ(layout.UserAreaSize(), 0);
    EXPECT_FALSE(layout.WriteUserArea(reinterpret_cast<const uint8_t *>("x"), 1));
}

// Length bytes read as signed steps: a corrupted image can send the tail walk backwards
// into the header or out of the image. Neither the user area nor the tail word may
// follow it there.
TEST_F(ImageTest, CorruptedLengthBytesNeverMoveTheUserAreaOutsideTheStrings)
{
    const struct {
        int serial_offset;
        uint8_t serial_length;
        uint8_t next_length;
    } cases[] = {{30, 0x80, 0x80}, {10, 0x02, 0x02}, {127, 0x7F, 0x7F}, {120, 0x7F, 0x02}, {40, 0xF0, 0x02}};
    for (const auto &c : cases) {
        layout.clear_image();
        layout.serial_offset = c.serial_offset;
        layout.image[c.serial_offset] = c.serial_length;
        const int next = c.serial_offset + static_cast<int8_t>(c.serial_length);
        if (next >= 0 && next < image_size)
            layout.image[next] = c.next_length;
        const int start = layout.UserAreaStart();
        const int size = layout.UserAreaSize();
        if (start != 0) {
            EXPECT_GE(start * 2, 20);
            EXPECT_LE((start + size) * 2, 126);
        }
        layout.SetTailWord(0xBEEF);
        EXPECT_EQ(layout.word_at(1), 0) << "the header is untouched";
        EXPECT_EQ(layout.word_at(7), 0);
    }
}

} // namespace
} // namespace corvane::eeprom
