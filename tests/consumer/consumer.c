/*
 * A program that uses the installed libftdev as an outside caller does: built against the
 * installed header and library only, it lists the devices of a running corvane-sim (a
 * loopback chip with an EEPROM), opens the first, moves bytes both ways, and programs and
 * reads back the EEPROM through both forms of the programming record.
 *
 * The record is declared here field by field, as callers declare it, with the compiler's
 * natural alignment, and passed to the library in place of its own.
 */
#include <ftdev.h>

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define RECORD_FIELDS                                                                                                  \
    uint16_t vendor_id;                                                                                                \
    uint16_t product_id;                                                                                               \
    char *manufacturer;                                                                                                \
    char *manufacturer_id;                                                                                             \
    char *description;                                                                                                 \
    char *serial_number;                                                                                               \
    uint16_t max_power;                                                                                                \
    uint16_t tail_flag;                                                                                                \
    uint16_t self_powered;                                                                                             \
    uint16_t remote_wakeup;                                                                                            \
    uint8_t release_0400, option_bit0, option_bit1, option_bit2, option_bit3, option_bit4;                             \
    uint16_t usb_version;                                                                                              \
    uint8_t dual_release_0500, dual_option_bit0, dual_option_bit5, dual_option_bit1;                                   \
    uint8_t dual_option_bit6, dual_option_bit2, dual_option_bit3, dual_option_bit4;                                    \
    uint16_t dual_usb_version;                                                                                         \
    uint8_t dual_w0_bit4, dual_w0_bit12, dual_w0_bit0, dual_w0_bit1, dual_w0_bit2;                                     \
    uint8_t dual_w0_bit3, dual_w0_bit8, dual_w0_bit9, dual_w0_bit10, dual_w0_bit11;                                    \
    uint8_t r_w0_bit1, r_w0_bit2, r_byte1, r_option_bit2, r_option_bit3;                                               \
    uint8_t r_byte11_bit0, r_byte11_bit1, r_byte11_bit2, r_byte11_bit3;                                                \
    uint8_t r_byte11_bit4, r_byte11_bit5, r_byte11_bit6, r_byte11_bit7;                                                \
    uint8_t r_select0, r_select1, r_select2, r_select3, r_select4, r_w0_bit3;                                          \
    uint8_t hs2_option_bit2, hs2_option_bit3;                                                                          \
    uint8_t hs2_group0_slow_slew, hs2_group0_schmitt, hs2_group0_drive;                                                \
    uint8_t hs2_group1_slow_slew, hs2_group1_schmitt, hs2_group1_drive;                                                \
    uint8_t hs2_group2_slow_slew, hs2_group2_schmitt, hs2_group2_drive;                                                \
    uint8_t hs2_group3_slow_slew, hs2_group3_schmitt, hs2_group3_drive;                                                \
    uint8_t hs2_w0_bit0, hs2_w0_bit1, hs2_w0_bit2, hs2_driver_type_a;                                                  \
    uint8_t hs2_w0_bit8, hs2_w0_bit9, hs2_w0_bit10, hs2_driver_type_b, hs2_w0_bit15;                                   \
    uint8_t hs4_option_bit2, hs4_option_bit3;                                                                          \
    uint8_t hs4_group0_slow_slew, hs4_group0_schmitt, hs4_group0_drive;                                                \
    uint8_t hs4_group1_slow_slew, hs4_group1_schmitt, hs4_group1_drive;                                                \
    uint8_t hs4_group2_slow_slew, hs4_group2_schmitt, hs4_group2_drive;                                                \
    uint8_t hs4_group3_slow_slew, hs4_group3_schmitt, hs4_group3_drive;                                                \
    uint8_t hs4_byte11_bit4, hs4_byte11_bit5, hs4_byte11_bit6, hs4_byte11_bit7;                                        \
    uint8_t hs4_driver_type_a, hs4_driver_type_b, hs4_driver_type_c, hs4_driver_type_d;                                \
    uint8_t h_option_bit2, h_option_bit3;                                                                              \
    uint8_t h_group0_slow_slew, h_group0_schmitt, h_group0_drive;                                                      \
    uint8_t h_group1_slow_slew, h_group1_schmitt, h_group1_drive;                                                      \
    uint8_t h_cbus_mux0, h_cbus_mux1, h_cbus_mux2, h_cbus_mux3, h_cbus_mux4;                                           \
    uint8_t h_cbus_mux5, h_cbus_mux6, h_cbus_mux7, h_cbus_mux8, h_cbus_mux9;                                           \
    uint8_t h_w0_bit0, h_w0_bit1, h_w0_bit2, h_w0_bit3, h_w0_bit8, h_w0_bit9, h_w0_bit10;                              \
    uint8_t h_driver_type, h_w0_bit15;

/* The signed form, and the unsigned form that begins with vendor_id. */
struct eeprom_record {
    uint32_t signature_1;
    uint32_t signature_2;
    uint32_t version;
    RECORD_FIELDS
};
struct eeprom_record_unsigned {
    RECORD_FIELDS
};

/* Where a caller's compiler puts the fields: the table's offsets with 32-bit pointers,
 * each field 16 bytes further on behind the four 8-byte pointers of a 64-bit build. */
#define POINTER_SHIFT (sizeof(void *) == 8 ? 16 : 0)
_Static_assert(offsetof(struct eeprom_record, vendor_id) == 12, "vendor_id");
_Static_assert(offsetof(struct eeprom_record, product_id) == 14, "product_id");
_Static_assert(offsetof(struct eeprom_record, manufacturer) == 16, "manufacturer");
_Static_assert(offsetof(struct eeprom_record, serial_number) == 16 + 3 * sizeof(void *), "serial_number");
_Static_assert(offsetof(struct eeprom_record, max_power) == 32 + POINTER_SHIFT, "max_power");
_Static_assert(offsetof(struct eeprom_record, usb_version) == 46 + POINTER_SHIFT, "usb_version");
_Static_assert(offsetof(struct eeprom_record, dual_usb_version) == 56 + POINTER_SHIFT, "dual_usb_version");
_Static_assert(offsetof(struct eeprom_record, r_w0_bit3) == 86 + POINTER_SHIFT, "r_w0_bit3");
_Static_assert(offsetof(struct eeprom_record, hs2_w0_bit15) == 109 + POINTER_SHIFT, "hs2_w0_bit15");
_Static_assert(offsetof(struct eeprom_record, hs4_driver_type_d) == 131 + POINTER_SHIFT, "hs4_driver_type_d");
_Static_assert(offsetof(struct eeprom_record, h_w0_bit15) == 158 + POINTER_SHIFT, "h_w0_bit15");
_Static_assert(sizeof(struct eeprom_record) == 160 + POINTER_SHIFT, "record size");

#define TEXT_SIZE 64
#define VERSION_2232H 3
#define DATA_BYTES 65536

static int failures;

static void fail(const char *what)
{
    fprintf(stderr, "consumer: %s\n", what);
    ++failures;
}

static int ok(FtdevStatus status, const char *call)
{
    if (status == FTDEV_OK)
        return 1;
    fprintf(stderr, "consumer: %s returned %u\n", call, (unsigned)status);
    ++failures;
    return 0;
}

static void same_text(const char *field, const char *got, const char *wanted)
{
    if (strcmp(got, wanted) != 0) {
        fprintf(stderr, "consumer: %s read back as \"%s\", programmed \"%s\"\n", field, got, wanted);
        ++failures;
    }
}

static void same_value(const char *field, unsigned got, unsigned wanted)
{
    if (got != wanted) {
        fprintf(stderr, "consumer: %s read back as %u, programmed %u\n", field, got, wanted);
        ++failures;
    }
}

/* What the programmed and the read record share, through either form (both begin their
 * common fields with vendor_id, in the same order). */
#define CHECK_READ_BACK(read, written)                                                                                 \
    do {                                                                                                               \
        same_value("vendor_id", (read).vendor_id, (written).vendor_id);                                                \
        same_value("product_id", (read).product_id, (written).product_id);                                             \
        same_text("manufacturer", (read).manufacturer, (written).manufacturer);                                        \
        same_text("description", (read).description, (written).description);                                           \
        same_text("serial_number", (read).serial_number, (written).serial_number);                                     \
        same_value("max_power", (read).max_power, (written).max_power);                                                \
        same_value("remote_wakeup", (read).remote_wakeup != 0, (written).remote_wakeup != 0);                          \
        same_value("group 0 drive", (read).hs2_group0_drive, (written).hs2_group0_drive);                              \
        same_value("group 1 schmitt", (read).hs2_group1_schmitt, (written).hs2_group1_schmitt);                        \
        same_value("driver type b", (read).hs2_driver_type_b, (written).hs2_driver_type_b);                            \
        if (strncmp((read).manufacturer_id, (written).serial_number, 2) != 0)                                          \
            fail("manufacturer_id is not the serial number's first two characters");                                   \
    } while (0)

static void program_and_read_signed(FtdevHandle handle)
{
    struct eeprom_record written, read;
    memset(&written, 0, sizeof written);
    written.signature_1 = FTDEV_PROGRAM_SIGNATURE_1;
    written.signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
    written.version = VERSION_2232H;
    written.vendor_id = 0x0403;
    written.product_id = 0x6010;
    written.manufacturer = "Consumer";
    written.manufacturer_id = "CS";
    written.description = "Signed record";
    written.serial_number = "CS123456";
    written.max_power = 120;
    written.remote_wakeup = 1;
    written.hs2_group0_drive = 16;
    written.hs2_group1_schmitt = 1;
    written.hs2_driver_type_b = 1;
    if (!ok(FT_EE_Program(handle, (ProgramData *)&written), "FT_EE_Program (signed record)"))
        return;

    char manufacturer[TEXT_SIZE], manufacturer_id[TEXT_SIZE], description[TEXT_SIZE], serial[TEXT_SIZE];
    memset(&read, 0, sizeof read);
    read.signature_1 = FTDEV_PROGRAM_SIGNATURE_1;
    read.signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
    read.version = VERSION_2232H;
    read.manufacturer = manufacturer;
    read.manufacturer_id = manufacturer_id;
    read.description = description;
    read.serial_number = serial;
    if (!ok(FT_EE_Read(handle, (ProgramData *)&read), "FT_EE_Read (signed record)"))
        return;
    same_value("signature_2", read.signature_2, FTDEV_PROGRAM_SIGNATURE_2);
    CHECK_READ_BACK(read, written);
    printf("consumer: EEPROM programmed and read back through the signed record (\"%s\", %s)\n", description, serial);
}

static void program_and_read_unsigned(FtdevHandle handle)
{
    struct eeprom_record_unsigned written, read;
    memset(&written, 0, sizeof written);
    written.vendor_id = 0x0403;
    written.product_id = 0x6011;
    written.manufacturer = "Consumer";
    written.manufacturer_id = "CU";
    written.description = "Unsigned record";
    written.serial_number = "CU654321";
    written.max_power = 250;
    written.hs2_group0_drive = 8;
    written.hs2_driver_type_b = 0;
    if (!ok(FT_EE_Program(handle, (ProgramData *)&written), "FT_EE_Program (unsigned record)"))
        return;

    char manufacturer[TEXT_SIZE], manufacturer_id[TEXT_SIZE], description[TEXT_SIZE], serial[TEXT_SIZE];
    memset(&read, 0, sizeof read);
    read.manufacturer = manufacturer;
    read.manufacturer_id = manufacturer_id;
    read.description = description;
    read.serial_number = serial;
    if (!ok(FT_EE_Read(handle, (ProgramData *)&read), "FT_EE_Read (unsigned record)"))
        return;
    CHECK_READ_BACK(read, written);
    printf("consumer: EEPROM programmed and read back through the unsigned record (\"%s\", %s)\n", description, serial);
}

static void loop_bytes(FtdevHandle handle)
{
    static uint8_t out[DATA_BYTES], in[DATA_BYTES];
    for (size_t i = 0; i < sizeof out; ++i)
        out[i] = (uint8_t)(i * 7u + (i >> 8));
    uint32_t moved = 0;
    if (!ok(FT_Write(handle, out, sizeof out, &moved), "FT_Write"))
        return;
    if (moved != sizeof out) {
        fail("FT_Write sent fewer bytes than asked");
        return;
    }
    uint32_t got = 0;
    while (got < sizeof in) {
        uint32_t now = 0;
        if (!ok(FT_Read(handle, in + got, (uint32_t)(sizeof in - got), &now), "FT_Read"))
            return;
        if (now == 0) {
            fail("FT_Read timed out before the written bytes came back");
            return;
        }
        got += now;
    }
    if (memcmp(in, out, sizeof in) != 0)
        fail("the bytes read back differ from the bytes written");
    else
        printf("consumer: %u bytes written and read back\n", (unsigned)sizeof in);
}

int main(void)
{
    /* Each line is out before the next call, should one of them crash. */
    setvbuf(stdout, NULL, _IOLBF, 0);
    uint32_t count = 0;
    if (!ok(FT_CreateDeviceInfoList(&count), "FT_CreateDeviceInfoList"))
        return 1;
    /* One dual-channel chip: two entries. */
    FtdevDeviceNode nodes[2];
    if (count != 2) {
        fprintf(stderr, "consumer: %u devices listed, 2 expected\n", (unsigned)count);
        return 1;
    }
    if (!ok(FT_GetDeviceInfoList(nodes, &count), "FT_GetDeviceInfoList"))
        return 1;
    for (uint32_t i = 0; i < count; ++i)
        printf("consumer: device %u: type %u, location 0x%x, serial \"%s\", description \"%s\"\n", (unsigned)i,
               (unsigned)nodes[i].type, (unsigned)nodes[i].location_id, nodes[i].serial_number, nodes[i].description);
    if (nodes[0].type != FTDEV_DEVICE_2232H || nodes[0].handle != NULL)
        fail("device 0 is not a closed dual-channel high-speed chip");

    FtdevHandle handle = NULL;
    if (!ok(FT_Open(0, &handle), "FT_Open"))
        return 1;
    if (ok(FT_SetTimeouts(handle, 5000, 5000), "FT_SetTimeouts") &&
        ok(FT_Purge(handle, FTDEV_PURGE_RX | FTDEV_PURGE_TX), "FT_Purge"))
        loop_bytes(handle);
    program_and_read_signed(handle);
    program_and_read_unsigned(handle);
    ok(FT_Close(handle), "FT_Close");

    if (failures != 0) {
        fprintf(stderr, "consumer: %d check(s) failed\n", failures);
        return 1;
    }
    printf("consumer: all checks passed\n");
    return 0;
}
