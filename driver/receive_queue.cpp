#include "driver/receive_queue.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace corvane::driver {

bool ReceiveQueue::allocate(size_t capacity)
{
    storage_.reset(new (std::nothrow) uint8_t[capacity]);
    capacity_ = storage_ ? capacity : 0;
    clear();
    return storage_ != nullptr;
}

size_t ReceiveQueue::push(const uint8_t *data, size_t count)
{
    count = std::min(count, room());
    if (count == 0)
        return 0;
    size_t tail = (head_ + size_) % capacity_;
    size_t first = std::min(count, capacity_ - tail);
    std::memcpy(storage_.get() + tail, data, first);
    std::memcpy(storage_.get(), data + first, count - first);
    size_ += count;
    return count;
}

size_t ReceiveQueue::pop(uint8_t *out, size_t count)
{
    count = std::min(count, size_);
    if (count == 0)
        return 0;
    size_t first = std::min(count, capacity_ - head_);
    std::memcpy(out, storage_.get() + head_, first);
    std::memcpy(out + first, storage_.get(), count - first);
    head_ = count == size_ ? 0 : (head_ + count) % capacity_;
    size_ -= count;
    return count;
}

} // namespace corvane::driver
