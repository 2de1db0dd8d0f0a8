// ROM images come in three byte orders, told apart by their first four bytes. The
// cartridge boots only the big-endian one; the other two are turned into it on the way.
#ifndef CORVANE_LOADER_BYTE_ORDER_H
#define CORVANE_LOADER_BYTE_ORDER_H

#include <cstddef>
#include <cstdint>

namespace corvane::loader {

enum class ByteOrder {
    big_endian,     // 80 37 12 40 (.z64), and every file without a known signature
    swapped_halves, // 37 80 40 12 (.v64): the two bytes of each 16-bit word swapped
    reversed_words, // 40 12 37 80 (.n64): the four bytes of each 32-bit word reversed
};

// The order that an image's first `size` bytes announce.
ByteOrder byte_order_of(const uint8_t *first_bytes, size_t size);

// The bytes of one word of the order: 1 (nothing to turn), 2 or 4.
int32_t word_size(ByteOrder order);

// Turns `size` bytes of an image in `order` into big-endian order in place. The bytes must
// start on a word of the order in the file and be whole words.
void to_big_endian(uint8_t *bytes, size_t size, ByteOrder order);

} // namespace corvane::loader

#endif // CORVANE_LOADER_BYTE_ORDER_H
