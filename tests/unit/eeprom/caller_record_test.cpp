// The ProgramData record as a C program declares it from the field table, with none of
// this library's types: both forms programmed and read back, and unsigned records that
// end with their chip's block, in heap blocks of exactly that size so that
// AddressSanitizer catches any access past them.
#include "eeprom_bus_fixture.h"

#include <cstddef>

namespace corvane::eeprom::testing {
namespace {

// The table's fields in its order; runs of byte fields as arrays, as a C caller may.
struct CallerSigned {
    uint32_t signature_1;
    uint32_t signature_2;
    uint32_t version;
    uint16_t vendor_id;
    uint16_t product_id;
    char *manufacturer;
    char *manufacturer_id;
    char *description;
    char *serial_number;
    uint16_t max_power;
    uint16_t tail_flag;
    uint16_t self_powered;
    uint16_t remote_wakeup;
    uint8_t release_0400;
    uint8_t option_bits[5];
    uint16_t usb_version;
    uint8_t dual_release_0500;
    uint8_t dual_option_bits[7];
    uint16_t dual_usb_version;
    uint8_t dual_w0_bits[10];
    uint8_t ft232r_block[19];
    uint8_t ft2232h_block[23];
    uint8_t ft4232h_block[22];
    uint8_t ft232h_block[27];
};

// The unsigned form: the same fields without the signature block.
struct CallerUnsigned {
    uint16_t vendor_id;
    uint16_t product_id;
    char *manufacturer;
    char *manufacturer_id;
    char *description;
    char *serial_number;
    uint16_t max_power;
    uint16_t tail_flag;
    uint16_t self_powered;
    uint16_t remote_wakeup;
    uint8_t release_0400;
    uint8_t option_bits[5];
    uint16_t usb_version;
    uint8_t dual_release_0500;
    uint8_t dual_option_bits[7];
    uint16_t dual_usb_version;
    uint8_t dual_w0_bits[10];
    uint8_t ft232r_block[19];
    uint8_t ft2232h_block[23];
    uint8_t ft4232h_block[22];
    uint8_t ft232h_block[27];
};

// An older caller's unsigned record: the common fields and the FT232B block, nothing more.
struct CallerFt232bOnly {
    uint16_t vendor_id;
    uint16_t product_id;
    char *manufacturer;
    char *manufacturer_id;
    char *description;
    char *serial_number;
    uint16_t max_power;
    uint16_t tail_flag;
    uint16_t self_powered;
    uint16_t remote_wakeup;
    uint8_t release_0400;
    uint8_t option_bits[5];
    uint16_t usb_version;
};

// The caller's texts, or the buffers that reading fills.
struct Texts {
    char manufacturer[64] = {};
    char manufacturer_id[64] = {};
    char description[64] = {};
    char serial[64] = {};

    static Texts cable()
    {
        Texts texts;
        std::strcpy(texts.manufacturer, "AB");
        std::strcpy(texts.manufacturer_id, "AB");
        std::strcpy(texts.description, "Cable");
        std::strcpy(texts.serial, "AB123456");
        return texts;
    }

    template <typename Caller>
    void lend_to(Caller &caller)
    {
        caller.manufacturer = manufacturer;
        caller.manufacturer_id = manufacturer_id;
        caller.description = description;
        caller.serial_number = serial;
    }
};

// What the FT232H golden image holds, for either form or a record that ends with the
// FT232H block (the chip's block by offsets: option bits 2 and 3, two pin groups of slew,
// Schmitt and drive, ten CBUS functions, word 0 bits 0-3, 8, 9, 10, driver type, bit 15).
template <typename Caller>
void fill_ft232h_cable(Caller &caller)
{
    caller.vendor_id = 0x0403;
    caller.product_id = 0x6014;
    caller.max_power = 100;
    caller.self_powered = caller.tail_flag = 1;
    uint8_t *block = caller.ft232h_block;
    block[0] = block[2] = block[6] = 1;
    block[4] = 16;
    block[7] = 8;
    for (uint8_t k = 0; k < 10; ++k)
        block[8 + k] = static_cast<uint8_t>(k + 1);
    block[19] = block[21] = 1;
    block[25] = 2;
    block[22] = block[26] = 1;
}

template <typename Caller>
void expect_ft232h_cable(const Caller &caller, const Texts &texts)
{
    EXPECT_EQ(caller.vendor_id, 0x0403);
    EXPECT_EQ(caller.product_id, 0x6014);
    EXPECT_EQ(caller.max_power, 100);
    EXPECT_EQ(caller.self_powered, 1);
    EXPECT_STREQ(texts.description, "Cable");
    EXPECT_STREQ(texts.serial, "AB123456");
    const uint8_t *block = caller.ft232h_block;
    EXPECT_EQ(block[0], 1) << "option bit 2";
    EXPECT_EQ(block[4], 16) << "group 0 drive";
    EXPECT_EQ(block[7], 8) << "group 1 drive";
    for (uint8_t k = 0; k < 10; ++k)
        EXPECT_EQ(block[8 + k], k + 1) << "CBUS " << int(k);
    EXPECT_EQ(block[26], 1) << "word 0 bit 15";
}

// A heap block of exactly `size` bytes, cleared or filled.
std::unique_ptr<unsigned char[]> exact_block(size_t size, unsigned char fill)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    std::memset(block.get(), fill, size);
    return block;
}

class CallerRecord : public EepromBusTest {};

TEST_F(CallerRecord, SignedFormDeclaredFieldByField)
{
    open_bus({"ft232h,eeprom=128"});
    CallerSigned record{};
    record.signature_2 = 0xFFFFFFFFu;
    record.version = 5;
    Texts texts = Texts::cable();
    texts.lend_to(record);
    fill_ft232h_cable(record);
    ASSERT_EQ(FT_EE_Program(handle, reinterpret_cast<ProgramData *>(&record)), FTDEV_OK);
    EXPECT_EQ(read_back(128), golden_image("ft232h-128-ab-cable.bin"));

    CallerSigned back{};
    back.signature_2 = 0xFFFFFFFFu;
    back.version = 5;
    Texts read;
    read.lend_to(back);
    ASSERT_EQ(FT_EE_Read(handle, reinterpret_cast<ProgramData *>(&back)), FTDEV_OK);
    expect_ft232h_cable(back, read);
}

TEST_F(CallerRecord, UnsignedFormDeclaredFieldByField)
{
    open_bus({"ft232h,eeprom=128"});
    CallerUnsigned record{};
    Texts texts = Texts::cable();
    texts.lend_to(record);
    fill_ft232h_cable(record);
    ASSERT_EQ(FT_EE_Program(handle, reinterpret_cast<ProgramData *>(&record)), FTDEV_OK);
    EXPECT_EQ(read_back(128), golden_image("ft232h-128-ab-cable.bin"));

    CallerUnsigned back{};
    Texts read;
    read.lend_to(back);
    ASSERT_EQ(FT_EE_Read(handle, reinterpret_cast<ProgramData *>(&back)), FTDEV_OK);
    expect_ft232h_cable(back, read);
    EXPECT_EQ(back.release_0400, 0) << "other chips' blocks read as clear";
}

// The record ends with the last byte of the FT232H block, before the padding a compiler
// would add behind it.
TEST_F(CallerRecord, UnsignedRecordEndingWithItsChipBlock)
{
    open_bus({"ft232h,eeprom=128"});
    constexpr size_t size = offsetof(CallerUnsigned, ft232h_block) + sizeof(CallerUnsigned::ft232h_block);
    auto block = exact_block(size, 0);
    auto &record = *reinterpret_cast<CallerUnsigned *>(block.get());
    Texts texts = Texts::cable();
    texts.lend_to(record);
    fill_ft232h_cable(record);
    ASSERT_EQ(FT_EE_Program(handle, reinterpret_cast<ProgramData *>(&record)), FTDEV_OK);
    EXPECT_EQ(read_back(128), golden_image("ft232h-128-ab-cable.bin"));

    block = exact_block(size, 0x77);
    auto &back = *reinterpret_cast<CallerUnsigned *>(block.get());
    back.vendor_id = 1; // not the signatures
    Texts read;
    read.lend_to(back);
    ASSERT_EQ(FT_EE_Read(handle, reinterpret_cast<ProgramData *>(&back)), FTDEV_OK);
    expect_ft232h_cable(back, read);
}

TEST_F(CallerRecord, OlderUnsignedRecordWithTheFt232bBlockOnly)
{
    open_bus({"ft232b,eeprom=64"});
    auto block = exact_block(sizeof(CallerFt232bOnly), 0);
    auto &record = *reinterpret_cast<CallerFt232bOnly *>(block.get());
    Texts texts = Texts::cable();
    texts.lend_to(record);
    record.vendor_id = 0x0403;
    record.product_id = 0x6001;
    record.max_power = 90;
    record.remote_wakeup = 1;
    record.release_0400 = 1;
    record.option_bits[2] = 1;
    record.usb_version = 0x0200;
    ASSERT_EQ(FT_EE_Program(handle, reinterpret_cast<ProgramData *>(&record)), FTDEV_OK);
    EXPECT_EQ(read_back(64), golden_image("ft232b-ab-cable.bin"));

    block = exact_block(sizeof(CallerFt232bOnly), 0x77);
    auto &back = *reinterpret_cast<CallerFt232bOnly *>(block.get());
    back.vendor_id = 1;
    Texts read;
    read.lend_to(back);
    ASSERT_EQ(FT_EE_Read(handle, reinterpret_cast<ProgramData *>(&back)), FTDEV_OK);
    EXPECT_EQ(back.vendor_id, 0x0403);
    EXPECT_EQ(back.product_id, 0x6001);
    EXPECT_EQ(back.max_power, 90);
    EXPECT_EQ(back.remote_wakeup, 1);
    EXPECT_EQ(back.option_bits[2], 1);
    EXPECT_EQ(back.usb_version, 0x0200);
    EXPECT_STREQ(read.description, "Cable");
}

} // namespace
} // namespace corvane::eeprom::testing
