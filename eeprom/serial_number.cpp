#include "eeprom/serial_number.h"

#include "platform/runtime.h"

#include <atomic>
#include <cstring>
#include <ctime>

namespace corvane::eeprom {

namespace {

CalendarTime system_calendar_time()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    platform::local_time(now, local);
    return {local.tm_year, local.tm_mon, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

std::atomic<CalendarClock> calendar_clock{&system_calendar_time};

constexpr int serial_digits = 6;

// A field of the time as the generator packs it; a clock before 1999 would give a
// negative year count, which is taken as 0 rather than spread over the whole value.
uint64_t field(int value)
{
    return value < 0 ? 0 : static_cast<uint64_t>(value);
}

} // namespace

CalendarClock set_calendar_clock(CalendarClock clock)
{
    return calendar_clock.exchange(clock != nullptr ? clock : &system_calendar_time);
}

void SerialNumberGenerator(char (&out)[automatic_serial_size], const char *prefix, unsigned seed)
{
    const CalendarTime time = calendar_clock.load()();
    // The fields are ORed in, not added: a year count above 15 overlaps the seed's bits,
    // as serials made earlier already do.
    uint64_t value = seed;
    value = value * 16 | field(time.years_since_1900 - 99);
    value = value * 16 | field(time.month);
    value = value * 32 | field(time.day);
    value = value * 32 | field(time.hour);
    value = value * 64 | field(time.minute);
    value = value * 32 | field(time.second / 2);

    char digits[16];
    int count = 0;
    do {
        const unsigned digit = static_cast<unsigned>(value % 36);
        digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10);
        value /= 36;
    } while (value != 0);

    int length = 0;
    for (int i = 0; i < 2 && prefix != nullptr && prefix[i] != '\0'; ++i)
        out[length++] = prefix[i];
    for (int pad = count; pad < serial_digits; ++pad)
        out[length++] = '0';
    // Most significant first; more than six digits keep the first six.
    for (int i = 0; i < serial_digits && i < count; ++i)
        out[length++] = digits[count - 1 - i];
    out[length] = '\0';
}

const char *choose_serial(const char *given, const char *manufacturer_id, uint16_t product_id,
                          char (&automatic)[automatic_serial_size])
{
    if (given != nullptr && given[0] != '\0')
        return given;
    SerialNumberGenerator(automatic, manufacturer_id, product_id & 3u);
    return automatic;
}

} // namespace corvane::eeprom
