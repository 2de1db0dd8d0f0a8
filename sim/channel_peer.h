// What sits behind a virtual chip's channel FIFOs: a loopback wire, or the cartridge.
#ifndef CORVANE_SIM_CHANNEL_PEER_H
#define CORVANE_SIM_CHANNEL_PEER_H

#include <cstddef>
#include <cstdint>

namespace corvane::sim {

// Called by the chip model with its own lock held, so a peer needs no lock of its own
// for calls from one chip; neither call may block.
class ChannelPeer {
public:
    virtual ~ChannelPeer() = default;

    // Bytes the host wrote to the channel (bulk OUT). Returns how many the peer took:
    // fewer than `size` (or 0) when it cannot take more now, as a full FIFO does.
    virtual size_t take(const uint8_t *data, size_t size) = 0;

    // Copies up to `size` bytes that the peer has for the host; returns the count.
    virtual size_t give(uint8_t *buffer, size_t size) = 0;

    // Bytes ready for give() right now.
    virtual size_t pending() const = 0;

    // The host reset or purged the channel: forget bytes in flight.
    virtual void purge() {}

    // Whether what take() gets comes back out of give() unchanged and in order, so that
    // while nothing is held the chip may hand written bytes to a waiting read directly.
    virtual bool passes_through() const { return false; }
};

} // namespace corvane::sim

#endif // CORVANE_SIM_CHANNEL_PEER_H
