#include "sim/chip_kind.h"

#include <array>
#include <cstdlib>

namespace corvane::sim {
namespace {

using usb::ftdi::Family;

const usb::ftdi::ChipIdentity *identity_of(Family family)
{
    for (const usb::ftdi::ChipIdentity &chip : usb::ftdi::chip_identities)
        if (chip.family == family)
            return &chip;
    std::abort(); // the protocol table lacks a family this file names: a build mistake
}

// 128-word parts for the two-channel and H-series chips: room for the moved string area
// of their larger layouts.
const std::array<ChipProfile, 8> &profiles()
{
    static const std::array<ChipProfile, 8> table{{
        {ChipKind::corvane, "corvane", identity_of(Family::ft2232h), EepromKind::external, 128, "Corvane USB device",
         true},
        {ChipKind::ft232b, "ft232b", identity_of(Family::bm), EepromKind::external, 64, "Corvane virtual FT232B",
         false},
        {ChipKind::ft232r, "ft232r", identity_of(Family::ft232r), EepromKind::internal_232r, 64,
         "Corvane virtual FT232R", false},
        {ChipKind::ft2232, "ft2232", identity_of(Family::ft2232c), EepromKind::external, 128, "Corvane virtual FT2232",
         false},
        {ChipKind::ft2232h, "ft2232h", identity_of(Family::ft2232h), EepromKind::external, 128,
         "Corvane virtual FT2232H", false},
        {ChipKind::ft4232h, "ft4232h", identity_of(Family::ft4232h), EepromKind::external, 128,
         "Corvane virtual FT4232H", false},
        {ChipKind::ft232h, "ft232h", identity_of(Family::ft232h), EepromKind::external, 128, "Corvane virtual FT232H",
         false},
        {ChipKind::ftx, "ftx", identity_of(Family::ftx), EepromKind::internal_x, 1024, "Corvane virtual FT-X", false},
    }};
    return table;
}

} // namespace

const ChipProfile &profile_of(ChipKind kind)
{
    for (const ChipProfile &profile : profiles())
        if (profile.kind == kind)
            return profile;
    std::abort();
}

std::optional<ChipKind> kind_from_name(std::string_view name)
{
    for (const ChipProfile &profile : profiles())
        if (profile.name == name)
            return profile.kind;
    return std::nullopt;
}

} // namespace corvane::sim
