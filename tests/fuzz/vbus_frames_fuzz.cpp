// corvane-sim's frame decoding: arbitrary bytes as a client's frames to a served bus
// (after a valid hello, so that every input reaches the request decoder), and as reply
// payloads to the field readers the client uses.
#include "sim/bus_model.h"
#include "sim/server/server_session.h"
#include "wire/vbus_protocol.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace sim = corvane::sim;
namespace vbus = corvane::usb::vbus;

namespace {

[[noreturn]] void die(const std::string &why)
{
    std::fprintf(stderr, "frames fuzz: %s\n", why.c_str());
    std::abort();
}

const char *const device_ids[] = {"0", "1"};

// A corvane and a dual-channel chip in a state folder of their own, removed at exit.
class ServedBus {
public:
    ServedBus()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            die("no state folder");
        state_dir_ = pattern;
        std::string error;
        std::vector<sim::ChipDescription> chips;
        for (const char *text : {"corvane", "ft2232h"}) {
            auto chip = sim::parse_chip_description(text, error);
            if (!chip)
                die(error);
            chips.push_back(*chip);
        }
        bus_ = sim::BusModel::create(chips, state_dir_, error);
        if (!bus_)
            die(error);
    }
    ~ServedBus()
    {
        bus_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(state_dir_, ignored);
    }
    sim::BusModel &bus() { return *bus_; }

private:
    std::filesystem::path state_dir_;
    std::unique_ptr<sim::BusModel> bus_;
};

sim::BusModel &served_bus()
{
    static ServedBus served;
    return served.bus();
}

void write_all(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return; // the session gave up on a malformed frame
        data += sent;
        size -= static_cast<size_t>(sent);
    }
}

void serve_bytes(const uint8_t *data, size_t size)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        die("no socket pair");
    uint8_t hello[vbus::header_size + 6];
    vbus::encode_header({6, 1, static_cast<uint16_t>(vbus::MessageType::hello), 0}, hello);
    std::vector<uint8_t> payload;
    vbus::Writer out(payload);
    out.u32(vbus::magic);
    out.u16(vbus::version);
    std::copy(payload.begin(), payload.end(), hello + vbus::header_size);

    std::thread client_out([&] {
        write_all(pair[1], hello, sizeof hello);
        write_all(pair[1], data, size);
        ::shutdown(pair[1], SHUT_WR);
    });
    // The replies are drained apart from the requests, or a full socket would stop both.
    std::thread client_in([&] {
        uint8_t sink[4096];
        while (true) {
            ssize_t got = ::recv(pair[1], sink, sizeof sink, 0);
            if (got > 0 || (got < 0 && errno == EINTR))
                continue;
            break;
        }
    });
    {
        sim::Session session(served_bus(), pair[0]);
        session.serve();
    } // closes pair[0]: the drain sees the end
    client_out.join();
    client_in.join();
    ::close(pair[1]);
    // A fault frame may have stalled or unplugged a device; the next input starts afresh.
    for (const char *id : device_ids) {
        served_bus().set_stalled(id, false);
        served_bus().set_plugged(id, true);
    }
}

void read_fields(const uint8_t *data, size_t size)
{
    if (size >= vbus::header_size) {
        vbus::FrameHeader header = vbus::decode_header(data);
        if (header.length <= vbus::max_reply_payload(header.type))
            (void)vbus::decode_status(header.status);
    }
    vbus::Reader in(data, size);
    uint16_t count = in.u16();
    for (uint16_t i = 0; i < count && !in.failed(); ++i) {
        corvane::usb::DeviceIdentity device;
        if (!vbus::read_identity(in, device))
            break;
    }
    (void)vbus::read_setup(in);
    std::span<const uint8_t> rest = in.rest();
    if (rest.size() > size)
        die("the reader handed out more than it was given");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    read_fields(data, size);
    serve_bytes(data, size);
    return 0;
}
