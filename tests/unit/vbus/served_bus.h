// A corvane-sim server on a thread of the test, over a FakeBus, at a private socket path;
// and a raw socket client that speaks (or breaks) the frame format by hand.
#ifndef CORVANE_TESTS_UNIT_VBUS_SERVED_BUS_H
#define CORVANE_TESTS_UNIT_VBUS_SERVED_BUS_H

#include "fake_bus.h"
#include "sim/server/server.h"
#include "usb/vbus/client.h"
#include "wire/vbus_protocol.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>

namespace corvane::testing {

class ServedBus {
public:
    ServedBus()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-vbus-test-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        path_ = (dir_ / "vbus.sock").string();
        start();
    }
    ~ServedBus()
    {
        stop();
        std::filesystem::remove_all(dir_);
    }

    void start()
    {
        std::string error;
        server_ = sim::Server::start(bus, path_, error);
        if (!server_)
            throw std::runtime_error("server: " + error);
        thread_ = std::thread([this] { server_->run(); });
    }
    void stop()
    {
        if (!server_)
            return;
        server_->stop();
        thread_.join();
        server_.reset();
    }

    const std::string &path() const { return path_; }
    std::unique_ptr<usb::Transport> client() const { return usb::make_vbus_client(path_); }

    FakeBus bus;

private:
    std::filesystem::path dir_;
    std::string path_;
    std::unique_ptr<sim::Server> server_;
    std::thread thread_;
};

// A hand-driven connection, for frames no well-behaved client sends.
class RawClient {
public:
    explicit RawClient(const std::string &path) : fd_(usb::vbus::connect_unix(path)) {}
    ~RawClient()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool connected() const { return fd_ >= 0; }

    void send_bytes(const std::vector<uint8_t> &bytes)
    {
        iovec part{const_cast<uint8_t *>(bytes.data()), bytes.size()};
        usb::vbus::send_all(fd_, &part, 1);
    }
    // Ends what this side sends; replies can still be read.
    void finish_sending() { shutdown(fd_, SHUT_WR); }
    void send_frame(uint16_t type, const std::vector<uint8_t> &payload, uint32_t claimed_length,
                    uint32_t request_id = 1)
    {
        std::vector<uint8_t> frame(usb::vbus::header_size);
        usb::vbus::encode_header({claimed_length, request_id, type, 0}, frame.data());
        frame.insert(frame.end(), payload.begin(), payload.end());
        send_bytes(frame);
    }
    void send_frame(usb::vbus::MessageType type, const std::vector<uint8_t> &payload)
    {
        send_frame(static_cast<uint16_t>(type), payload, static_cast<uint32_t>(payload.size()));
    }
    void hello(uint16_t version = usb::vbus::version)
    {
        std::vector<uint8_t> payload;
        usb::vbus::Writer out(payload);
        out.u32(usb::vbus::magic);
        out.u16(version);
        send_frame(usb::vbus::MessageType::hello, payload);
    }
    // The next reply's header and payload; false when the connection ended first.
    bool receive(usb::vbus::FrameHeader &header, std::vector<uint8_t> &payload)
    {
        uint8_t head[usb::vbus::header_size];
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        if (usb::vbus::recv_all(fd_, head, sizeof head, deadline) != usb::vbus::IoResult::ok)
            return false;
        header = usb::vbus::decode_header(head);
        payload.resize(header.length);
        return usb::vbus::recv_all(fd_, payload.data(), payload.size(), deadline) == usb::vbus::IoResult::ok;
    }
    // True when the server closes the connection (within a bounded wait), after reading
    // and dropping whatever it still sent.
    bool closed_by_server()
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        uint8_t sink[256];
        for (;;) {
            auto result = usb::vbus::recv_all(fd_, sink, 1, deadline);
            if (result == usb::vbus::IoResult::closed)
                return true;
            if (result != usb::vbus::IoResult::ok)
                return false;
        }
    }

private:
    int fd_;
};

} // namespace corvane::testing

#endif // CORVANE_TESTS_UNIT_VBUS_SERVED_BUS_H
