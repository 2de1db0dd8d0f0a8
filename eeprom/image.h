// The in-memory EEPROM image and the two classes that hold it: TEeData moves words
// between the image and the device, TFtE2Data adds what every chip layout shares (the
// checksum, the string descriptors and their pointer bytes, the tail word, the user
// area). Each chip layout derives from TFtE2Data and fills in the pure operations.
#ifndef CORVANE_EEPROM_IMAGE_H
#define CORVANE_EEPROM_IMAGE_H

#include "eeprom/chip_options.h"
#include "ftdev.h"
#include "platform/platform.h"

#include <cstdint>

namespace corvane::device {
struct HandleRecord;
}

namespace corvane::eeprom {

struct ChipLayout;

constexpr int image_size = 2048;
constexpr int max_words = image_size / 2;

// The pointer bytes of the three strings and their lengths.
constexpr int manufacturer_pointer = 14;
constexpr int description_pointer = 16;
constexpr int serial_pointer = 18;
constexpr uint8_t pointer_flag = 0x80; // bit 7 of a pointer byte; bits 0-6 the offset

// The string area of the 64-word layouts (and the lower half of the larger ones) ends
// where the appended empty descriptor must end; the serial descriptor ends 2 bytes before.
constexpr int descriptor_area_end = 124;
constexpr int strings_end_limit = descriptor_area_end - 2;

// Callers' text buffers hold 64 bytes: the longest text an image yields is 63 characters.
constexpr int text_buffer_size = 64;

constexpr uint8_t string_descriptor_type = 0x03;
// Longest text a descriptor can hold: its length byte 2n + 2 must stay below 256.
constexpr int max_descriptor_chars = 126;

// A USB string descriptor built outside the image.
struct Descriptor {
    uint8_t bytes[2 + 2 * max_descriptor_chars];
    int size; // bytes in use, the same as bytes[0]
};

// Builds the descriptor of `text` (see TFtE2Data::StringToDescriptor for the code units);
// false, with `out` empty, for a text too long for any descriptor.
bool make_descriptor(const char *text, Descriptor &out);

// Bytes the descriptor of `text` takes, 2n + 2, in int arithmetic so that a long text
// never wraps the way the 8-bit length byte does. Texts past a few kilobytes count as
// "far too long" rather than being measured in full.
int descriptor_size(const char *text);

// The texts of a program call and the caller's buffers of a read call.
struct Texts {
    const char *manufacturer;
    const char *manufacturer_id;
    const char *description;
    const char *serial_number;
};
struct TextBuffers {
    char *manufacturer;
    char *manufacturer_id;
    char *description;
    char *serial_number;
};

class TEeData {
public:
    // An image with no device behind it: every device operation fails.
    TEeData();
    // Copies the driver handle and the EEPROM word read, word write and erase requests
    // (request indexes 32, 33 and 34) from an open device's record.
    explicit TEeData(const device::HandleRecord &record);

    uint8_t image[image_size];
    int32_t cursor;
    uint32_t blank;
    uint32_t word_count;
    HANDLE device;
    uint32_t read_word_request;
    uint32_t write_word_request;
    uint32_t erase_request;

    void ResetCursor();
    void PushWord(uint16_t word);
    uint16_t PullWord();

    // A read the driver refuses is a failed read (a chip without a part still answers,
    // with 0xFFFF). Writes and erases are not checked one by one: Verify reads it all back.
    bool ReadAll();
    bool ReadWord(uint32_t address, uint16_t &value);
    bool WriteAll();
    bool WriteWord(uint16_t address, uint16_t value);
    bool Erase();
    bool Verify();

    uint16_t word_at(int index) const;
    void set_word_at(int index, uint16_t value);
    void clear_image();
};

class TFtE2Data : public TEeData {
public:
    // An object of the chip that `layout` describes, without or with a device behind it.
    explicit TFtE2Data(const ChipLayout &layout);
    TFtE2Data(const device::HandleRecord &record, const ChipLayout &layout);

    uint16_t checksum = 0;
    uint16_t eeprom_type = 0;
    int32_t manufacturer_offset = 0;
    int32_t description_offset = 0;
    int32_t serial_offset = 0;
    uint32_t checksum_span = 126;

    // The ten operations, in the order every layout lists them.
    virtual bool ReadImage();
    virtual void UpdateChecksum();
    virtual int UserAreaStart(); // word index, 0 when there is no user area
    virtual int UserAreaSize();  // words
    virtual bool WriteUserArea(const uint8_t *bytes, uint32_t count);
    virtual void ReadUserArea(uint8_t *buffer, uint32_t count, uint32_t &got);
    // These two and the settings pair below build and read the image from the chip's
    // table (field_table.h); a layout without one overrides them.
    virtual void EncodeImage(const ChipOptions &options);
    virtual FtdevStatus DecodeImage(ProgramData &record);
    // False only when a read of the probe was refused (the part is erased by then).
    virtual bool ProbeEepromType() = 0;
    virtual void FitImageToEeprom() = 0;

    // FT_EEPROM_Program and FT_EEPROM_Read; `settings` is the layout's own structure,
    // whose size the caller has checked.
    virtual FtdevStatus ProgramSettings(const SettingsHeader &settings, const Texts &texts);
    virtual FtdevStatus ReadSettings(SettingsHeader &settings, const TextBuffers &buffers);

    virtual ~TFtE2Data() = default;

    uint16_t GetVendorId() const;
    void SetVendorId(uint16_t id);
    uint16_t GetProductId() const;
    void SetProductId(uint16_t id);
    uint8_t GetAttributes() const;
    void SetAttributes(uint8_t attributes);
    uint16_t GetMaxPower() const;
    void SetMaxPower(int milliamps);

    // Each writes at most text_buffer_size bytes, the terminator included.
    void GetManufacturer(char *out) const;
    void GetDescription(char *out) const;
    void GetSerialNumber(char *out) const;
    void GetManufacturerId(char *out) const;

    bool SetSerialDescriptor(const Descriptor &descriptor);
    bool AppendDescriptor(const uint8_t *descriptor);
    // The empty descriptor 0x02 0x03 behind the serial descriptor.
    bool AppendEmptyDescriptor();
    uint16_t GetTailWord() const;
    void SetTailWord(uint16_t value);

    // Writes the descriptor of `text` at image byte `offset`; false (and nothing written)
    // when it would not fit in the image.
    bool StringToDescriptor(int offset, const char *text);
    // The text of the descriptor at image byte `offset`, cut to what the image and a
    // text buffer hold.
    void DescriptorToString(char *out, int offset) const;
    // The same, or an empty text from a blank part.
    void TextAt(char *out, int offset) const;

    // Whether the three descriptors, placed from `first_offset`, end by byte `end` (122
    // unless the layout's string area ends elsewhere).
    static bool StringsFit(int first_offset, const char *manufacturer, const char *description, const char *serial,
                           int end = strings_end_limit);
    // Steps 1 to 5 of placing the strings: pointer and length bytes, the descriptors, the
    // offsets in memory, bit 7 of the pointer bytes. False, with the image unchanged,
    // when they do not end by byte `end`.
    bool PlaceStrings(int first_offset, const char *manufacturer, const char *description, const char *serial,
                      int end = strings_end_limit);

    // Erase, write every word, read back and compare: 13, 12 or 0.
    FtdevStatus WriteSequence();

protected:
    // The chip's fields and constants, set by the layout's constructor.
    const ChipLayout *chip = nullptr;

    // The chip's words that neither structure holds, stored after the fields on both
    // paths; `record` is null on the settings path.
    virtual void StoreChipWords(const ProgramData *record);
    // The record fields that the table cannot state, read after it.
    virtual void DecodeChipWords(ProgramData &record) const;
    // ProgramSettings' first step on the device, after the image is cleared: the probe,
    // false when a read of it was refused.
    virtual bool PrepareSettingsImage();
    // ProgramSettings' last step: the erase, write and verify of WriteSequence, or for a
    // part whose probe erases it the probe in place of Erase.
    virtual FtdevStatus WriteSettingsImage();

    // ReadImage (11), then the vendor word (14, 15).
    FtdevStatus ReadCheckedImage();
    // The end of every build: the empty descriptor behind the serial, a tail word of 0,
    // the checksum.
    virtual void FinishImage();

    // After ReadImage on a part that holds its size code: on a part of 128 words or more
    // the pointer bytes count from the upper half and the checksum covers words 0 to 126;
    // a 64-word part moves only its 64 words.
    void AdjustForPartSize(bool large_part);
    // The last step of a build for a large part: bytes `from` to 127 move up by 128, where
    // the pointer bytes (offset | 0x80) already point, and the lower half is cleared.
    void MoveStringsToUpperHalf(int from);

    // ReadUserArea of a user area in two pieces: the base's rule for up to `first_piece`
    // bytes, then up to `second_size` bytes from image byte `second_at` (none when 0) if
    // the first piece was read whole.
    void ReadUserPieces(uint8_t *buffer, uint32_t count, uint32_t &got, uint32_t first_piece, int second_at,
                        uint32_t second_size);

    // The user-area rules of the base, for layouts that build on them.
    int BaseUserAreaStart() const;
    int BaseUserAreaSize() const;
    // The byte that follows offset `p` in the tail walk, taken as signed 8-bit.
    int SignedByteAt(int p) const;
    int TailWordOffset() const;
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_IMAGE_H
