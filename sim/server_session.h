// One client connection of corvane-sim: reads its frames, answers them on the bus.
#ifndef CORVANE_SIM_SERVER_SESSION_H
#define CORVANE_SIM_SERVER_SESSION_H

#include "sim/virtual_bus.h"
#include "usb/vbus_protocol.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvane::sim {

// A byte buffer that only grows, so that reused buffers allocate nothing per transfer
// (a vector would also zero what it grows by on every resize).
class ByteBuffer {
public:
    uint8_t *reserve(size_t size);
    uint8_t *data() { return bytes_.get(); }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t capacity_ = 0;
};

class Session {
public:
    // Takes `fd`, a connected socket; adds a bus client for it.
    Session(VirtualBus &bus, int fd);
    ~Session();   // as serve() ends, when it never ran; closes the socket
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Serves until the peer goes, sends a malformed frame, or shut() is called; then ends
    // the client's claims and waits for its transfers.
    void serve();
    // Wakes serve() from another thread.
    void shut();

private:
    struct BulkJob {
        usb::vbus::FrameHeader header;
        std::string id;
        unsigned channel = 0;
        unsigned timeout_ms = 0;
        size_t offset = 0;   // bulk_out: where the data starts in the worker's buffer
        size_t size = 0;     // bytes to send or to receive
        size_t done = 0;     // bulk_out: bytes the reader thread already moved itself
    };
    struct Worker {
        std::thread thread;
        std::condition_variable wake;
        ByteBuffer data;
        BulkJob job;
        bool has_job = false;
        bool busy = false;
    };

    void read_frames();
    void end();
    bool handshake();
    bool handle_inline(const usb::vbus::FrameHeader &header, const uint8_t *payload);
    bool start_bulk(const usb::vbus::FrameHeader &header);
    bool finish_bulk_at_once(Worker &worker);
    void run_bulk(Worker &worker);
    void worker_loop(Worker &worker);
    Worker *acquire_worker();
    void release_worker(Worker &worker);
    void stop_workers();

    bool reply(const usb::vbus::FrameHeader &request, usb::Status status, const uint8_t *payload, size_t size);

    VirtualBus &bus_;
    VirtualBus::ClientId client_;
    int fd_;
    usb::vbus::Inbox inbox_;         // read by the reader thread alone
    std::mutex send_lock_;
    std::vector<uint8_t> request_;   // inline requests' payloads, reused
    std::vector<uint8_t> answer_;    // inline replies' payloads, reused

    std::mutex pool_lock_;
    std::condition_variable worker_idle_;
    std::vector<std::unique_ptr<Worker>> workers_;
    bool stopping_ = false;
    bool ended_ = false;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_SERVER_SESSION_H
