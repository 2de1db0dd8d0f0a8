// The socket protocol between corvane-sim and its clients (usb/vbus/client.cpp).
//
// Every message is a header and a payload; integers are little-endian:
//   u32 payload length, u32 request id, u16 message type, u16 status
// A client opens with hello (magic and version) and the simulator answers the same way,
// adding the shape of the memory the connection shares (wire/vbus_shared.h), whose
// descriptor comes with the reply. Bulk data travels in that memory's slots, never in a
// frame. Each reply carries the request id of its request, so one connection may have
// several requests in flight: a bulk_in waits in the simulator while control requests
// pass it, and several bulk_in of one channel are served in the order they came.
// Strings are a u16 length and the bytes. Every length is checked against the limits
// below before anything is allocated; a frame that breaks them ends the connection.
//
// Request payloads (replies carry the outcome in the header's status):
//   hello        u32 magic, u16 version                  -> u32 magic, u16 version,
//                                                           u16 slot count, u32 slot size
//   list         (none)                                  -> u16 count, identities
//   open, close  str id, u8 channel                      -> (none)
//   control      str id, u8 channel, setup, u32 timeout, OUT data -> u16 transferred, IN data
//   bulk_out     str id, u8 channel, u32 timeout, u16 slot, u32 size -> u64 transferred
//   bulk_in      str id, u8 channel, u32 size, u32 timeout, u16 slot -> u32 bytes in the slot
//   reset_device, reenumerate   str id                   -> (none)
//   fault        str text (see sim/server/server.h)            -> str answer
//   discard_in   str id, u8 channel                      -> (none), once every bulk_in of the
//                channel sent before it has been answered, none with bytes that came after it
#ifndef CORVANE_WIRE_VBUS_PROTOCOL_H
#define CORVANE_WIRE_VBUS_PROTOCOL_H

#include "wire/usb_types.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct iovec;

namespace corvane::usb::vbus {

constexpr uint32_t magic = 0x53425643; // "CVBS"
constexpr uint16_t version = 2;
constexpr size_t header_size = 12;

constexpr size_t max_string = 255;
constexpr size_t max_devices = 64;
constexpr size_t max_channel = 4;
// The shared memory of a connection: its slots, each the largest bulk transfer of one
// request; the client splits larger ones.
constexpr size_t max_bulk = size_t{1} << 20;
constexpr unsigned region_slots = 16;
constexpr size_t max_control_data = 0xFFFF;
// A client may have at most this many bulk requests waiting in the simulator at once.
constexpr size_t max_in_flight = region_slots;

enum class MessageType : uint16_t {
    hello = 1,
    list,
    open,
    close,
    control,
    bulk_out,
    bulk_in,
    reset_device,
    reenumerate,
    fault,
    discard_in,
};

struct FrameHeader {
    uint32_t length = 0;
    uint32_t request_id = 0;
    uint16_t type = 0;
    uint16_t status = 0;
};

void encode_header(const FrameHeader &header, uint8_t *out);
FrameHeader decode_header(const uint8_t *in);

// The largest payload a request (or a reply) of `type` may carry; 0 for a type that
// does not exist, which makes every frame of it malformed.
size_t max_request_payload(uint16_t type);
size_t max_reply_payload(uint16_t type);

// Status values travel as their number; one the client does not know reads as io_error.
uint16_t encode_status(Status status);
Status decode_status(uint16_t value);

// Appends fields to a caller-owned buffer, so a reused buffer allocates nothing.
class Writer {
public:
    explicit Writer(std::vector<uint8_t> &out) : out_(out) {}
    void u8(uint8_t value) { out_.push_back(value); }
    void u16(uint16_t value);
    void u32(uint32_t value);
    void u64(uint64_t value);
    void str(std::string_view text); // cut at max_string
    void bytes(const uint8_t *data, size_t size) { out_.insert(out_.end(), data, data + size); }

private:
    std::vector<uint8_t> &out_;
};

// Reads fields from a received payload. A read past the end sets failed() and yields zeros,
// so a decoder checks once at the end.
class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), left_(size) {}
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    uint64_t u64();
    std::string str();
    std::span<const uint8_t> bytes(size_t size);
    std::span<const uint8_t> rest() { return bytes(left_); }
    size_t left() const { return left_; }
    bool failed() const { return failed_; }

private:
    const uint8_t *take(size_t size);
    const uint8_t *data_;
    size_t left_;
    bool failed_ = false;
};

void write_identity(Writer &out, const DeviceIdentity &device);
bool read_identity(Reader &in, DeviceIdentity &device);
void write_setup(Writer &out, const ControlSetup &setup);
ControlSetup read_setup(Reader &in);

// Socket I/O of whole buffers across short transfers and EINTR. Sends never raise SIGPIPE.
// `interrupted`: the wake descriptor a waiting receive also watched became readable.
enum class IoResult { ok, closed, timeout, error, interrupted };
using Deadline = std::chrono::steady_clock::time_point;

// Both wait until `deadline` (Deadline::max() waits as long as it takes). A time-out
// may leave part of a frame moved: the caller must then give up the connection.
IoResult send_all(int fd, iovec *parts, int count, Deadline deadline = Deadline::max());
IoResult recv_all(int fd, void *buffer, size_t size, Deadline deadline);
// Reads and drops `size` bytes (a reply nobody waits for any more).
IoResult discard(int fd, size_t size, Deadline deadline);

// The same with a descriptor riding along (SCM_RIGHTS): sent with the first byte, and
// taken from whichever received part carries one (-1 when none came; extra ones closed).
IoResult send_with_descriptor(int fd, iovec *parts, int count, int passed, Deadline deadline);
IoResult recv_with_descriptor(int fd, void *buffer, size_t size, Deadline deadline, int &passed);

// The receiving end of a connection, read through a small buffer: a short frame (a header
// and a few bytes of payload) costs one system call rather than one per part, while the
// bulk of a large payload goes from the socket straight to where it belongs. Bytes of
// the next frame that came along wait here for the next reader; one thread at a time.
class Inbox {
public:
    static constexpr size_t capacity = 4096;

    Inbox();
    // Waits until at least `size` (at most `capacity`) bytes are buffered, or until
    // `wake_fd` (when not -1) becomes readable: IoResult::interrupted.
    IoResult fill(int fd, size_t size, Deadline deadline, int wake_fd = -1);
    const uint8_t *data() const { return bytes_.get() + start_; }
    size_t buffered() const { return end_ - start_; }
    void consume(size_t size) { start_ += std::min(size, buffered()); }
    // Moves `size` bytes to `out`: the buffered ones first, the rest from the socket.
    IoResult take(int fd, void *out, size_t size, Deadline deadline);
    // The same for bytes nobody wants.
    IoResult drop(int fd, size_t size, Deadline deadline);

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t start_ = 0;
    size_t end_ = 0;
};

// Connects to a Unix socket path; -1 with errno set when nothing listens there.
int connect_unix(const std::string &path);

} // namespace corvane::usb::vbus

namespace corvane::usb {

// The virtual bus address: CORVANE_VBUS, else $XDG_RUNTIME_DIR/corvane-vbus.sock,
// else /tmp/corvane-vbus-<uid>.sock.
std::string virtual_bus_address();

} // namespace corvane::usb

#endif // CORVANE_WIRE_VBUS_PROTOCOL_H
