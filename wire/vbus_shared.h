// The memory a virtual bus connection shares between corvane-sim and its client.
//
// Bulk data does not travel in the socket's frames: the simulator makes one region per
// connection, cut into slots of equal size, and hands its descriptor over with the hello
// reply. A bulk request names a slot; bulk OUT data is in it when the request goes, and
// bulk IN data is in it when the reply comes. The frames stay a few dozen bytes, and each
// byte is copied once on its way instead of through the socket's buffers twice.
//
// The client chooses the slots. A slot belongs to the simulator from the moment its
// request is sent until its reply has come, even if the request's caller gave up waiting.
// The region is sealed against shrinking: a peer that could cut it short would make
// every access past the new end a fault.
#ifndef CORVANE_WIRE_VBUS_SHARED_H
#define CORVANE_WIRE_VBUS_SHARED_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace corvane::usb::vbus {

class SharedRegion {
public:
    // The simulator's side: a new region of `slot_count` slots of `slot_size` bytes.
    // nullptr with the reason in `error` when the system refuses.
    static std::unique_ptr<SharedRegion> create(unsigned slot_count, size_t slot_size, std::string &error);
    // The client's side: maps the region behind `fd` (which this takes over), refusing one
    // that is smaller than its slots or not sealed against shrinking.
    static std::unique_ptr<SharedRegion> adopt(int fd, unsigned slot_count, size_t slot_size, std::string &error);
    ~SharedRegion();
    SharedRegion(const SharedRegion &) = delete;
    SharedRegion &operator=(const SharedRegion &) = delete;

    int fd() const { return fd_; }
    unsigned slot_count() const { return slot_count_; }
    size_t slot_size() const { return slot_size_; }
    // Whether `size` bytes from the start of slot `slot` lie within the region.
    bool holds(unsigned slot, size_t size) const { return slot < slot_count_ && size <= slot_size_; }
    uint8_t *slot(unsigned index) const { return base_ + index * slot_size_; }

private:
    // Maps the region behind `fd`, which it takes over (and closes on failure).
    static std::unique_ptr<SharedRegion> map(int fd, unsigned slot_count, size_t slot_size, std::string &error);
    SharedRegion(int fd, uint8_t *base, unsigned slot_count, size_t slot_size)
        : fd_(fd), base_(base), slot_count_(slot_count), slot_size_(slot_size)
    {}

    int fd_;
    uint8_t *base_;
    unsigned slot_count_;
    size_t slot_size_;
};

} // namespace corvane::usb::vbus

#endif // CORVANE_WIRE_VBUS_SHARED_H
