// The --chip descriptions and the checks of the bus they build.
#include "sim_test_helpers.h"

#include "sim/virtual_bus.h"

namespace corvane::testing {
namespace {

TEST(ChipDescription, ReadsEveryKeyIntoTheDescription)
{
    std::string error;
    auto description = sim::parse_chip_description(
        "ft2232,serial=Ab-9_z,description=Two ports,location=0x1230,eeprom=256,alt=1,fifo=12.5", error);
    ASSERT_TRUE(description) << error;
    EXPECT_EQ(description->kind, sim::ChipKind::ft2232);
    EXPECT_EQ(description->serial, "Ab-9_z");
    EXPECT_EQ(description->description, "Two ports");
    EXPECT_EQ(description->location, 0x1230u);
    EXPECT_EQ(description->eeprom_words, 256u);
    EXPECT_TRUE(description->alternate_codes_only);
    EXPECT_EQ(description->fifo_mbps, 12.5);
    EXPECT_FALSE(description->usb_timing);

    description = sim::parse_chip_description("ftx", error);
    ASSERT_TRUE(description);
    EXPECT_EQ(description->kind, sim::ChipKind::ftx);
    EXPECT_TRUE(description->serial.empty());
    EXPECT_FALSE(description->location);
    EXPECT_FALSE(description->eeprom_words);
    EXPECT_FALSE(description->fifo_mbps);

    description = sim::parse_chip_description("corvane,fifo=none", error);
    ASSERT_TRUE(description) << error;
    EXPECT_EQ(description->fifo_mbps, 0.0);
}

TEST(ChipDescription, RefusesMalformedDescriptionsWithAReason)
{
    struct Case {
        const char *text;
        const char *reason;
    };
    const Case cases[] = {
        {"", "unknown chip kind"},
        {"FT232R", "unknown chip kind"},
        {"ft232x", "unknown chip kind"},
        {"ft232r,", "key=value"},
        {"ft232r,serial", "key=value"},
        {"ft232r,=x", "key=value"},
        {"ft232r,colour=red", "unknown key"},
        {"ft232r,serial=A,serial=B", "given twice"},
        {"ft232r,serial=", "serial"},
        {"ft232r,serial=a/b", "serial"},
        {"ft232r,serial=a.b", "serial"},
        {"ft232r,serial=ABCDEFGHIJKLMNO", "serial"},
        {"ft232r,description=", "description"},
        {"ft232r,location=12G0", "location"},
        {"ft232r,location=0x1231", "low hexadecimal digit"},
        {"ft232r,location=0", "location"},
        {"ft232r,location=123456780", "location"},
        {"ft232r,eeprom=64", "inside the chip"},
        {"ftx,eeprom=0", "inside the chip"},
        {"ft232b,eeprom=32", "64, 128 or 256"},
        {"ft232b,eeprom=sixty", "64, 128 or 256"},
        {"ft232b,alt=yes", "alt"},
        {"corvane,fifo=0", "fifo"},
        {"corvane,fifo=-8", "fifo"},
        {"corvane,fifo=8MB", "fifo"},
        {"corvane,fifo=1001", "fifo"},
        {"corvane,fifo=", "fifo"},
    };
    for (const Case &c : cases) {
        std::string error;
        EXPECT_FALSE(sim::parse_chip_description(c.text, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << ": " << error;
    }
}

TEST(ChipDescription, BusRefusesTwoChipsWithOneSerialOrOneLocation)
{
    EXPECT_THROW(InprocBus({"ft232r,serial=SAME", "ft232b,serial=SAME"}), std::runtime_error);
    // The second chip's default serial is CV000002.
    EXPECT_THROW(InprocBus({"ft232r,serial=CV000002", "ft232b"}), std::runtime_error);
    EXPECT_THROW(InprocBus({"ft232r", "ft232b,location=9010"}), std::runtime_error);
    InprocBus fine({"ft232r,location=9020", "ft232b,location=9010"});
    EXPECT_EQ(fine.bus().list().size(), 2u);
}

} // namespace
} // namespace corvane::testing
