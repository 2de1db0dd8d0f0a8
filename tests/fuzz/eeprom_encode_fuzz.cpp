// Arbitrary records, settings and texts through the programming paths, on a chip of each
// layout class. An image the library accepted to program must read back.
#include "fuzz_bus.h"

#include <cstring>
#include <memory>

using namespace corvane::fuzzing;

namespace {

constexpr size_t text_room = 160; // texts up to 150 bytes: past every layout's room

struct Texts {
    char manufacturer[text_room], manufacturer_id[text_room], description[text_room], serial[text_room];

    void take(InputReader &in)
    {
        in.text(manufacturer, text_room, 150);
        in.text(manufacturer_id, text_room, 150);
        in.text(description, text_room, 150);
        in.text(serial, text_room, 150);
    }
};

// The vendor id of the last record or settings handed to the library: an image whose
// vendor-id word is 0xFFFF reads as an erased part by design (status 15).
uint16_t programmed_vendor = 0;

// A null text pointer for each set bit of `nulls`.
char *maybe(char *text, uint8_t nulls, int bit)
{
    return (nulls >> bit) & 1 ? nullptr : text;
}

FtdevStatus program_record(FtdevHandle handle, InputReader &in, bool extended)
{
    uint8_t nulls = in.u8();
    auto record = std::make_unique<ProgramData>();
    in.fill(record.get(), sizeof *record);
    switch (nulls >> 4 & 3) {
    case 0: // a signed record of any version, valid or not
        record->signature_1 = FTDEV_PROGRAM_SIGNATURE_1;
        record->signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
        break;
    case 1:
        record->signature_1 = FTDEV_PROGRAM_SIGNATURE_1;
        record->signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
        record->version = record->version % 6;
        break;
    default: // the unsigned form: the signature words are the first fields
        break;
    }
    Texts texts;
    texts.take(in);
    bool is_signed =
        record->signature_1 == FTDEV_PROGRAM_SIGNATURE_1 && record->signature_2 == FTDEV_PROGRAM_SIGNATURE_2;
    // Each form keeps its fields in its own places.
    auto set_fields = [&](auto &fields) {
        programmed_vendor = fields.vendor_id;
        if (extended)
            return;
        fields.manufacturer = maybe(texts.manufacturer, nulls, 0);
        fields.manufacturer_id = maybe(texts.manufacturer_id, nulls, 1);
        fields.description = maybe(texts.description, nulls, 2);
        fields.serial_number = maybe(texts.serial, nulls, 3);
    };
    if (is_signed)
        set_fields(*record);
    else
        set_fields(*reinterpret_cast<ProgramDataUnsigned *>(record.get()));
    if (extended)
        return FT_EE_ProgramEx(handle, record.get(), maybe(texts.manufacturer, nulls, 0),
                               maybe(texts.manufacturer_id, nulls, 1), maybe(texts.description, nulls, 2),
                               maybe(texts.serial, nulls, 3));
    return FT_EE_Program(handle, record.get());
}

FtdevStatus program_settings(const FuzzDevice &device, InputReader &in)
{
    uint8_t shape = in.u8();
    size_t size = settings_size(device.type);
    if (shape & 1) // a size that may not match the chip (the library must refuse it)
        size = in.u8() % 96;
    // Exactly `size` bytes, so that a read past the caller's structure is caught.
    std::unique_ptr<uint8_t[]> settings(new uint8_t[size ? size : 1]());
    in.fill(settings.get(), size);
    if ((shape & 2) && size >= sizeof(uint32_t)) {
        uint32_t type = device.type;
        std::memcpy(settings.get(), &type, sizeof type);
    }
    if (size >= sizeof(SettingsHeader))
        programmed_vendor = reinterpret_cast<const SettingsHeader *>(settings.get())->vendor_id;
    Texts texts;
    texts.take(in);
    uint8_t nulls = shape >> 2;
    return FT_EEPROM_Program(device.handle, reinterpret_cast<const SettingsHeader *>(settings.get()),
                             static_cast<uint32_t>(size), maybe(texts.manufacturer, nulls, 0),
                             maybe(texts.manufacturer_id, nulls, 1), maybe(texts.description, nulls, 2),
                             maybe(texts.serial, nulls, 3));
}

void write_user_area(FtdevHandle handle, InputReader &in)
{
    uint32_t count = in.u16() % 1200;
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[count ? count : 1]);
    in.fill(bytes.get(), count);
    FT_EE_UAWrite(handle, bytes.get(), count);
}

// Read back through the settings of the device's chip, the one read every layout class
// has (the record form has no FT-X block).
void check_reads_back(const FuzzDevice &device)
{
    char manufacturer[64], manufacturer_id[64], description[64], serial[64];
    size_t size = settings_size(device.type);
    std::unique_ptr<uint8_t[]> settings(new uint8_t[size]());
    auto *header = reinterpret_cast<SettingsHeader *>(settings.get());
    header->device_type = device.type;
    FtdevStatus status = FT_EEPROM_Read(device.handle, header, static_cast<uint32_t>(size), manufacturer,
                                        manufacturer_id, description, serial);
    if (status == FTDEV_EEPROM_NOT_PROGRAMMED && programmed_vendor == 0xFFFF)
        return;
    if (status != FTDEV_OK) {
        std::fprintf(stderr, "read back: status %u\n", status);
        FuzzBus::die("an image the library programmed does not read back");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FuzzBus bus;
    InputReader in(data, size);
    FuzzDevice &device = bus.device(in.u8());
    bus.set_words(device, nullptr, 0);
    uint8_t path = in.u8();
    FtdevStatus status = FTDEV_OTHER_ERROR;
    switch (path % 4) {
    case 0: status = program_record(device.handle, in, false); break;
    case 1: status = program_record(device.handle, in, true); break;
    case 2: status = program_settings(device, in); break;
    case 3: write_user_area(device.handle, in); break;
    }
    if (status == FTDEV_OK)
        check_reads_back(device);
    return 0;
}
