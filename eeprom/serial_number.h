// The automatic serial number: the manufacturer id's first two characters and six base-36
// digits of the local calendar time, for images whose caller gives no serial.
#ifndef CORVANE_EEPROM_SERIAL_NUMBER_H
#define CORVANE_EEPROM_SERIAL_NUMBER_H

#include <cstdint>

namespace corvane::eeprom {

struct CalendarTime {
    int years_since_1900;
    int month; // 0-11
    int day;   // 1-31
    int hour;
    int minute;
    int second;
};

using CalendarClock = CalendarTime (*)();

// The local calendar time the generator reads; tests put a fixed clock in its place.
// Returns the clock it replaces; nullptr restores the system's.
CalendarClock set_calendar_clock(CalendarClock clock);

// Room for the longest serial the generator makes and its terminator.
constexpr int automatic_serial_size = 9;

// Writes the serial for `prefix` (only its first two characters are used, and only those
// it has) and `seed` (0 to 3, the product id's low bits) into `out`.
void SerialNumberGenerator(char (&out)[automatic_serial_size], const char *prefix, unsigned seed);

// The caller's serial when it has one, else the automatic one written into `automatic`.
const char *choose_serial(const char *given, const char *manufacturer_id, uint16_t product_id,
                          char (&automatic)[automatic_serial_size]);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_SERIAL_NUMBER_H
