#include "loader/byte_order.h"

#include <cstring>
#include <utility>

namespace corvane::loader {

namespace {

constexpr uint8_t SWAPPED_HALVES_SIGNATURE[] = {0x37, 0x80, 0x40, 0x12};
constexpr uint8_t REVERSED_WORDS_SIGNATURE[] = {0x40, 0x12, 0x37, 0x80};

} // namespace

ByteOrder byte_order_of(const uint8_t *first_bytes, size_t size)
{
    if (size < 4)
        return ByteOrder::big_endian;
    if (std::memcmp(first_bytes, SWAPPED_HALVES_SIGNATURE, 4) == 0)
        return ByteOrder::swapped_halves;
    if (std::memcmp(first_bytes, REVERSED_WORDS_SIGNATURE, 4) == 0)
        return ByteOrder::reversed_words;
    return ByteOrder::big_endian;
}

int32_t word_size(ByteOrder order)
{
    switch (order) {
    case ByteOrder::swapped_halves: return 2;
    case ByteOrder::reversed_words: return 4;
    case ByteOrder::big_endian: break;
    }
    return 1;
}

void to_big_endian(uint8_t *bytes, size_t size, ByteOrder order)
{
    switch (order) {
    case ByteOrder::swapped_halves:
        for (size_t at = 0; at + 1 < size; at += 2)
            std::swap(bytes[at], bytes[at + 1]);
        break;
    case ByteOrder::reversed_words:
        for (size_t at = 0; at + 3 < size; at += 4) {
            std::swap(bytes[at], bytes[at + 3]);
            std::swap(bytes[at + 1], bytes[at + 2]);
        }
        break;
    case ByteOrder::big_endian: break;
    }
}

} // namespace corvane::loader
