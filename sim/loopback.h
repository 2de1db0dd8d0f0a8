// A loopback plug on a channel: the bytes the host writes come back to its reader, through
// one bounded ring (a full ring takes no more, as the chip's buffers refuse bytes).
#ifndef CORVANE_SIM_LOOPBACK_H
#define CORVANE_SIM_LOOPBACK_H

#include "sim/channel_peer.h"

#include <memory>

namespace corvane::sim {

class Loopback final : public ChannelPeer {
public:
    static constexpr size_t default_capacity = 1024 * 1024;

    explicit Loopback(size_t capacity = default_capacity);

    size_t take(const uint8_t *data, size_t size) override;
    size_t give(uint8_t *buffer, size_t size) override;
    size_t pending() const override { return count_; }
    void purge() override { head_ = count_ = 0; }
    bool passes_through() const override { return true; }

private:
    std::unique_ptr<uint8_t[]> ring_;
    size_t capacity_;
    size_t head_ = 0; // oldest byte
    size_t count_ = 0;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_LOOPBACK_H
