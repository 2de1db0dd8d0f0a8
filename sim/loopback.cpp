#include "sim/loopback.h"

#include <algorithm>
#include <cstring>

namespace corvane::sim {

// The ring is allocated once and left uninitialised: only written bytes are ever read.
Loopback::Loopback(size_t capacity) : ring_(new uint8_t[capacity]), capacity_(capacity) {}

size_t Loopback::take(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    size_t accepted = std::min(size, capacity_ - count_);
    size_t tail = (head_ + count_) % capacity_;
    size_t first = std::min(accepted, capacity_ - tail);
    std::memcpy(&ring_[tail], data, first);
    std::memcpy(&ring_[0], data + first, accepted - first);
    count_ += accepted;
    return accepted;
}

size_t Loopback::give(uint8_t *buffer, size_t size)
{
    size_t given = std::min(size, count_);
    if (given == 0)
        return 0;
    size_t first = std::min(given, capacity_ - head_);
    std::memcpy(buffer, &ring_[head_], first);
    std::memcpy(buffer + first, &ring_[0], given - first);
    head_ = (head_ + given) % capacity_;
    count_ -= given;
    if (count_ == 0)
        head_ = 0;
    return given;
}

} // namespace corvane::sim
