#include "driver/baud_rate.h"

#include <cmath>
#include <span>

namespace corvane::driver {

namespace {

constexpr double base_clock_hz = 3'000'000.0;  // 48 MHz / 16
constexpr double high_clock_hz = 12'000'000.0; // 120 MHz / 10, high-speed chips only
constexpr uint32_t high_clock_flag = 1u << 17;
constexpr unsigned fraction_shift = 14;
constexpr uint32_t integer_mask = 0x3FFF;
// The integer part has 14 bits.
constexpr uint32_t largest_divisor_eighths = 16383u * 8u + 7u;
constexpr double tolerance = 0.03;

// Fraction code by the number of eighths it stands for.
constexpr uint32_t fraction_code[8] = {0, 3, 2, 4, 1, 5, 6, 7};
// Eighths by fraction code.
constexpr uint32_t fraction_eighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
constexpr uint32_t all_fractions[] = {0, 1, 2, 3, 4, 5, 6, 7};
constexpr uint32_t coarse_fractions[] = {0, 1, 2, 4};

struct Candidate {
    uint32_t encoded = 0;
    double rate = 0;
    double error = 1e300;
};

void consider(Candidate &best, uint32_t encoded, double rate, uint32_t baud)
{
    double error = std::fabs(rate - baud) / baud;
    if (error < best.error)
        best = {encoded, rate, error};
}

Candidate best_on_clock(double clock_hz, uint32_t flag, bool coarse, uint32_t baud)
{
    Candidate best;
    // Integer parts 0 and 1 stand for the two fastest rates and take no fraction.
    consider(best, flag | 0, clock_hz, baud);
    consider(best, flag | 1, clock_hz * 2.0 / 3.0, baud);

    double exact_eighths = clock_hz * 8.0 / baud;
    double whole = std::floor(exact_eighths / 8.0);
    if (whole > largest_divisor_eighths / 8)
        whole = largest_divisor_eighths / 8;
    auto base = static_cast<uint32_t>(whole);
    for (uint32_t integer = base; integer <= base + 1; ++integer) {
        if (integer < 2)
            continue;
        for (uint32_t eighths :
             coarse ? std::span<const uint32_t>(coarse_fractions) : std::span<const uint32_t>(all_fractions)) {
            uint32_t divisor_eighths = integer * 8 + eighths;
            if (divisor_eighths > largest_divisor_eighths)
                continue;
            uint32_t encoded = flag | integer | fraction_code[eighths] << fraction_shift;
            consider(best, encoded, clock_hz * 8.0 / divisor_eighths, baud);
        }
    }
    return best;
}

} // namespace

std::optional<BaudDivisor> choose_baud_divisor(Family family, uint32_t baud)
{
    if (baud == 0)
        return std::nullopt;
    Candidate best = best_on_clock(base_clock_hz, 0, has_coarse_divisor_fraction(family), baud);
    if (has_high_baud_clock(family)) {
        Candidate high = best_on_clock(high_clock_hz, high_clock_flag, false, baud);
        if (high.error <= best.error)
            best = high;
    }
    if (best.error > tolerance)
        return std::nullopt;
    return BaudDivisor{best.encoded, static_cast<uint32_t>(std::lround(best.rate))};
}

uint32_t rate_of_divisor(uint32_t encoded)
{
    const double clock_hz = (encoded & high_clock_flag) ? high_clock_hz : base_clock_hz;
    const uint32_t integer = encoded & integer_mask;
    if (integer == 0)
        return static_cast<uint32_t>(std::lround(clock_hz));
    if (integer == 1)
        return static_cast<uint32_t>(std::lround(clock_hz * 2.0 / 3.0));
    const uint32_t eighths = integer * 8 + fraction_eighths[(encoded >> fraction_shift) & 7];
    return static_cast<uint32_t>(std::lround(clock_hz * 8.0 / eighths));
}

BaudRequestFields baud_request_fields(uint32_t encoded, bool index_carries_channel, unsigned channel)
{
    BaudRequestFields fields;
    fields.value = static_cast<uint16_t>(encoded & 0xFFFF);
    uint32_t upper = encoded >> 16;
    if (index_carries_channel)
        fields.index = static_cast<uint16_t>(upper << 8 | (channel & 0xFF));
    else
        fields.index = static_cast<uint16_t>(upper);
    return fields;
}

} // namespace corvane::driver
