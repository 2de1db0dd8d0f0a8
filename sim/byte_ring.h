// A bounded byte ring, allocated once: one of a chip's own buffers between the host and a
// channel's peer.
#ifndef CORVANE_SIM_BYTE_RING_H
#define CORVANE_SIM_BYTE_RING_H

#include "sim/channel_peer.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane::sim {

class ByteRing {
public:
    explicit ByteRing(size_t capacity) : bytes_(capacity) {}
    size_t size() const { return count_; }
    size_t room() const { return bytes_.size() - count_; }
    // Each returns the bytes it moved: as many as there are, or as fit, or as the peer
    // gives or takes.
    size_t put(const uint8_t *data, size_t size);
    size_t fill_from(ChannelPeer &peer, size_t size);
    size_t get(uint8_t *out, size_t size);
    size_t drain_to(ChannelPeer &peer);
    void clear() { head_ = count_ = 0; }

private:
    std::vector<uint8_t> bytes_;
    size_t head_ = 0;
    size_t count_ = 0;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_BYTE_RING_H
