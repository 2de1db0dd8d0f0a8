// What goes wrong on the virtual bus socket: hostile frames, a simulator that goes away,
// and the fault switches.
#include "served_bus.h"

#include <future>

namespace corvane::testing {
namespace {

using usb::Status;
namespace vbus = usb::vbus;

std::vector<uint8_t> hello_payload(uint32_t magic, uint16_t version)
{
    std::vector<uint8_t> payload;
    vbus::Writer out(payload);
    out.u32(magic);
    out.u16(version);
    return payload;
}

struct MalformedCase {
    const char *name;
    bool hello_first;
    void (*send)(RawClient &raw);
    friend void PrintTo(const MalformedCase &frame, std::ostream *out) { *out << frame.name; }
};

const MalformedCase malformed_cases[] = {
    {"length beyond any message", true,
     [](RawClient &raw) { raw.send_frame(static_cast<uint16_t>(vbus::MessageType::bulk_out), {}, 0xFFFFFFF0u); }},
    {"length beyond its message type", true,
     [](RawClient &raw) { raw.send_frame(static_cast<uint16_t>(vbus::MessageType::list), {}, 1); }},
    {"unknown message type", true, [](RawClient &raw) { raw.send_frame(0x7777, {}, 0); }},
    {"second hello", true, [](RawClient &raw) { raw.hello(); }},
    {"string longer than its frame", true,
     [](RawClient &raw) {
         raw.send_frame(vbus::MessageType::open, {0x40, 0x00, '0', 1});
     }},
    {"control data that disagrees with its length", true,
     [](RawClient &raw) {
         std::vector<uint8_t> payload;
         vbus::Writer out(payload);
         out.str("0");
         out.u8(1);
         vbus::write_setup(out, {0x40, 0x01, 0, 1, 8});
         out.u32(100);
         out.u8(0xAA); // one byte where the setup announces eight
         raw.send_frame(vbus::MessageType::control, payload);
     }},
    {"bulk read larger than a shared slot", true,
     [](RawClient &raw) {
         std::vector<uint8_t> payload;
         vbus::Writer out(payload);
         out.str("0");
         out.u8(1);
         out.u32(static_cast<uint32_t>(vbus::max_bulk + 512));
         out.u32(100);
         out.u16(0);
         raw.send_frame(vbus::MessageType::bulk_in, payload);
     }},
    {"bulk write naming a slot beyond the shared memory", true,
     [](RawClient &raw) {
         std::vector<uint8_t> payload;
         vbus::Writer out(payload);
         out.str("0");
         out.u8(1);
         out.u32(100);
         out.u16(static_cast<uint16_t>(vbus::region_slots));
         out.u32(1);
         raw.send_frame(vbus::MessageType::bulk_out, payload);
     }},
    {"truncated frame", true,
     [](RawClient &raw) {
         raw.send_frame(static_cast<uint16_t>(vbus::MessageType::open), {0x01, 0x00}, 4);
         raw.finish_sending();
     }},
    {"no hello first", false, [](RawClient &raw) { raw.send_frame(vbus::MessageType::list, {}); }},
    {"wrong protocol version", false,
     [](RawClient &raw) { raw.send_frame(vbus::MessageType::hello, hello_payload(vbus::magic, vbus::version + 1)); }},
    {"wrong magic", false,
     [](RawClient &raw) { raw.send_frame(vbus::MessageType::hello, hello_payload(0x12345678, vbus::version)); }},
};

class VbusMalformedFrame : public ::testing::TestWithParam<MalformedCase> {
protected:
    ServedBus served;
};

TEST_P(VbusMalformedFrame, ClosesThatConnectionOnlyAndEndsItsClaims)
{
    auto good = served.client();
    std::unique_ptr<usb::Channel> kept;
    ASSERT_EQ(good->open("1", 1, kept), Status::ok);

    RawClient raw(served.path());
    ASSERT_TRUE(raw.connected());
    if (GetParam().hello_first) {
        raw.hello();
        vbus::FrameHeader header;
        std::vector<uint8_t> payload;
        ASSERT_TRUE(raw.receive(header, payload));
        std::vector<uint8_t> open;
        vbus::Writer out(open);
        out.str("0");
        out.u8(1);
        raw.send_frame(vbus::MessageType::open, open);
        ASSERT_TRUE(raw.receive(header, payload));
        ASSERT_EQ(vbus::decode_status(header.status), Status::ok);
    }
    GetParam().send(raw);
    EXPECT_TRUE(raw.closed_by_server());

    uint8_t byte = 0x33, back = 0;
    size_t moved = 0;
    EXPECT_EQ(kept->bulk_out(&byte, 1, 1000, &moved), Status::ok);
    EXPECT_EQ(kept->bulk_in(&back, 1, 1000, &moved), Status::ok);
    EXPECT_EQ(back, 0x33);

    std::unique_ptr<usb::Channel> taken;
    Status status = Status::busy;
    for (int i = 0; i < 500 && status == Status::busy; ++i) {
        status = good->open("0", 1, taken);
        if (status == Status::busy)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(status, Status::ok) << "the closed connection still holds its claim";
}

INSTANTIATE_TEST_SUITE_P(Frames, VbusMalformedFrame, ::testing::ValuesIn(malformed_cases), [](const auto &info) {
    std::string name = info.param.name;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
});

TEST(VbusAbsent, NoSimulatorMeansNoDevices)
{
    auto client = usb::make_vbus_client("/nonexistent/corvane-vbus.sock");
    std::vector<usb::DeviceIdentity> devices{usb::DeviceIdentity{}};
    EXPECT_EQ(client->list(devices), Status::ok);
    EXPECT_TRUE(devices.empty());
    std::unique_ptr<usb::Channel> channel;
    EXPECT_EQ(client->open("0", 1, channel), Status::no_device);
}

class VbusServerGone : public ::testing::Test {
protected:
    ServedBus served;
    std::unique_ptr<usb::Transport> client = served.client();
};

TEST_F(VbusServerGone, OpenChannelsAnswerNoDeviceAndAWaitingReadReturns)
{
    std::unique_ptr<usb::Channel> channel;
    ASSERT_EQ(client->open("1", 1, channel), Status::ok);
    uint8_t buffer[64];
    size_t got = 99;
    auto reader = std::async(std::launch::async, [&] { return channel->bulk_in(buffer, sizeof buffer, 30000, &got); });
    // Let the read reach the simulator before it goes.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    served.stop();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the read hung";
    EXPECT_EQ(reader.get(), Status::no_device);
    EXPECT_EQ(got, 0u);

    uint8_t answer[2];
    uint16_t transferred = 0;
    EXPECT_EQ(channel->control({0xC0, 0x05, 0, 1, 2}, answer, 1000, &transferred), Status::no_device);
    uint8_t byte = 1;
    size_t went = 99;
    EXPECT_EQ(channel->bulk_out(&byte, 1, 1000, &went), Status::no_device);
    EXPECT_EQ(went, 0u);
    EXPECT_EQ(channel->reset_device(), Status::no_device);

    std::vector<usb::DeviceIdentity> devices;
    EXPECT_EQ(client->list(devices), Status::ok);
    EXPECT_TRUE(devices.empty());
}

TEST_F(VbusServerGone, ARestartedSimulatorIsFoundAgainByList)
{
    std::unique_ptr<usb::Channel> channel;
    ASSERT_EQ(client->open("0", 1, channel), Status::ok);
    served.stop();
    served.start();
    std::vector<usb::DeviceIdentity> devices;
    ASSERT_EQ(client->list(devices), Status::ok);
    EXPECT_EQ(devices.size(), 2u);
    uint16_t transferred = 0;
    uint8_t answer[2];
    EXPECT_EQ(channel->control({0xC0, 0x05, 0, 1, 2}, answer, 1000, &transferred), Status::no_device)
        << "a channel of the old simulator must not reach the new one";
    std::unique_ptr<usb::Channel> again;
    EXPECT_EQ(client->open("0", 1, again), Status::ok);
}

class VbusFaultSwitch : public ::testing::Test {
protected:
    // Sends a fault message; the status and the simulator's answer.
    std::pair<Status, std::string> send_fault(const std::string &text)
    {
        RawClient raw(served.path());
        raw.hello();
        vbus::FrameHeader header;
        std::vector<uint8_t> payload;
        if (!raw.receive(header, payload))
            return {Status::io_error, "no hello"};
        payload.clear();
        vbus::Writer(payload).str(text);
        raw.send_frame(vbus::MessageType::fault, payload);
        if (!raw.receive(header, payload))
            return {Status::io_error, "no answer"};
        vbus::Reader in(payload.data(), payload.size());
        return {vbus::decode_status(header.status), in.str()};
    }

    ServedBus served;
    std::unique_ptr<usb::Transport> client = served.client();
};

TEST_F(VbusFaultSwitch, UnplugEndsOpenChannelsAndPlugBringsTheDeviceBack)
{
    std::unique_ptr<usb::Channel> channel;
    ASSERT_EQ(client->open("0", 1, channel), Status::ok);
    EXPECT_EQ(send_fault("unplug 0").first, Status::ok);

    std::vector<usb::DeviceIdentity> devices;
    ASSERT_EQ(client->list(devices), Status::ok);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].id, "1");
    uint8_t answer[2];
    uint16_t transferred = 0;
    EXPECT_EQ(channel->control({0xC0, 0x05, 0, 1, 2}, answer, 1000, &transferred), Status::no_device);

    EXPECT_EQ(send_fault("plug 0").first, Status::ok);
    ASSERT_EQ(client->list(devices), Status::ok);
    EXPECT_EQ(devices.size(), 2u);
    EXPECT_EQ(channel->control({0xC0, 0x05, 0, 1, 2}, answer, 1000, &transferred), Status::no_device)
        << "a channel from before the unplug must stay dead";
    std::unique_ptr<usb::Channel> again;
    EXPECT_EQ(client->open("0", 1, again), Status::ok);
}

TEST_F(VbusFaultSwitch, ReenumerateEndsTheClaimOfTheChannelThatAskedForIt)
{
    std::unique_ptr<usb::Channel> channel;
    ASSERT_EQ(client->open("0", 1, channel), Status::ok);
    EXPECT_EQ(channel->reenumerate(), Status::ok);
    uint8_t answer[2];
    uint16_t transferred = 0;
    EXPECT_EQ(channel->control({0xC0, 0x05, 0, 1, 2}, answer, 1000, &transferred), Status::no_device);
}

TEST_F(VbusFaultSwitch, StallSwitchesReachTheBus)
{
    EXPECT_EQ(send_fault("stall 1 on").first, Status::ok);
    EXPECT_TRUE(served.bus.stalled("1"));
    EXPECT_EQ(send_fault("stall 1 off").first, Status::ok);
    EXPECT_FALSE(served.bus.stalled("1"));
}

TEST_F(VbusFaultSwitch, CutSwitchReachesTheBusWithItsByteCount)
{
    EXPECT_EQ(send_fault("cut 1 1000").first, Status::ok);
    EXPECT_EQ(served.bus.cut("1"), std::optional<size_t>(1000));
    EXPECT_EQ(send_fault("cut 1 0").first, Status::ok);
    EXPECT_EQ(served.bus.cut("1"), std::optional<size_t>(0));
    for (const char *text : {"cut 1", "cut 1 -5", "cut 1 12k", "cut 1 1000 2", "cut 1 99999999999999"}) {
        SCOPED_TRACE(text);
        auto [status, answer] = send_fault(text);
        EXPECT_EQ(status, Status::invalid);
        EXPECT_NE(answer.find("cut ID BYTES"), std::string::npos) << answer;
    }
    EXPECT_EQ(served.bus.cut("1"), std::optional<size_t>(0));
    EXPECT_EQ(send_fault("cut 9 10").first, Status::no_device);
}

TEST_F(VbusFaultSwitch, MalformedOrUnknownSwitchesAreRefusedWithTheirForms)
{
    for (const char *text : {"stall 1", "stall 1 maybe", "unplug", "explode 0", ""}) {
        SCOPED_TRACE(text);
        auto [status, answer] = send_fault(text);
        EXPECT_EQ(status, Status::invalid);
        EXPECT_NE(answer.find("stall ID on"), std::string::npos) << answer;
    }
    auto [status, answer] = send_fault("unplug 9");
    EXPECT_EQ(status, Status::no_device);
    EXPECT_NE(answer.find("9"), std::string::npos);
}

} // namespace
} // namespace corvane::testing
