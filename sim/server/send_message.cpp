#include "sim/server/send_message.h"

#include "wire/vbus_protocol.h"

#include <cerrno>
#include <cstring>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace corvane::sim {
namespace {

namespace vbus = usb::vbus;

// One request and its reply on a connection of our own: the reply's status and payload,
// or false with the reason in `why`.
bool exchange(int fd, vbus::MessageType type, std::vector<uint8_t> &payload, vbus::Deadline deadline,
              usb::Status &status, std::string &why)
{
    uint8_t head[vbus::header_size];
    vbus::encode_header({static_cast<uint32_t>(payload.size()), 1, static_cast<uint16_t>(type), 0}, head);
    iovec parts[2] = {{head, sizeof head}, {payload.data(), payload.size()}};
    vbus::IoResult result = vbus::send_all(fd, parts, payload.empty() ? 1 : 2, deadline);
    // The reply to hello brings the descriptor of the memory shared with a client; this
    // client moves no bulk data, so it is closed at once.
    if (result == vbus::IoResult::ok) {
        int passed = -1;
        result = vbus::recv_with_descriptor(fd, head, sizeof head, deadline, passed);
        if (passed >= 0)
            ::close(passed);
    }
    vbus::FrameHeader reply = vbus::decode_header(head);
    if (result == vbus::IoResult::ok && (reply.type != static_cast<uint16_t>(type) || reply.request_id != 1 ||
                                         reply.length > vbus::max_reply_payload(reply.type))) {
        why = "what listens there is not a simulator";
        return false;
    }
    if (result == vbus::IoResult::ok) {
        payload.resize(reply.length);
        result = vbus::recv_all(fd, payload.data(), payload.size(), deadline);
    }
    switch (result) {
    case vbus::IoResult::ok: status = vbus::decode_status(reply.status); return true;
    case vbus::IoResult::timeout: why = "no answer in time"; break;
    case vbus::IoResult::closed: why = "the connection ended before the answer"; break;
    default: why = std::strerror(errno); break;
    }
    return false;
}

} // namespace

Delivery send_fault_message(const std::string &socket_path, const std::string &message, std::chrono::milliseconds limit,
                            std::string &answer)
{
    vbus::Deadline deadline = std::chrono::steady_clock::now() + limit;
    int fd = vbus::connect_unix(socket_path);
    if (fd < 0) {
        answer = std::strerror(errno);
        return Delivery::no_answer;
    }
    std::vector<uint8_t> payload;
    vbus::Writer hello(payload);
    hello.u32(vbus::magic);
    hello.u16(vbus::version);
    usb::Status status = usb::Status::ok;
    bool greeted = exchange(fd, vbus::MessageType::hello, payload, deadline, status, answer);
    if (greeted && status != usb::Status::ok) {
        answer = "the simulator refused the connection (a simulator of another build?)";
        greeted = false;
    }
    Delivery delivery = Delivery::no_answer;
    payload.clear();
    vbus::Writer(payload).str(message);
    if (greeted && exchange(fd, vbus::MessageType::fault, payload, deadline, status, answer)) {
        vbus::Reader in(payload.data(), payload.size());
        answer = in.str();
        if (in.failed()) {
            answer = "what listens there is not a simulator";
        } else {
            if (answer.empty())
                answer = usb::status_name(status);
            delivery = status == usb::Status::ok ? Delivery::applied : Delivery::refused;
        }
    }
    ::close(fd);
    return delivery;
}

} // namespace corvane::sim
