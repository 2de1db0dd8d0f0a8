// The FT232B-family layout and the programming interface on a virtual FT232B.
#include "eeprom_bus_fixture.h"

#include "wire/ftdi_protocol.h"

#include <algorithm>

namespace corvane::eeprom::testing {
namespace {

class Ft232bDevice : public EepromBusTest {
protected:
    void SetUp() override { open_bus({"ft232b,eeprom=64"}); }

    static Record cable_record()
    {
        Record record = cable_record_of(0x6001, 90);
        ProgramData &f = record.data;
        f.remote_wakeup = 1;
        f.release_0400 = 1;
        f.option_bit2 = 1;
        f.usb_version = 0x0200;
        return record;
    }
};

TEST_F(Ft232bDevice, ProgramWritesTheTableImage)
{
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    EXPECT_EQ(read_back(64), golden_image("ft232b-ab-cable.bin"));

    uint32_t size = 0;
    ASSERT_EQ(FT_EE_UASize(handle, &size), FTDEV_OK);
    EXPECT_EQ(size, 66u);
}

// Programming erases the part first: the erase reaches the chip, not only the writes.
TEST_F(Ft232bDevice, ProgramErasesThePartBeforeWriting)
{
    bus->clear_control_log(0);
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    const auto log = bus->control_log(0);
    const auto erase = std::find_if(log.begin(), log.end(), [](const corvane::testing::RecordedControl &request) {
        return request.setup.request == usb::ftdi::erase_eeprom;
    });
    ASSERT_NE(erase, log.end());
    const auto first_write = std::find_if(log.begin(), log.end(), [](const corvane::testing::RecordedControl &request) {
        return request.setup.request == usb::ftdi::write_eeprom;
    });
    EXPECT_LT(erase - log.begin(), first_write - log.begin());
}

TEST_F(Ft232bDevice, ReadGivesBackWhatWasProgrammed)
{
    Record written = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &written.data), FTDEV_OK);

    Record read;
    std::memset(&read.data.max_power, 0x5A, sizeof read.data - offsetof(ProgramData, max_power));
    ASSERT_EQ(FT_EE_Read(handle, &read.data), FTDEV_OK);
    const ProgramData &f = read.data;
    EXPECT_EQ(f.vendor_id, 0x0403);
    EXPECT_EQ(f.product_id, 0x6001);
    EXPECT_STREQ(read.manufacturer, "AB");
    EXPECT_STREQ(read.manufacturer_id, "AB");
    EXPECT_STREQ(read.description, "Cable");
    EXPECT_STREQ(read.serial, "AB123456");
    EXPECT_EQ(f.max_power, 90);
    EXPECT_EQ(f.tail_flag, 0);
    EXPECT_EQ(f.self_powered, 0);
    EXPECT_EQ(f.remote_wakeup, 1);
    EXPECT_EQ(f.release_0400, 1);
    EXPECT_EQ(f.option_bit2, 1);
    EXPECT_EQ(f.option_bit0 | f.option_bit1 | f.option_bit3 | f.option_bit4, 0);
    EXPECT_EQ(f.usb_version, 0x0200);
    EXPECT_EQ(f.dual_release_0500, 0);
    EXPECT_EQ(f.dual_usb_version, 0);
    EXPECT_EQ(f.dual_w0_bit11, 0);
}

// An older image (release 0x0200) keeps no meaning in option bits 0, 1, 3, 4 nor in word 6.
TEST_F(Ft232bDevice, OlderReleaseReadsOnlyOptionBit2)
{
    Record written = cable_record();
    written.data.release_0400 = 0;
    written.data.option_bit0 = written.data.option_bit3 = 1;
    ASSERT_EQ(FT_EE_Program(handle, &written.data), FTDEV_OK);
    EXPECT_EQ(part_words()[3], 0x0200);
    EXPECT_EQ(part_words()[5] & 0xFF, 0x0D);

    Record read;
    ASSERT_EQ(FT_EE_Read(handle, &read.data), FTDEV_OK);
    EXPECT_EQ(read.data.release_0400, 0);
    EXPECT_EQ(read.data.option_bit0, 0);
    EXPECT_EQ(read.data.option_bit3, 0);
    EXPECT_EQ(read.data.option_bit2, 1);
    EXPECT_EQ(read.data.usb_version, 0x0110);
}

// An older caller's unsigned record ends with the FT232B block: a heap block of exactly
// that size lets AddressSanitizer catch any access past it.
TEST_F(Ft232bDevice, UnsignedRecordRoundTripsItsOwnBytesOnly)
{
    constexpr size_t short_record = offsetof(ProgramDataUnsigned, usb_version) + sizeof(uint16_t);
    auto block = std::make_unique<std::max_align_t[]>(short_record / sizeof(std::max_align_t) + 1);
    std::memset(block.get(), 0, short_record);
    auto &caller = *reinterpret_cast<ProgramDataUnsigned *>(block.get());
    char m[64] = "AB", id[64] = "AB", d[64] = "Cable", s[64] = "AB123456";
    caller.vendor_id = 0x0403;
    caller.product_id = 0x6001;
    caller.manufacturer = m;
    caller.manufacturer_id = id;
    caller.description = d;
    caller.serial_number = s;
    caller.max_power = 90;
    caller.remote_wakeup = 1;
    caller.release_0400 = 1;
    caller.option_bit2 = 1;
    caller.usb_version = 0x0200;
    ASSERT_EQ(FT_EE_Program(handle, reinterpret_cast<ProgramData *>(&caller)), FTDEV_OK);
    EXPECT_EQ(read_back(64), golden_image("ft232b-ab-cable.bin"));

    char rm[64], rid[64], rd[64], rs[64];
    std::memset(block.get(), 0x77, short_record);
    caller.vendor_id = 1; // not the signatures
    caller.manufacturer = rm;
    caller.manufacturer_id = rid;
    caller.description = rd;
    caller.serial_number = rs;
    ASSERT_EQ(FT_EE_Read(handle, reinterpret_cast<ProgramData *>(&caller)), FTDEV_OK);
    EXPECT_EQ(caller.vendor_id, 0x0403);
    EXPECT_EQ(caller.max_power, 90);
    EXPECT_EQ(caller.usb_version, 0x0200);
    EXPECT_EQ(caller.manufacturer, rm);
    EXPECT_STREQ(rs, "AB123456");
}

TEST_F(Ft232bDevice, ExVariantsPutTheTextsWhereTheRecordFormKeepsThem)
{
    char m[] = "AB", id[] = "AB", d[] = "Cable", s[] = "AB123456";
    ProgramDataUnsigned caller{};
    caller.vendor_id = 0x0403;
    caller.product_id = 0x6001;
    caller.max_power = 90;
    caller.remote_wakeup = 1;
    caller.release_0400 = 1;
    caller.option_bit2 = 1;
    caller.usb_version = 0x0200;
    ASSERT_EQ(FT_EE_ProgramEx(handle, reinterpret_cast<ProgramData *>(&caller), m, id, d, s), FTDEV_OK);
    EXPECT_EQ(caller.description, d);
    EXPECT_EQ(caller.max_power, 90) << "the texts did not land on other fields";
    EXPECT_EQ(read_back(64), golden_image("ft232b-ab-cable.bin"));

    Record read;
    char rm[64], rid[64], rd[64], rs[64];
    ASSERT_EQ(FT_EE_ReadEx(handle, &read.data, rm, rid, rd, rs), FTDEV_OK);
    EXPECT_STREQ(rd, "Cable");
    EXPECT_STREQ(rid, "AB");
}

TEST_F(Ft232bDevice, AutomaticSerialFromManufacturerIdAndClock)
{
    FixedClock clock;
    Record record = cable_record();
    record.serial[0] = '\0';
    record.data.product_id = 0x6000; // seed 0
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    Record read;
    ASSERT_EQ(FT_EE_Read(handle, &read.data), FTDEV_OK);
    EXPECT_STREQ(read.serial, "AB13ZS3K");

    record.data.serial_number = nullptr;
    std::strcpy(record.manufacturer_id, "Q");
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    ASSERT_EQ(FT_EE_Read(handle, &read.data), FTDEV_OK);
    EXPECT_STREQ(read.serial, "Q13ZS3K");
}

// Every refusal happens before the device is touched: the part keeps its words.
TEST_F(Ft232bDevice, RefusedRecordsLeaveTheEepromAsItWas)
{
    Record good = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &good.data), FTDEV_OK);
    const auto before = part_words();

    const std::string long_text(42, 'x'); // 20 + 6 + 12 + 86 = 124: two bytes too many
    const std::string wrapping_text(127, 'w');
    const struct {
        const char *name;
        void (*change)(Record &, const std::string &, const std::string &);
        FtdevStatus expected;
    } cases[] = {
        {"vendor id 0", [](Record &r, auto &, auto &) { r.data.vendor_id = 0; }, FTDEV_INVALID_PARAMETER},
        {"product id 0", [](Record &r, auto &, auto &) { r.data.product_id = 0; }, FTDEV_INVALID_PARAMETER},
        {"no manufacturer", [](Record &r, auto &, auto &) { r.data.manufacturer = nullptr; }, FTDEV_INVALID_PARAMETER},
        {"no manufacturer id", [](Record &r, auto &, auto &) { r.data.manufacturer_id = nullptr; },
         FTDEV_INVALID_PARAMETER},
        {"no description", [](Record &r, auto &, auto &) { r.data.description = nullptr; }, FTDEV_INVALID_PARAMETER},
        {"serial one past the area",
         [](Record &r, auto &l, auto &) { r.data.serial_number = const_cast<char *>(l.c_str()); }, FTDEV_OTHER_ERROR},
        {"description wrapping the length byte",
         [](Record &r, auto &, auto &w) { r.data.description = const_cast<char *>(w.c_str()); }, FTDEV_OTHER_ERROR},
    };
    for (const auto &c : cases) {
        Record record = cable_record();
        record.set_texts("XY", "XY", "Cable", "XY000001");
        c.change(record, long_text, wrapping_text);
        EXPECT_EQ(FT_EE_Program(handle, &record.data), c.expected) << c.name;
        EXPECT_EQ(part_words(), before) << c.name;
    }
    EXPECT_EQ(FT_EE_ProgramEx(handle, nullptr, nullptr, nullptr, nullptr, nullptr), FTDEV_INVALID_ARGS);
    EXPECT_EQ(FT_EE_ReadEx(handle, nullptr, nullptr, nullptr, nullptr, nullptr), FTDEV_INVALID_ARGS);
    EXPECT_EQ(FT_EE_Program(handle, nullptr), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(part_words(), before);
}

TEST_F(Ft232bDevice, ClosedHandleIsRefusedByEveryFunction)
{
    FtdevHandle closed = handle;
    ASSERT_EQ(FT_Close(handle), FTDEV_OK);
    handle = nullptr;
    Record record = cable_record();
    uint32_t size = 0;
    uint8_t bytes[4] = {};
    Settings232B settings{};
    uint8_t value = 0;
    uint16_t word = 0;
    EXPECT_EQ(FT_EE_Program(closed, &record.data), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_EE_Read(closed, &record.data), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_EE_UASize(closed, &size), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_EE_UAWrite(closed, bytes, 1), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_EE_UARead(closed, bytes, 1, &size), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_EEPROM_Read(closed, &settings.header, sizeof settings, record.manufacturer, record.manufacturer_id,
                             record.description, record.serial),
              FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_EEPROM_Program(closed, &settings.header, sizeof settings, "a", "b", "c", nullptr),
              FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_EE_ReadConfig(closed, 0, &value), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_EE_WriteConfig(closed, 0, 0), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_EE_ReadECC(closed, 0, &word), FTDEV_INVALID_HANDLE);
}

TEST_F(Ft232bDevice, BlankEepromReadsAsNotProgrammed)
{
    fill_part(0xFFFF);
    Record read;
    read.manufacturer[0] = 'x';
    EXPECT_EQ(FT_EE_Read(handle, &read.data), FTDEV_EEPROM_NOT_PROGRAMMED);
    EXPECT_EQ(read.manufacturer[0], 'x') << "nothing stored";
    uint32_t size = 99;
    EXPECT_EQ(FT_EE_UASize(handle, &size), FTDEV_OK);
    EXPECT_EQ(size, 0u);
    Settings232B settings{};
    settings.header.device_type = FTDEV_DEVICE_232B;
    EXPECT_EQ(FT_EEPROM_Read(handle, &settings.header, sizeof settings, read.manufacturer, read.manufacturer_id,
                             read.description, read.serial),
              FTDEV_EEPROM_NOT_PROGRAMMED);
    uint8_t data[2] = {1, 2};
    EXPECT_EQ(FT_EE_UAWrite(handle, data, 2), FTDEV_EEPROM_WRITE_FAILED);
}

TEST_F(Ft232bDevice, ZeroVendorWordReadsAsNoEeprom)
{
    fill_part(0x0000);
    Record read;
    EXPECT_EQ(FT_EE_Read(handle, &read.data), FTDEV_EEPROM_NOT_PRESENT);
}

TEST_F(Ft232bDevice, UserAreaWritesReadsAndRefusesOversizedData)
{
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    uint8_t data[67];
    for (size_t i = 0; i < sizeof data; ++i)
        data[i] = static_cast<uint8_t>(0xA0 + i);

    const auto before = part_words();
    EXPECT_EQ(FT_EE_UAWrite(handle, data, 67), FTDEV_EEPROM_WRITE_FAILED);
    EXPECT_EQ(part_words(), before) << "not erased";

    ASSERT_EQ(FT_EE_UAWrite(handle, data, 66), FTDEV_OK);
    const Bytes image = read_back(64);
    EXPECT_TRUE(std::equal(data, data + 66, image.begin() + 60));
    Record read;
    EXPECT_EQ(FT_EE_Read(handle, &read.data), FTDEV_OK) << "still a valid image";
    EXPECT_STREQ(read.serial, "AB123456");

    uint8_t back[80] = {};
    uint32_t got = 1234;
    EXPECT_EQ(FT_EE_UARead(handle, back, 0, &got), FTDEV_OK);
    EXPECT_EQ(got, 1234u) << "a count of 0 leaves the out count alone";
    EXPECT_EQ(FT_EE_UARead(handle, back, 10, nullptr), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_EE_UARead(handle, nullptr, 10, &got), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_EE_UAWrite(handle, nullptr, 10), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_EE_UASize(handle, nullptr), FTDEV_INVALID_PARAMETER);
    ASSERT_EQ(FT_EE_UARead(handle, back, sizeof back, &got), FTDEV_OK);
    EXPECT_EQ(got, 66u);
    EXPECT_TRUE(std::equal(data, data + 66, back));
}

// A device that stops answering: reads are refused, and nothing gets erased on the way.
TEST_F(Ft232bDevice, RefusedReadsStopBeforeAnythingIsErased)
{
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    const auto before = part_words();
    ASSERT_EQ(bus->bus().set_plugged(corvane::testing::InprocBus::device_id(0), false), usb::Status::ok);

    uint8_t data[4] = {1, 2, 3, 4};
    uint32_t size = 7;
    Record read;
    EXPECT_EQ(FT_EE_UAWrite(handle, data, sizeof data), FTDEV_EEPROM_READ_FAILED);
    EXPECT_EQ(FT_EE_UASize(handle, &size), FTDEV_EEPROM_READ_FAILED);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(FT_EE_Read(handle, &read.data), FTDEV_EEPROM_READ_FAILED);
    EXPECT_EQ(FT_EE_UARead(handle, data, sizeof data, &size), FTDEV_EEPROM_READ_FAILED);
    EXPECT_EQ(FT_EE_Program(handle, &record.data), FTDEV_EEPROM_WRITE_FAILED) << "the read-back fails";
    EXPECT_EQ(bus->eeprom_words(0), before);
}

TEST_F(Ft232bDevice, SettingsRoundTripAndFixedReleases)
{
    FixedClock clock;
    Settings232B settings{};
    settings.header = {FTDEV_DEVICE_232B, 0x0403, 0x6000, 1, 0, 600, 1, 0, 1, 0}; // seed 0
    ASSERT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", nullptr), FTDEV_OK);
    const auto words = part_words();
    EXPECT_EQ(words[3], 0x0400);
    EXPECT_EQ(words[6], 0x0200);
    EXPECT_EQ(words[4], 0xFAC0) << "500 mA, self-powered";
    EXPECT_EQ(words[5], 0x000C);

    Settings232B back{};
    back.header.device_type = FTDEV_DEVICE_232B;
    char m[64], id[64], d[64], s[64];
    ASSERT_EQ(FT_EEPROM_Read(handle, &back.header, sizeof back, m, id, d, s), FTDEV_OK);
    EXPECT_EQ(back.header.vendor_id, 0x0403);
    EXPECT_EQ(back.header.product_id, 0x6000);
    EXPECT_EQ(back.header.option_bit3, 1);
    EXPECT_EQ(back.header.option_bit2, 1);
    EXPECT_EQ(back.header.max_power, 500);
    EXPECT_EQ(back.header.self_powered, 1);
    EXPECT_EQ(back.header.remote_wakeup, 0);
    EXPECT_STREQ(m, "AB");
    EXPECT_STREQ(d, "Cable");
    EXPECT_STREQ(s, "AB13ZS3K");
    EXPECT_STREQ(id, "AB");
}

TEST_F(Ft232bDevice, SettingsRefusalsTouchNothing)
{
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    const auto before = part_words();
    Settings232B settings{};
    settings.header = {FTDEV_DEVICE_232B, 0x0403, 0x6001, 0, 0, 90, 0, 0, 0, 0};
    const std::string long_serial(42, 's');
    char m[64], id[64], d[64], s[64];
    EXPECT_EQ(FT_EEPROM_Program(handle, nullptr, sizeof settings, "AB", "AB", "Cable", nullptr),
              FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings + 1, "AB", "AB", "Cable", nullptr),
              FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, nullptr, "AB", "Cable", nullptr),
              FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", long_serial.c_str()),
              FTDEV_OTHER_ERROR);
    EXPECT_EQ(FT_EEPROM_Read(handle, &settings.header, sizeof settings, m, id, d, nullptr), FTDEV_INVALID_PARAMETER);
    settings.header.device_type = FTDEV_DEVICE_232R;
    EXPECT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", nullptr),
              FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_EEPROM_Read(handle, &settings.header, sizeof settings, m, id, d, s), FTDEV_INVALID_PARAMETER);
    settings.header.device_type = FTDEV_DEVICE_232B;
    settings.header.vendor_id = 0;
    EXPECT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", nullptr),
              FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(part_words(), before);
}

// The chip reads its identity from the new image when it is plugged in again.
TEST_F(Ft232bDevice, CyclingThePortShowsTheNewDescription)
{
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    FT_CyclePort(handle);
    FT_Close(handle);
    handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FTDEV_OK);
    uint32_t type = 0, id = 0;
    char serial[16] = {}, description[64] = {};
    ASSERT_EQ(FT_GetDeviceInfo(handle, &type, &id, serial, description, nullptr), FTDEV_OK);
    EXPECT_STREQ(description, "Cable");
    EXPECT_STREQ(serial, "AB123456");
    EXPECT_EQ(id, 0x04036001u);
}

} // namespace
} // namespace corvane::eeprom::testing
