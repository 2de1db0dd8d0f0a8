// One client connection of corvane-sim: reads its frames, answers them on the bus.
#ifndef CORVANE_SIM_SERVER_SERVER_SESSION_H
#define CORVANE_SIM_SERVER_SERVER_SESSION_H

#include "sim/virtual_bus.h"
#include "wire/vbus_protocol.h"
#include "wire/vbus_shared.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <array>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvane::sim {

class Session {
public:
    // Takes `fd`, a connected socket; adds a bus client for it.
    Session(VirtualBus &bus, int fd);
    ~Session(); // as serve() ends, when it never ran; closes the socket
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Serves until the peer goes, sends a malformed frame, or shut() is called; then ends
    // the client's claims and waits for its transfers.
    void serve();
    // Wakes serve() from another thread.
    void shut();

private:
    using Clock = std::chrono::steady_clock;

    struct BulkJob {
        usb::vbus::FrameHeader header;
        std::string id;
        unsigned channel = 0;
        unsigned timeout_ms = 0;
        Clock::time_point deadline;
        uint8_t *data = nullptr; // the request's slot of the shared memory
        size_t size = 0;         // bytes to send or to receive
        size_t done = 0;         // bulk_out: bytes the reader thread already moved itself
        uint64_t ticket = 0;     // bulk_in: its place in the channel's order
    };
    // The bulk_in requests of one channel waiting in the simulator. One worker serves them
    // in the order they came, one after the other, as a host controller serves the
    // transfers queued on one pipe: two at once could take the chip's bytes out of turn.
    struct InLane {
        std::string id;
        unsigned channel = 0;
        // In the order they came. A client keeps at most max_in_flight reads waiting, so
        // a ring of that size holds them, filled and emptied without allocating.
        std::array<BulkJob, usb::vbus::max_in_flight> waiting;
        size_t oldest = 0;
        size_t count = 0;
        bool served = false;       // a worker is on it
        uint64_t issued = 0;       // tickets handed out
        uint64_t ended = 0;        // tickets whose transfer has ended
        uint64_t stale_before = 0; // tickets given up by a discard_in: they skip the bus
        std::condition_variable progress;
    };
    struct Worker {
        std::thread thread;
        std::condition_variable wake;
        BulkJob job;            // a bulk_out
        InLane *lane = nullptr; // or the bulk_in of a channel
        bool has_job = false;
        bool busy = false;
    };

    void read_frames();
    void end();
    bool handshake();
    bool handle_inline(const usb::vbus::FrameHeader &header, const uint8_t *payload);
    bool start_bulk(const usb::vbus::FrameHeader &header, const uint8_t *payload);
    bool finish_bulk_at_once(BulkJob &job);
    void run_bulk(BulkJob &job);
    void reply_bulk(const BulkJob &job, usb::Status status, size_t transferred);
    InLane *lane_of(const std::string &id, unsigned channel);       // pool_lock_ held
    InLane *existing_lane(const std::string &id, unsigned channel); // pool_lock_ held
    void end_reads_sent_before(const std::string &id, unsigned channel);
    bool queue_read(BulkJob &&job);
    void serve_lane(std::unique_lock<std::mutex> &guard, InLane &lane);
    void worker_loop(Worker &worker);
    Worker *acquire_worker();
    void stop_workers();

    bool reply(const usb::vbus::FrameHeader &request, usb::Status status, const uint8_t *payload, size_t size);

    VirtualBus &bus_;
    VirtualBus::ClientId client_;
    int fd_;
    usb::vbus::Inbox inbox_;                          // read by the reader thread alone
    std::unique_ptr<usb::vbus::SharedRegion> region_; // made at the hello
    std::mutex send_lock_;
    std::vector<uint8_t> request_; // inline requests' payloads, reused
    std::vector<uint8_t> answer_;  // inline replies' payloads, reused

    std::mutex pool_lock_;
    std::condition_variable worker_idle_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::list<InLane> lanes_;  // only those with requests waiting
    size_t reads_waiting_ = 0; // bulk_in requests queued in lanes, or on the bus
    bool stopping_ = false;
    bool ended_ = false;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_SERVER_SERVER_SESSION_H
