// An open device on the in-process virtual bus, with views of its EEPROM as the device
// reads it back and as the part holds it.
#ifndef CORVANE_TESTS_UNIT_EEPROM_EEPROM_BUS_FIXTURE_H
#define CORVANE_TESTS_UNIT_EEPROM_EEPROM_BUS_FIXTURE_H

#include "eeprom/serial_number.h"
#include "ftdev.h"
#include "support/inproc_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace corvane::eeprom::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes golden_image(const std::string &name)
{
    const auto path = std::filesystem::path(CORVANE_TEST_DATA_DIR) / "eeprom" / name;
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << path;
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

// A record in the signed form with the caller's four text buffers or texts.
struct Record {
    ProgramData data{};
    char manufacturer[64] = {};
    char manufacturer_id[64] = {};
    char description[64] = {};
    char serial[64] = {};

    Record()
    {
        data.signature_1 = FTDEV_PROGRAM_SIGNATURE_1;
        data.signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
        data.version = FTDEV_PROGRAM_VERSION_232H;
        data.manufacturer = manufacturer;
        data.manufacturer_id = manufacturer_id;
        data.description = description;
        data.serial_number = serial;
    }
    void set_texts(const char *m, const char *id, const char *d, const char *s)
    {
        std::strcpy(manufacturer, m);
        std::strcpy(manufacturer_id, id);
        std::strcpy(description, d);
        std::strcpy(serial, s);
    }
};

// The record the chip tests program: manufacturer AB, description Cable, serial
// AB123456, the FTDI vendor id and the chip's product id and current.
inline Record cable_record_of(uint16_t product_id, uint16_t max_power = 0)
{
    Record record;
    record.set_texts("AB", "AB", "Cable", "AB123456");
    record.data.vendor_id = 0x0403;
    record.data.product_id = product_id;
    record.data.max_power = max_power;
    return record;
}

class EepromBusTest : public ::testing::Test {
protected:
    void open_bus(const std::vector<std::string> &chips)
    {
        bus = std::make_unique<corvane::testing::InprocBus>(chips);
        ASSERT_EQ(FT_Open(0, &handle), FTDEV_OK);
    }

    void TearDown() override
    {
        if (handle != nullptr)
            FT_Close(handle);
        bus.reset();
    }

    // The first `words` words as the device reads them back.
    Bytes read_back(unsigned words)
    {
        Bytes bytes;
        for (unsigned address = 0; address < words; ++address) {
            uint16_t word = 0;
            EXPECT_EQ(FT_ReadEE(handle, address, &word), FTDEV_OK);
            bytes.push_back(static_cast<uint8_t>(word));
            bytes.push_back(static_cast<uint8_t>(word >> 8));
        }
        return bytes;
    }

    std::vector<uint16_t> part_words() { return bus->eeprom_words(0); }

    void fill_part(uint16_t value) { bus->set_eeprom_words(0, std::vector<uint16_t>(part_words().size(), value)); }

    // The user area of whatever image the part holds: its size at most the part's `words`,
    // read with room for twice the largest image (nothing written past what was read),
    // then filled. The part's words afterwards, or none when there is no user area.
    std::vector<uint16_t> fill_user_area(size_t words, int round)
    {
        constexpr size_t room = 2 * 2048;
        uint32_t size = 0;
        EXPECT_EQ(FT_EE_UASize(handle, &size), FTDEV_OK) << "round " << round;
        EXPECT_LE(size, 2 * words) << "round " << round;
        std::vector<uint8_t> area(room + 16, 0x5A);
        uint32_t got = 0;
        EXPECT_EQ(FT_EE_UARead(handle, area.data(), room, &got), FTDEV_OK) << "round " << round;
        EXPECT_EQ(got, size) << "round " << round;
        if (got <= room) {
            EXPECT_TRUE(std::all_of(area.begin() + got, area.end(), [](uint8_t b) { return b == 0x5A; }))
                << "round " << round;
        }
        if (size == 0 || size > 2 * words)
            return {};
        std::vector<uint8_t> data(size, 0xC3);
        EXPECT_EQ(FT_EE_UAWrite(handle, data.data(), size), FTDEV_OK) << "round " << round;
        return part_words();
    }

    std::unique_ptr<corvane::testing::InprocBus> bus;
    FtdevHandle handle = nullptr;
};

// A calendar clock fixed at 2001-01-01 00:00:00 for the tests' lifetime.
class FixedClock {
public:
    FixedClock() : previous_(set_calendar_clock(&fixed)) {}
    ~FixedClock() { set_calendar_clock(previous_); }
    static CalendarTime fixed() { return {101, 0, 1, 0, 0, 0}; }

private:
    CalendarClock previous_;
};

} // namespace corvane::eeprom::testing

#endif // CORVANE_TESTS_UNIT_EEPROM_EEPROM_BUS_FIXTURE_H
