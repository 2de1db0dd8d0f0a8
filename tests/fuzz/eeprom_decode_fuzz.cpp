// Arbitrary EEPROM images through every reading path: the record read, the settings read
// and the user area, on a chip of each layout class. Buffers are exactly as large as the
// contract says, on the heap, so that a write one byte past them is caught.
#include "fuzz_bus.h"

#include <cstdio>
#include <cstring>
#include <memory>

using namespace corvane::fuzzing;

namespace {

constexpr size_t text_capacity = 64;

struct Texts {
    std::unique_ptr<char[]> manufacturer{new char[text_capacity]};
    std::unique_ptr<char[]> manufacturer_id{new char[text_capacity]};
    std::unique_ptr<char[]> description{new char[text_capacity]};
    std::unique_ptr<char[]> serial{new char[text_capacity]};

    // A text the library reported must end inside its buffer.
    void check_terminated() const
    {
        for (const char *text : {manufacturer.get(), manufacturer_id.get(), description.get(), serial.get()})
            if (!std::memchr(text, '\0', text_capacity))
                FuzzBus::die("a text read back has no terminator inside its 64 bytes");
    }
};

void read_record(FtdevHandle handle, bool signed_form)
{
    Texts texts;
    auto record = std::make_unique<ProgramData>();
    if (signed_form) {
        record->signature_1 = FTDEV_PROGRAM_SIGNATURE_1;
        record->signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
        record->version = FTDEV_PROGRAM_VERSION_232H;
    }
    // The unsigned form is the fields alone, from the record's first byte, in its own places.
    auto set_texts = [&](auto &fields) {
        fields.manufacturer = texts.manufacturer.get();
        fields.manufacturer_id = texts.manufacturer_id.get();
        fields.description = texts.description.get();
        fields.serial_number = texts.serial.get();
    };
    if (signed_form)
        set_texts(*record);
    else
        set_texts(*reinterpret_cast<ProgramDataUnsigned *>(record.get()));
    if (FT_EE_Read(handle, record.get()) == FTDEV_OK)
        texts.check_terminated();
}

void read_settings(const FuzzDevice &device)
{
    size_t size = settings_size(device.type);
    Texts texts;
    std::unique_ptr<uint8_t[]> settings(new uint8_t[size]());
    auto *header = reinterpret_cast<SettingsHeader *>(settings.get());
    header->device_type = device.type;
    if (FT_EEPROM_Read(device.handle, header, static_cast<uint32_t>(size), texts.manufacturer.get(),
                       texts.manufacturer_id.get(), texts.description.get(), texts.serial.get()) == FTDEV_OK)
        texts.check_terminated();
}

void read_user_area(const FuzzDevice &device, uint32_t asked)
{
    FtdevHandle handle = device.handle;
    uint32_t size = 0;
    if (FT_EE_UASize(handle, &size) != FTDEV_OK)
        return;
    // The user area is a stretch of the image the layout moves. A damaged image may name a
    // larger part than the one fitted (its part code), so the bound is the largest part
    // the layout knows: 256 words for the external parts, the FT-X's 1024 words.
    const size_t largest_part_bytes = device.blank.size() >= 1024 ? 2048 : 512;
    if (size > largest_part_bytes) {
        std::fprintf(stderr, "user area of %u bytes\n", size);
        FuzzBus::die("a user area larger than the largest part");
    }
    for (uint32_t count : {size, asked}) {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[count + 1]);
        uint32_t got = 0;
        // count + 1 bytes of room, but only `count` may be filled.
        buffer[count] = 0xA5;
        if (FT_EE_UARead(handle, buffer.get(), count, &got) == FTDEV_OK && got > count)
            FuzzBus::die("the user area read reported more bytes than asked for");
        if (buffer[count] != 0xA5)
            FuzzBus::die("the user area read wrote past the count");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FuzzBus bus;
    if (size < 3)
        return 0;
    FuzzDevice &device = bus.device(data[0]);
    uint8_t paths = data[1];
    uint32_t asked = data[2] * 4u;
    bus.set_words(device, data + 3, size - 3);

    if (paths & 1)
        read_record(device.handle, paths & 2);
    if (paths & 4)
        read_settings(device);
    if (paths & 8)
        read_user_area(device, asked);
    if ((paths & 15) == 0) {
        read_record(device.handle, true);
        read_settings(device);
        read_user_area(device, asked);
    }
    return 0;
}
