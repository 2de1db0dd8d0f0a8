// One in-process bus per fuzzing process, with a device of every EEPROM layout class
// opened once; each input only resets the EEPROM words it touches, so an iteration costs
// a few control requests instead of a state folder.
#ifndef CORVANE_TESTS_FUZZ_FUZZ_BUS_H
#define CORVANE_TESTS_FUZZ_FUZZ_BUS_H

#include "ftdev.h"
#include "support/inproc_bus.h"

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace corvane::fuzzing {

struct FuzzDevice {
    FuzzDevice(const char *description) : chip(description) {}
    const char *chip; // the --chip description without its serial
    FtdevHandle handle = nullptr;
    uint32_t type = 0;
    std::vector<uint16_t> blank; // the words the bus started with
};

class FuzzBus {
public:
    FuzzBus()
    {
        std::vector<std::string> chips;
        for (size_t i = 0; i < devices_.size(); ++i)
            chips.push_back(std::string(devices_[i].chip) + ",serial=FZ" + static_cast<char>('A' + i));
        bus_ = std::make_unique<testing::InprocBus>(chips);
        uint32_t count = 0;
        if (FT_CreateDeviceInfoList(&count) != FTDEV_OK)
            die("no device list");
        for (uint32_t index = 0; index < count; ++index) {
            char serial[16] = {};
            if (FT_GetDeviceInfoDetail(index, nullptr, nullptr, nullptr, nullptr, serial, nullptr, nullptr) != FTDEV_OK)
                die("no device details");
            size_t device = static_cast<size_t>(serial[2] - 'A');
            if (std::strncmp(serial, "FZ", 2) != 0 || device >= devices_.size() || devices_[device].handle)
                continue;
            FuzzDevice &d = devices_[device];
            if (FT_Open(index, &d.handle) != FTDEV_OK ||
                FT_GetDeviceInfo(d.handle, &d.type, nullptr, nullptr, nullptr, nullptr) != FTDEV_OK)
                die("cannot open a device");
            d.blank = bus_->eeprom_words(device);
        }
        for (const FuzzDevice &d : devices_)
            if (!d.handle)
                die(d.chip);
    }

    size_t size() const { return devices_.size(); }
    FuzzDevice &device(size_t index) { return devices_[index % devices_.size()]; }
    size_t index_of(const FuzzDevice &d) const { return static_cast<size_t>(&d - devices_.data()); }
    testing::InprocBus &bus() { return *bus_; }

    // The part's words: `bytes` little-endian from the start, the rest as the bus began.
    void set_words(FuzzDevice &d, const uint8_t *bytes, size_t size)
    {
        std::vector<uint16_t> words = d.blank;
        for (size_t i = 0; i < words.size() && 2 * i + 1 < size; ++i)
            words[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        if (!words.empty())
            bus_->set_eeprom_words(index_of(d), words);
        // The bus records every control request for the unit tests; over millions of
        // inputs that record would grow without end.
        bus_->clear_control_log(index_of(d));
    }

    [[noreturn]] static void die(const char *why)
    {
        std::fprintf(stderr, "fuzz bus: %s\n", why);
        std::abort();
    }

private:
    // Every layout class, the external parts in their smallest and largest sizes, and a
    // chip without a part.
    std::vector<FuzzDevice> devices_ = {
        {"ft232b,eeprom=64"},
        {"ft232b,eeprom=256"},
        {"ft2232,eeprom=64"},
        {"ft2232,eeprom=256"},
        {"ft2232h,eeprom=64"},
        {"ft2232h,eeprom=256"},
        {"ft4232h,eeprom=128"},
        {"ft232h,eeprom=256"},
        {"ft232h,eeprom=0"},
        {"ft232r"},
        {"ftx"},
    };
    std::unique_ptr<testing::InprocBus> bus_;
};

// Hands out the fuzz input field by field; past the end everything reads as zero.
class InputReader {
public:
    InputReader(const uint8_t *data, size_t size) : data_(data), left_(size) {}
    uint8_t u8() { return left_ ? (--left_, *data_++) : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | u8() << 8); }
    uint32_t u32() { return static_cast<uint32_t>(u16() | static_cast<uint32_t>(u16()) << 16); }
    // A text of up to `limit` bytes (its length byte first), NUL-terminated in `out`.
    void text(char *out, size_t capacity, size_t limit)
    {
        size_t length = u8() % (limit + 1);
        if (length >= capacity)
            length = capacity - 1;
        for (size_t i = 0; i < length; ++i)
            out[i] = static_cast<char>(u8());
        out[length] = '\0';
    }
    void fill(void *out, size_t size)
    {
        auto *bytes = static_cast<uint8_t *>(out);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = u8();
    }
    const uint8_t *rest(size_t &size)
    {
        size = left_;
        const uint8_t *at = data_;
        data_ += left_;
        left_ = 0;
        return at;
    }

private:
    const uint8_t *data_;
    size_t left_;
};

// The settings structure size for a device type; 0 for none.
inline size_t settings_size(uint32_t type)
{
    switch (type) {
    case FTDEV_DEVICE_232B: return sizeof(Settings232B);
    case FTDEV_DEVICE_2232: return sizeof(Settings2232);
    case FTDEV_DEVICE_232R: return sizeof(Settings232R);
    case FTDEV_DEVICE_2232H: return sizeof(Settings2232H);
    case FTDEV_DEVICE_4232H: return sizeof(Settings4232H);
    case FTDEV_DEVICE_232H: return sizeof(Settings232H);
    case FTDEV_DEVICE_X_SERIES: return sizeof(SettingsX);
    default: return 0;
    }
}

} // namespace corvane::fuzzing

#endif // CORVANE_TESTS_FUZZ_FUZZ_BUS_H
