#include "sim/byte_ring.h"

#include <algorithm>
#include <cstring>

namespace corvane::sim {

size_t ByteRing::put(const uint8_t *data, size_t size)
{
    size_t accepted = std::min(size, room());
    size_t tail = (head_ + count_) % bytes_.size();
    size_t first = std::min(accepted, bytes_.size() - tail);
    std::memcpy(&bytes_[tail], data, first);
    std::memcpy(&bytes_[0], data + first, accepted - first);
    count_ += accepted;
    return accepted;
}

size_t ByteRing::fill_from(ChannelPeer &peer, size_t size)
{
    size = std::min(size, room());
    size_t got = 0;
    while (got < size) {
        size_t tail = (head_ + count_) % bytes_.size();
        size_t piece = std::min(size - got, bytes_.size() - tail);
        size_t given = peer.give(&bytes_[tail], piece);
        count_ += given;
        got += given;
        if (given < piece)
            break;
    }
    return got;
}

size_t ByteRing::get(uint8_t *out, size_t size)
{
    size_t given = std::min(size, count_);
    size_t first = std::min(given, bytes_.size() - head_);
    std::memcpy(out, &bytes_[head_], first);
    std::memcpy(out + first, &bytes_[0], given - first);
    head_ = (head_ + given) % bytes_.size();
    count_ -= given;
    if (count_ == 0)
        head_ = 0;
    return given;
}

size_t ByteRing::drain_to(ChannelPeer &peer)
{
    size_t moved = 0;
    while (count_ > 0) {
        size_t piece = std::min(count_, bytes_.size() - head_);
        size_t taken = peer.take(&bytes_[head_], piece);
        head_ = (head_ + taken) % bytes_.size();
        count_ -= taken;
        moved += taken;
        if (taken < piece)
            break;
    }
    if (count_ == 0)
        head_ = 0;
    return moved;
}

} // namespace corvane::sim
