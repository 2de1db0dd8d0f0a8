// The socket transport over the real chip models: a loopback ft232r and a corvane.
#include "sim/server/server.h"
#include "wire/ftdi_protocol.h"
#include "usb/vbus/client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace corvane::testing {
namespace {

using usb::Status;
namespace ftdi = usb::ftdi;

class VbusChip : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-vbuschip-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        dir_ = pattern;
        std::string error;
        std::vector<sim::ChipDescription> chips;
        for (const char *text : {"ft232r,serial=LOOP1", "corvane"}) {
            auto chip = sim::parse_chip_description(text, error);
            ASSERT_TRUE(chip) << error;
            chips.push_back(*chip);
        }
        bus_ = sim::VirtualBus::create(chips, dir_, error);
        ASSERT_TRUE(bus_) << error;
        server_ = sim::Server::start(*bus_, (dir_ / "vbus.sock").string(), error);
        ASSERT_TRUE(server_) << error;
        thread_ = std::thread([this] { server_->run(); });
        client_ = usb::make_vbus_client(server_->path());
    }
    void TearDown() override
    {
        client_.reset();
        if (server_) {
            server_->stop();
            thread_.join();
            server_.reset();
        }
        bus_.reset();
        std::filesystem::remove_all(dir_);
    }

    std::filesystem::path dir_;
    std::unique_ptr<sim::VirtualBus> bus_;
    std::unique_ptr<sim::Server> server_;
    std::thread thread_;
    std::unique_ptr<usb::Transport> client_;
};

TEST_F(VbusChip, LatencyTimerSetAndReadBackThroughTheSocket)
{
    std::unique_ptr<usb::Channel> channel;
    ASSERT_EQ(client_->open("0", 1, channel), Status::ok);
    uint16_t moved = 0;
    ASSERT_EQ(channel->control({ftdi::request_out, ftdi::set_latency, 7, 1, 0}, nullptr, 1000, &moved), Status::ok);
    uint8_t latency = 0;
    ASSERT_EQ(channel->control({ftdi::request_in, ftdi::get_latency, 0, 1, 1}, &latency, 1000, &moved), Status::ok);
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(latency, 7);
}

TEST_F(VbusChip, LoopbackBytesComeBackInPacketsWithStatusBytes)
{
    std::unique_ptr<usb::Channel> channel;
    ASSERT_EQ(client_->open("0", 1, channel), Status::ok);
    std::vector<uint8_t> sent(1000);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 13);
    size_t went = 0;
    ASSERT_EQ(channel->bulk_out(sent.data(), sent.size(), 1000, &went), Status::ok);
    ASSERT_EQ(went, sent.size());

    std::vector<uint8_t> data;
    std::vector<uint8_t> packets(64 * 32);
    for (int round = 0; round < 50 && data.size() < sent.size(); ++round) {
        size_t got = 0;
        Status status = channel->bulk_in(packets.data(), packets.size(), 1000, &got);
        ASSERT_TRUE(status == Status::ok || status == Status::timeout) << usb::status_name(status);
        for (size_t at = 0; at < got; at += 64) {
            size_t end = std::min(got, at + 64);
            ASSERT_GE(end - at, ftdi::status_bytes) << "a packet without its status bytes";
            data.insert(data.end(), packets.begin() + static_cast<std::ptrdiff_t>(at + ftdi::status_bytes),
                        packets.begin() + static_cast<std::ptrdiff_t>(end));
        }
    }
    EXPECT_EQ(data, sent);
}

TEST_F(VbusChip, StoppingTheServerEndsAReadThatWaitsForData)
{
    std::unique_ptr<usb::Channel> channel;
    ASSERT_EQ(client_->open("0", 1, channel), Status::ok);
    // Long latency: the chip would otherwise answer with status-only packets.
    uint16_t moved = 0;
    ASSERT_EQ(channel->control({ftdi::request_out, ftdi::set_latency, 255, 1, 0}, nullptr, 1000, &moved), Status::ok);
    std::vector<uint8_t> packets(64 * 4);
    size_t got = 0;
    Status status = Status::ok;
    std::thread reader([&] {
        for (int i = 0; i < 1000 && status == Status::ok; ++i)
            status = channel->bulk_in(packets.data(), packets.size(), 60000, &got);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto start = std::chrono::steady_clock::now();
    server_->stop();
    thread_.join();
    server_.reset();
    reader.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(status, Status::no_device);
}

} // namespace
} // namespace corvane::testing
