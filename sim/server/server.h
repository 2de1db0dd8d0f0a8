// corvane-sim's socket server: serves a VirtualBus to any number of client processes over
// the framed protocol of wire/vbus_protocol.h.
//
// Each connection is one bus client with a thread of its own; bulk transfers run on a
// small pool of workers per connection so that a bulk_in waiting for data does not hold
// up that client's control requests. A malformed frame ends its connection only, and a
// connection's claims end with it, however it ends.
#ifndef CORVANE_SIM_SERVER_SERVER_H
#define CORVANE_SIM_SERVER_SERVER_H

#include "sim/virtual_bus.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <sys/types.h>

namespace corvane::sim {

class Session;

// The fault switches, as text (the socket's fault message and corvane-sim's options):
//   "stall ID on", "stall ID off"   the device stops (resumes) taking and giving bytes
//   "unplug ID", "plug ID"          the device leaves (comes back to) the bus
//   "cut ID BYTES"                  once, the device's next bulk transfer of more than BYTES
//                                   (OUT or IN, whichever comes first) moves only BYTES and
//                                   ends short (VirtualBus::cut_next_transfer)
// ID is a device id as the bus lists it. `answer` says what was done or why not.
usb::Status apply_fault(VirtualBus &bus, std::string_view command, std::string &answer);

class Server {
public:
    // Listens at `path` with owner-only permissions. A socket file left by a simulator
    // that is gone is replaced; one that a live simulator answers on is refused.
    // nullptr with the reason in `error` on failure.
    static std::unique_ptr<Server> start(VirtualBus &bus, const std::string &path, std::string &error);
    // The same test of `path` that start() makes, for a caller that wants to refuse a
    // taken address before it builds its devices (and touches their state files).
    static bool address_free(const std::string &path, std::string &error);
    ~Server(); // stops, ends every connection and removes the socket file
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Accepts and serves until stop(). Ends every connection before it returns.
    void run();
    // Makes run() return; safe from any thread and from a signal handler.
    void stop();

    const std::string &path() const { return path_; }

private:
    struct Connection {
        std::shared_ptr<Session> session;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    Server(VirtualBus &bus, std::string path, int listen_fd, int wake_read, int wake_write);
    void reap(bool all);

    VirtualBus &bus_;
    std::string path_;
    int listen_fd_;
    int wake_read_;
    int wake_write_;
    dev_t socket_device_ = 0; // so that only our own socket file is removed
    ino_t socket_inode_ = 0;
    std::atomic<bool> stopping_{false};
    std::list<Connection> connections_; // touched by run() only
};

} // namespace corvane::sim

#endif // CORVANE_SIM_SERVER_SERVER_H
