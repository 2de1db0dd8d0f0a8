#include "eeprom/latency_boost.h"

namespace corvane::eeprom {

namespace {
constexpr uint8_t eeprom_write_latency_ms = 119;
}

LatencyBoost::LatencyBoost(FtdevHandle handle) : handle_(handle)
{
    if (FT_GetLatencyTimer(handle_, &saved_) != FTDEV_OK)
        return;
    raised_ = true;
    FT_SetLatencyTimer(handle_, eeprom_write_latency_ms);
}

LatencyBoost::~LatencyBoost()
{
    restore();
}

FtdevStatus LatencyBoost::restore()
{
    if (!raised_)
        return FTDEV_OK;
    raised_ = false;
    return FT_SetLatencyTimer(handle_, saved_);
}

} // namespace corvane::eeprom
