// The simulator's socket under load from many clients at once, some of them hostile:
// clients that vanish in the middle of a frame, one that floods the server with more
// waiting transfers than it may have. The server must keep serving everyone else.
// (Single malformed frames are the socket tests' own: VbusMalformedFrame.)
#include "unit/vbus/served_bus.h"

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace corvane::testing {
namespace {

namespace vbus = usb::vbus;

std::vector<uint8_t> bulk_in_request(const char *id, uint8_t channel, uint32_t size, uint32_t timeout_ms)
{
    std::vector<uint8_t> payload;
    vbus::Writer out(payload);
    out.str(id);
    out.u8(channel);
    out.u32(size);
    out.u32(timeout_ms);
    out.u16(0); // every one into the first shared slot: the flood's data is its own affair
    return payload;
}

// A well-behaved round: hello, then a list that names both devices.
bool hello_and_list(RawClient &client)
{
    vbus::FrameHeader header;
    std::vector<uint8_t> payload;
    client.hello();
    if (!client.receive(header, payload) || header.status != 0)
        return false;
    client.send_frame(vbus::MessageType::list, {});
    if (!client.receive(header, payload) || header.type != static_cast<uint16_t>(vbus::MessageType::list))
        return false;
    vbus::Reader in(payload.data(), payload.size());
    return in.u16() == 2;
}

TEST(SocketClients, ManyAtOnceWithSomeHangingUpMidFrameAreAllServed)
{
    ServedBus served;
    constexpr int client_count = 48;
    std::atomic<int> served_well{0};
    auto all = std::async(std::launch::async, [&] {
        std::vector<std::thread> clients;
        for (int number = 0; number < client_count; ++number) {
            clients.emplace_back([&, number] {
                RawClient client(served.path());
                if (!client.connected())
                    return;
                if (number % 3 == 2) {
                    // Half a header, half a payload, or a header promising more than comes.
                    client.hello();
                    std::vector<uint8_t> part(number % 2 ? 5 : vbus::header_size + 3, 0x07);
                    client.send_bytes(part);
                    return; // the socket closes here
                }
                if (hello_and_list(client))
                    ++served_well;
            });
        }
        for (std::thread &client : clients)
            client.join();
    });
    // Hang detection only.
    ASSERT_EQ(all.wait_for(std::chrono::seconds(120)), std::future_status::ready) << "clients still waiting";
    EXPECT_EQ(served_well.load(), client_count - client_count / 3);

    RawClient late(served.path());
    ASSERT_TRUE(late.connected());
    EXPECT_TRUE(hello_and_list(late)) << "the server stopped serving after the crowd";
}

TEST(SocketClients, MoreWaitingTransfersThanAllowedEndOnlyThatConnection)
{
    ServedBus served;
    RawClient flood(served.path());
    ASSERT_TRUE(flood.connected());
    vbus::FrameHeader header;
    std::vector<uint8_t> payload;
    flood.hello();
    ASSERT_TRUE(flood.receive(header, payload));
    // Reads that wait (nothing to read) and are never collected, far past the limit.
    for (uint32_t request = 0; request < 4 * vbus::max_in_flight; ++request)
        flood.send_frame(static_cast<uint16_t>(vbus::MessageType::bulk_in), bulk_in_request("0", 1, 512, 300),
                         static_cast<uint32_t>(bulk_in_request("0", 1, 512, 300).size()), request + 2);

    // Meanwhile another client is served as ever.
    RawClient other(served.path());
    ASSERT_TRUE(other.connected());
    EXPECT_TRUE(hello_and_list(other));
    // The flood either gets its answers or is cut off; it never takes the server down.
    flood.finish_sending();
    flood.closed_by_server();
    RawClient after(served.path());
    EXPECT_TRUE(hello_and_list(after));
}

} // namespace
} // namespace corvane::testing
