#include "wire/vbus_protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

namespace corvane::usb::vbus {
namespace {

void put_le(uint8_t *out, uint64_t value, unsigned bytes)
{
    for (unsigned i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t get_le(const uint8_t *in, unsigned bytes)
{
    uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i)
        value |= uint64_t{in[i]} << (8 * i);
    return value;
}

constexpr size_t string_field = 2 + max_string;
constexpr size_t channel_address = string_field + 1;
// id, vendor, product, bcd, three strings, channels, packet size, location, flags
constexpr size_t identity_field = 4 * string_field + 3 * 2 + 1 + 2 + 4 + 1;
constexpr size_t setup_field = 8;

// Moves `parts` past their first `sent` bytes: whole parts drop off, one sent in part shrinks.
void skip_sent(iovec *&parts, int &count, size_t sent)
{
    while (count > 0 && sent >= parts->iov_len) {
        sent -= parts->iov_len;
        ++parts;
        --count;
    }
    if (count > 0) {
        parts->iov_base = static_cast<uint8_t *>(parts->iov_base) + sent;
        parts->iov_len -= sent;
    }
}

// Milliseconds left until `deadline` for poll(); -1 waits for ever.
int poll_timeout(Deadline deadline)
{
    if (deadline == Deadline::max())
        return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return 0;
    return static_cast<int>(std::min<int64_t>(left.count() + 1, 60'000));
}

} // namespace

void encode_header(const FrameHeader &header, uint8_t *out)
{
    put_le(out, header.length, 4);
    put_le(out + 4, header.request_id, 4);
    put_le(out + 8, header.type, 2);
    put_le(out + 10, header.status, 2);
}

FrameHeader decode_header(const uint8_t *in)
{
    FrameHeader header;
    header.length = static_cast<uint32_t>(get_le(in, 4));
    header.request_id = static_cast<uint32_t>(get_le(in + 4, 4));
    header.type = static_cast<uint16_t>(get_le(in + 8, 2));
    header.status = static_cast<uint16_t>(get_le(in + 10, 2));
    return header;
}

size_t max_request_payload(uint16_t type)
{
    switch (static_cast<MessageType>(type)) {
    case MessageType::hello: return 6;
    case MessageType::list: return 0;
    case MessageType::open:
    case MessageType::close:
    case MessageType::discard_in: return channel_address;
    case MessageType::control: return channel_address + setup_field + 4 + max_control_data;
    case MessageType::bulk_out: return channel_address + 4 + 2 + 4;
    case MessageType::bulk_in: return channel_address + 4 + 4 + 2;
    case MessageType::reset_device:
    case MessageType::reenumerate: return string_field;
    case MessageType::fault: return string_field;
    }
    return 0;
}

size_t max_reply_payload(uint16_t type)
{
    switch (static_cast<MessageType>(type)) {
    case MessageType::hello: return 12;
    case MessageType::list: return 2 + max_devices * identity_field;
    case MessageType::open:
    case MessageType::close:
    case MessageType::discard_in:
    case MessageType::reset_device:
    case MessageType::reenumerate: return 0;
    case MessageType::control: return 2 + max_control_data;
    case MessageType::bulk_out: return 8;
    case MessageType::bulk_in: return 4;
    case MessageType::fault: return string_field;
    }
    return 0;
}

uint16_t encode_status(Status status)
{
    return static_cast<uint16_t>(status);
}

Status decode_status(uint16_t value)
{
    if (value > static_cast<uint16_t>(Status::invalid))
        return Status::io_error;
    return static_cast<Status>(value);
}

void Writer::u16(uint16_t value)
{
    uint8_t raw[2];
    put_le(raw, value, 2);
    bytes(raw, 2);
}

void Writer::u32(uint32_t value)
{
    uint8_t raw[4];
    put_le(raw, value, 4);
    bytes(raw, 4);
}

void Writer::u64(uint64_t value)
{
    uint8_t raw[8];
    put_le(raw, value, 8);
    bytes(raw, 8);
}

void Writer::str(std::string_view text)
{
    text = text.substr(0, max_string);
    u16(static_cast<uint16_t>(text.size()));
    bytes(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

const uint8_t *Reader::take(size_t size)
{
    if (failed_ || size > left_) {
        failed_ = true;
        return nullptr;
    }
    const uint8_t *at = data_;
    data_ += size;
    left_ -= size;
    return at;
}

uint8_t Reader::u8()
{
    const uint8_t *at = take(1);
    return at ? at[0] : 0;
}

uint16_t Reader::u16()
{
    const uint8_t *at = take(2);
    return at ? static_cast<uint16_t>(get_le(at, 2)) : 0;
}

uint32_t Reader::u32()
{
    const uint8_t *at = take(4);
    return at ? static_cast<uint32_t>(get_le(at, 4)) : 0;
}

uint64_t Reader::u64()
{
    const uint8_t *at = take(8);
    return at ? get_le(at, 8) : 0;
}

std::string Reader::str()
{
    uint16_t size = u16();
    if (size > max_string) {
        failed_ = true;
        return {};
    }
    const uint8_t *at = take(size);
    return at ? std::string(reinterpret_cast<const char *>(at), size) : std::string();
}

std::span<const uint8_t> Reader::bytes(size_t size)
{
    const uint8_t *at = take(size);
    return at ? std::span<const uint8_t>(at, size) : std::span<const uint8_t>();
}

void write_identity(Writer &out, const DeviceIdentity &device)
{
    out.str(device.id);
    out.u16(device.vendor_id);
    out.u16(device.product_id);
    out.u16(device.bcd_device);
    out.str(device.manufacturer);
    out.str(device.product);
    out.str(device.serial);
    out.u8(device.channels);
    out.u16(device.packet_size);
    out.u32(device.location);
    out.u8(static_cast<uint8_t>((device.virtual_model ? 1 : 0) | (device.alternate_codes_only ? 2 : 0)));
}

bool read_identity(Reader &in, DeviceIdentity &device)
{
    device.id = in.str();
    device.vendor_id = in.u16();
    device.product_id = in.u16();
    device.bcd_device = in.u16();
    device.manufacturer = in.str();
    device.product = in.str();
    device.serial = in.str();
    device.channels = in.u8();
    device.packet_size = in.u16();
    device.location = in.u32();
    uint8_t flags = in.u8();
    device.virtual_model = flags & 1;
    device.alternate_codes_only = flags & 2;
    return !in.failed() && !device.id.empty() && device.channels >= 1 && device.channels <= max_channel &&
           device.packet_size != 0;
}

void write_setup(Writer &out, const ControlSetup &setup)
{
    out.u8(setup.request_type);
    out.u8(setup.request);
    out.u16(setup.value);
    out.u16(setup.index);
    out.u16(setup.length);
}

ControlSetup read_setup(Reader &in)
{
    ControlSetup setup;
    setup.request_type = in.u8();
    setup.request = in.u8();
    setup.value = in.u16();
    setup.index = in.u16();
    setup.length = in.u16();
    return setup;
}

IoResult send_all(int fd, iovec *parts, int count, Deadline deadline)
{
    bool bounded = deadline != Deadline::max();
    while (count > 0) {
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<size_t>(count);
        ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL | (bounded ? MSG_DONTWAIT : 0));
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (bounded && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                pollfd waiting{fd, POLLOUT, 0};
                int ready = poll(&waiting, 1, poll_timeout(deadline));
                if (ready < 0 && errno != EINTR)
                    return IoResult::error;
                if (ready == 0 && std::chrono::steady_clock::now() >= deadline)
                    return IoResult::timeout;
                continue;
            }
            return errno == EPIPE || errno == ECONNRESET ? IoResult::closed : IoResult::error;
        }
        skip_sent(parts, count, static_cast<size_t>(sent));
    }
    return IoResult::ok;
}

namespace {

// Takes the descriptors a received message carried: the first into `passed` (when it is
// still -1), the rest closed.
void keep_descriptor(msghdr &message, int &passed)
{
    for (cmsghdr *control = CMSG_FIRSTHDR(&message); control; control = CMSG_NXTHDR(&message, control)) {
        if (control->cmsg_level != SOL_SOCKET || control->cmsg_type != SCM_RIGHTS)
            continue;
        size_t count = (control->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(control) + i * sizeof(int), sizeof received);
            if (passed < 0)
                passed = received;
            else
                close(received);
        }
    }
}

// Receives at least one and at most `size` bytes into `buffer`; `got` says how many. A
// descriptor that comes along goes to `*passed`, or is closed when that is null.
IoResult recv_some(int fd, uint8_t *buffer, size_t size, Deadline deadline, size_t &got, int wake_fd = -1,
                   int *passed = nullptr)
{
    bool bounded = deadline != Deadline::max() || wake_fd >= 0;
    for (;;) {
        // Try first and poll only when nothing is there: a reply is usually waiting
        // already, and a poll per read would double the system calls of a round trip.
        ssize_t part;
        if (passed) {
            iovec part_vector{buffer, size};
            alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
            msghdr message{};
            message.msg_iov = &part_vector;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            part = recvmsg(fd, &message, MSG_CMSG_CLOEXEC | (bounded ? MSG_DONTWAIT : 0));
            if (part >= 0)
                keep_descriptor(message, *passed);
        } else {
            part = recv(fd, buffer, size, bounded ? MSG_DONTWAIT : 0);
        }
        if (part > 0) {
            got = static_cast<size_t>(part);
            return IoResult::ok;
        }
        if (part == 0)
            return IoResult::closed;
        if (errno == EINTR)
            continue;
        if (errno == ECONNRESET)
            return IoResult::closed;
        if (!bounded || (errno != EAGAIN && errno != EWOULDBLOCK))
            return IoResult::error;
        pollfd waiting[2] = {{fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
        int ready = poll(waiting, wake_fd >= 0 ? 2 : 1, poll_timeout(deadline));
        if (ready < 0 && errno != EINTR)
            return IoResult::error;
        if (ready > 0 && wake_fd >= 0 && (waiting[1].revents & POLLIN) && !(waiting[0].revents & (POLLIN | POLLHUP)))
            return IoResult::interrupted;
        if (ready == 0 && std::chrono::steady_clock::now() >= deadline)
            return IoResult::timeout;
    }
}

} // namespace

IoResult recv_all(int fd, void *buffer, size_t size, Deadline deadline)
{
    auto *at = static_cast<uint8_t *>(buffer);
    while (size > 0) {
        size_t got = 0;
        if (IoResult result = recv_some(fd, at, size, deadline, got); result != IoResult::ok)
            return result;
        at += got;
        size -= got;
    }
    return IoResult::ok;
}

Inbox::Inbox() : bytes_(std::make_unique_for_overwrite<uint8_t[]>(capacity)) {}

IoResult Inbox::fill(int fd, size_t size, Deadline deadline, int wake_fd)
{
    size = std::min(size, capacity);
    if (buffered() >= size)
        return IoResult::ok;
    // What is left of the last frame moves to the front (a few bytes at most), so that
    // the whole buffer is free behind it.
    std::memmove(bytes_.get(), bytes_.get() + start_, buffered());
    end_ -= start_;
    start_ = 0;
    while (end_ < size) {
        size_t got = 0;
        if (IoResult result = recv_some(fd, bytes_.get() + end_, capacity - end_, deadline, got, wake_fd);
            result != IoResult::ok)
            return result;
        end_ += got;
    }
    return IoResult::ok;
}

IoResult Inbox::take(int fd, void *out, size_t size, Deadline deadline)
{
    size_t here = std::min(size, buffered());
    if (here > 0)
        std::memcpy(out, data(), here);
    consume(here);
    return recv_all(fd, static_cast<uint8_t *>(out) + here, size - here, deadline);
}

IoResult Inbox::drop(int fd, size_t size, Deadline deadline)
{
    size_t here = std::min(size, buffered());
    consume(here);
    return discard(fd, size - here, deadline);
}

IoResult discard(int fd, size_t size, Deadline deadline)
{
    uint8_t sink[4096];
    while (size > 0) {
        size_t piece = std::min(size, sizeof sink);
        if (IoResult result = recv_all(fd, sink, piece, deadline); result != IoResult::ok)
            return result;
        size -= piece;
    }
    return IoResult::ok;
}

IoResult send_with_descriptor(int fd, iovec *parts, int count, int passed, Deadline deadline)
{
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = static_cast<size_t>(count);
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *carried = CMSG_FIRSTHDR(&message);
    carried->cmsg_level = SOL_SOCKET;
    carried->cmsg_type = SCM_RIGHTS;
    carried->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(carried), &passed, sizeof passed);
    ssize_t sent;
    do {
        sent = sendmsg(fd, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return errno == EPIPE || errno == ECONNRESET ? IoResult::closed : IoResult::error;
    // The descriptor went with the first byte; whatever did not fit goes plainly.
    skip_sent(parts, count, static_cast<size_t>(sent));
    return count == 0 ? IoResult::ok : send_all(fd, parts, count, deadline);
}

IoResult recv_with_descriptor(int fd, void *buffer, size_t size, Deadline deadline, int &passed)
{
    passed = -1;
    auto *at = static_cast<uint8_t *>(buffer);
    while (size > 0) {
        size_t got = 0;
        if (IoResult result = recv_some(fd, at, size, deadline, got, -1, &passed); result != IoResult::ok) {
            if (passed >= 0)
                close(passed);
            passed = -1;
            return result;
        }
        at += got;
        size -= got;
    }
    return IoResult::ok;
}

int connect_unix(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    while (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (errno == EINTR)
            continue;
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

} // namespace corvane::usb::vbus

namespace corvane::usb {

std::string virtual_bus_address()
{
    if (const char *explicit_address = std::getenv("CORVANE_VBUS"); explicit_address && *explicit_address)
        return explicit_address;
    if (const char *runtime_dir = std::getenv("XDG_RUNTIME_DIR"); runtime_dir && *runtime_dir)
        return std::string(runtime_dir) + "/corvane-vbus.sock";
    return "/tmp/corvane-vbus-" + std::to_string(getuid()) + ".sock";
}

} // namespace corvane::usb
