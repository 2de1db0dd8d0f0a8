// One connection to corvane-sim, shared by the channels a client process opens on it.
//
// Several threads may wait on it at once (a reading task in bulk_in, another thread
// sending control requests); whichever waiter holds the reader role reads the next reply
// and delivers it straight into the buffer of the request it answers, then hands the
// role on. Requests may be sent and waited for separately, so a channel can keep several
// reads in flight.
#ifndef CORVANE_USB_VBUS_CONNECTION_H
#define CORVANE_USB_VBUS_CONNECTION_H

#include "usb/transport.h"
#include "wire/vbus_protocol.h"
#include "wire/vbus_shared.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct iovec;

namespace corvane::usb::vbus {

// Where a reply's payload goes: its first `prefix_size` bytes to `prefix`, the rest (at
// most `capacity`) to `data`, the caller's own buffer.
struct ReplySink {
    uint8_t *prefix = nullptr;
    size_t prefix_size = 0;
    uint8_t *data = nullptr;
    size_t capacity = 0;
    size_t received = 0; // bytes of `data` filled
    Status status = Status::io_error;
};

class Connection {
public:
    // One request on its way. It stays where its caller keeps it from send() until wait()
    // returns Status::ok or the caller abandons it.
    class Request {
    public:
        ReplySink sink;
        int slot = -1; // the shared slot the request uses, if any

    private:
        friend class Connection;
        uint32_t id_ = 0;
        uint16_t type_ = 0;
        bool filling_ = false; // the reader is writing into the sink: it must stay alive
        bool done_ = false;
    };

    // Connects and says hello, mapping the memory the simulator shares. nullptr when no
    // simulator listens at `address` (Status::no_device) or it speaks another protocol.
    static std::shared_ptr<Connection> open(const std::string &address, Status &status);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Sends `request` (the header is added here). Status::no_device when the connection
    // is gone; then the request is not on its way and needs no abandon().
    Status send(Request &request, MessageType type, iovec *parts, int count, Deadline deadline);
    // Waits for the reply until `deadline`, or until `*stop` is set and interrupt() is
    // called (Status::timeout). Status::ok: the reply is in the sink and the request is
    // finished. Otherwise it is still on its way: wait again or abandon it.
    //
    // A reply read by another waiter costs a second wake-up. A `prompt` waiter (a
    // request answered at once, such as a control transfer) asks the thread that holds
    // the reader role, typically a reading task whose read waits a latency period, to
    // hand the role over; bulk transfers, whose replies stream, do not.
    Status wait(Request &request, Deadline deadline, const std::atomic<bool> *stop = nullptr, bool prompt = false);
    // The caller stops waiting: the reply is dropped when it comes, and the request's
    // slot comes free only then, since the simulator may still write into it.
    void abandon(Request &request);
    // send(), then wait(), abandoning the request when no reply came.
    Status call(MessageType type, iovec *parts, int count, ReplySink &sink, Deadline deadline);

    // A free slot of the shared memory, waiting for one until `deadline`; -1 when none
    // came free in time, or when taking one would leave fewer than `spare` free.
    int take_slot(Deadline deadline, unsigned spare = 0);
    void give_slot(int slot);
    uint8_t *slot_data(int slot) const { return region_->slot(static_cast<unsigned>(slot)); }
    size_t slot_size() const { return region_->slot_size(); }

    // Wakes every waiter, so that those whose stop flag is set return.
    void interrupt();
    bool broken();

private:
    struct Orphan {
        uint32_t id;
        int slot;
    };

    Connection(int fd, int wake_fd) : fd_(fd), wake_fd_(wake_fd) {}
    bool hello(std::string &error);
    void break_off(); // lock_ held
    void read_one_reply(std::unique_lock<std::mutex> &guard, Deadline deadline);
    Request *find(uint32_t id);    // lock_ held
    void forget(Request &request); // lock_ held
    void free_slot_locked(int slot);
    void poke_reader(); // ends the reader's wait for a frame

    int fd_;
    int wake_fd_; // an eventfd: interrupt() makes the reader's wait return
    std::unique_ptr<SharedRegion> region_;
    std::mutex send_lock_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Request *> pending_;
    std::vector<Orphan> orphans_; // abandoned requests still holding a slot
    std::vector<int> free_slots_; // the most recently freed last: its pages are warm
    std::condition_variable slot_freed_;
    uint32_t next_id_ = 1;
    bool reading_ = false;
    unsigned role_wanted_ = 0; // waiters that asked the reader to hand its role over
    bool broken_ = false;
    Inbox inbox_; // the reader's alone: touched only by the thread that is reading_
};

} // namespace corvane::usb::vbus

#endif // CORVANE_USB_VBUS_CONNECTION_H
