// The bytes received from the chip and not yet read: a ring buffer allocated once.
// Not locked by itself: the device file guards it with its own lock.
#ifndef CORVANE_DRIVER_RECEIVE_QUEUE_H
#define CORVANE_DRIVER_RECEIVE_QUEUE_H

#include <cstddef>
#include <cstdint>
#include <memory>

namespace corvane::driver {

class ReceiveQueue {
public:
    // False when the storage cannot be allocated.
    bool allocate(size_t capacity);

    size_t size() const { return size_; }
    size_t room() const { return capacity_ - size_; }

    // Appends up to `count` bytes; returns how many fitted.
    size_t push(const uint8_t *data, size_t count);
    // Moves up to `count` of the oldest bytes out; returns how many.
    size_t pop(uint8_t *out, size_t count);
    void clear() { head_ = size_ = 0; }

private:
    std::unique_ptr<uint8_t[]> storage_;
    size_t capacity_ = 0;
    size_t head_ = 0; // the oldest byte
    size_t size_ = 0;
};

} // namespace corvane::driver

#endif // CORVANE_DRIVER_RECEIVE_QUEUE_H
