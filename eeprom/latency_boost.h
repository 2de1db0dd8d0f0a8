// The FT232R writes its internal EEPROM reliably only with a long latency timer; every
// write to it runs with the timer at 119 ms and puts the caller's value back afterwards,
// on every path, failures included.
#ifndef CORVANE_EEPROM_LATENCY_BOOST_H
#define CORVANE_EEPROM_LATENCY_BOOST_H

#include "ftdev.h"

#include <cstdint>

namespace corvane::eeprom {

class LatencyBoost {
public:
    // Reads the timer and raises it. A timer that cannot be read is left alone, since
    // there would be no value to put back.
    explicit LatencyBoost(FtdevHandle handle);
    ~LatencyBoost();
    LatencyBoost(const LatencyBoost &) = delete;
    LatencyBoost &operator=(const LatencyBoost &) = delete;

    // Puts the saved value back once; the status of that request (0 when nothing was
    // raised or it was already put back).
    FtdevStatus restore();

private:
    FtdevHandle handle_;
    uint8_t saved_ = 0;
    bool raised_ = false;
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_LATENCY_BOOST_H
