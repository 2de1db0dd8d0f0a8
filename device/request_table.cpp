// The two request tables: a logical request index to the I/O control code that the
// installed bus driver understands. Drivers of one generation answer the codes of
// function i, others only those of function 0x800 + i; FT_Open picks the table per handle.
#include "device/handle_record.h"

namespace corvane::device {
namespace {

constexpr uint32_t no_request = 0xFFFFFFFFu;

// The indexes that either driver generation implements. The gaps were never assigned,
// so their entries carry a code that no driver answers.
constexpr bool is_supported(unsigned index)
{
    struct Range {
        unsigned first, last;
    };
    constexpr Range supported[] = {{0, 3},   {16, 16}, {32, 41}, {65, 65},  {67, 69},  {71, 74},
                                   {76, 77}, {81, 83}, {86, 87}, {89, 107}, {111, 118}};
    for (const Range &range : supported)
        if (index >= range.first && index <= range.last)
            return true;
    return false;
}

constexpr uint32_t primary(unsigned index)
{
    return is_supported(index) ? 0x00220000u + 4u * index : no_request;
}
constexpr uint32_t alternate(unsigned index)
{
    return is_supported(index) ? 0x00222000u + 4u * index : no_request;
}

constexpr unsigned supported_count()
{
    unsigned count = 0;
    for (unsigned index = 0; index < request_count; ++index)
        count += is_supported(index) ? 1 : 0;
    return count;
}
static_assert(supported_count() == 57);

} // namespace

// The tables are plain arrays so that the EEPROM library can take entries straight
// from a handle record; ten entries a row.
#define CORVANE_TEN(entry, first)                                                                                      \
    entry(first), entry(first + 1), entry(first + 2), entry(first + 3), entry(first + 4), entry(first + 5),            \
        entry(first + 6), entry(first + 7), entry(first + 8), entry(first + 9)
#define CORVANE_TABLE(entry)                                                                                           \
    {                                                                                                                  \
        CORVANE_TEN(entry, 0), CORVANE_TEN(entry, 10), CORVANE_TEN(entry, 20), CORVANE_TEN(entry, 30),                 \
            CORVANE_TEN(entry, 40), CORVANE_TEN(entry, 50), CORVANE_TEN(entry, 60), CORVANE_TEN(entry, 70),            \
            CORVANE_TEN(entry, 80), CORVANE_TEN(entry, 90), CORVANE_TEN(entry, 100), entry(110), entry(111),           \
            entry(112), entry(113), entry(114), entry(115), entry(116), entry(117), entry(118)                         \
    }

const RequestTable primary_requests = CORVANE_TABLE(primary);
const RequestTable alternate_requests = CORVANE_TABLE(alternate);

#undef CORVANE_TABLE
#undef CORVANE_TEN

} // namespace corvane::device
