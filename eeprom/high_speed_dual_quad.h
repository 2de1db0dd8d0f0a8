// What the FT2232H and FT4232H images share: the part code in word 12, four pin groups
// in word 6, the strings from byte 0x1A, moved up by 0x80 on a 128- or 256-word part,
// and the frames of building, programming and reading that differ only in words 0, 3
// and 5.
#ifndef CORVANE_EEPROM_HIGH_SPEED_DUAL_QUAD_H
#define CORVANE_EEPROM_HIGH_SPEED_DUAL_QUAD_H

#include "eeprom/external_eeprom.h"
#include "eeprom/pin_group.h"

#include <cstddef>

namespace corvane::eeprom {

constexpr int high_speed_first_string = 0x1A;

// Words 0 and 5 and the release number of one chip; the frames fill in the rest.
struct ChipWords {
    uint16_t release;
    uint16_t word0;
    uint16_t word5;         // ORed onto the option bits of the settings header
    PinGroup groups[4];     // word 6, group k in bits 4k to 4k+3
};

class HighSpeedLayout : public ExternalEepromLayout {
public:
    using ExternalEepromLayout::ExternalEepromLayout;

    bool ReadImage() override;
    int UserAreaStart() override;
    int UserAreaSize() override;
    void FitImageToEeprom() override;

protected:
    // EncodeImage: the image of a ChipOptions block whose chip words are `words`.
    void EncodeChipImage(const ChipOptions &options, const ChipWords &words);
    // ProgramSettings after the caller's own checks: the header, the strings and `words`,
    // written with the probe as the erase step.
    FtdevStatus ProgramChipSettings(const SettingsHeader &header, const Texts &texts, const ChipWords &words);
    // ReadSettings and DecodeImage up to the chip's own fields: the image read, checked and
    // its header or common fields filled. DecodeImage also clears every chip block of the
    // record from the FT232B block up to the field at `own_block`.
    FtdevStatus ReadChipSettings(SettingsHeader &header, const TextBuffers &buffers);
    FtdevStatus DecodeChipImage(ProgramData &record, size_t own_block);

    // The four pin groups of word 6, flags as 0 or 1.
    void ReadPinGroups(PinGroup (&groups)[4]) const;

    // Four groups as the record and the settings structures list them: slew, Schmitt,
    // drive, each a byte, group after group.
    static void GroupsFromBytes(const uint8_t *first, PinGroup (&groups)[4]);
    static void GroupsToBytes(const PinGroup (&groups)[4], uint8_t *first);

private:
    void StoreChipWords(const ChipWords &words);
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_HIGH_SPEED_DUAL_QUAD_H
