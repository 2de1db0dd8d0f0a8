// The virtual bus transport: corvane-sim's devices over its Unix socket.
//
// One connection per transport, shared by its channels. Several threads may wait on it
// at once (a reading task in bulk_in, another thread sending control requests); whichever
// waiter holds the reader role reads the next reply and delivers it straight into the
// buffer of the request it answers, then hands the role on.
#include "usb/vbus_client.h"
#include "usb/vbus_protocol.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace corvane::usb {
namespace {

namespace vbus = usb::vbus;
using vbus::MessageType;
using Clock = std::chrono::steady_clock;

// How long past a transfer's own time-out the simulator may take to answer; and how
// long requests without a time-out of their own (list, open, ...) may take.
constexpr auto reply_grace = std::chrono::seconds(3);
constexpr auto request_limit = std::chrono::seconds(10);
// Once a reply's header has come, the rest follows at once; this only bounds a peer
// that stops mid-frame.
constexpr auto frame_limit = std::chrono::seconds(10);

vbus::Deadline transfer_deadline(unsigned timeout_ms) {
    return Clock::now() + std::chrono::milliseconds(timeout_ms) + reply_grace;
}

// Where a reply's payload goes: its first `prefix_size` bytes to `prefix`, the rest (at
// most `capacity`) to `data`, the caller's own buffer.
struct ReplySink {
    uint8_t *prefix = nullptr;
    size_t prefix_size = 0;
    uint8_t *data = nullptr;
    size_t capacity = 0;
    size_t received = 0;   // bytes of `data` filled
    Status status = Status::io_error;
};

class Connection {
public:
    // Connects and says hello. nullptr when no simulator listens at `address`.
    static std::shared_ptr<Connection> open(const std::string &address, Status &status);
    ~Connection() { close(fd_); }

    // Sends one request (the header is added here) and waits for its reply until
    // `deadline`. Status::no_device when the connection is gone or goes meanwhile;
    // otherwise the transport status of the exchange, the device's in `sink.status`.
    Status call(MessageType type, iovec *parts, int count, ReplySink &sink, vbus::Deadline deadline);

    bool broken() {
        std::lock_guard<std::mutex> guard(lock_);
        return broken_;
    }

private:
    struct Pending {
        uint32_t id;
        uint16_t type;
        ReplySink *sink;
        bool filling = false;   // the reader is writing into the sink: it must stay alive
        bool done = false;
    };

    explicit Connection(int fd) : fd_(fd) { pending_.reserve(2 * vbus::max_in_flight); }
    void break_off();                                   // lock_ held
    void read_one_reply(std::unique_lock<std::mutex> &guard, vbus::Deadline deadline);
    Pending *find(uint32_t id);                         // lock_ held
    void forget(Pending *entry);                        // lock_ held

    int fd_;
    std::mutex send_lock_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Pending *> pending_;
    uint32_t next_id_ = 1;
    bool reading_ = false;
    bool broken_ = false;
    vbus::Inbox inbox_;   // the reader's alone: touched only by the thread that is reading_
};

std::shared_ptr<Connection> Connection::open(const std::string &address, Status &status) {
    int fd = vbus::connect_unix(address);
    if (fd < 0) {
        status = Status::no_device;
        return nullptr;
    }
    std::shared_ptr<Connection> connection(new Connection(fd));
    uint8_t hello[6];
    uint8_t answer[6];
    std::vector<uint8_t> encoded;
    vbus::Writer out(encoded);
    out.u32(vbus::magic);
    out.u16(vbus::version);
    std::copy(encoded.begin(), encoded.end(), hello);
    iovec part{hello, sizeof hello};
    ReplySink sink{answer, sizeof answer};
    status = connection->call(MessageType::hello, &part, 1, sink, Clock::now() + request_limit);
    if (status == Status::ok && sink.status != Status::ok)
        status = Status::not_supported;   // a simulator of another protocol version
    return status == Status::ok ? connection : nullptr;
}

void Connection::break_off() {
    if (!broken_) {
        broken_ = true;
        shutdown(fd_, SHUT_RDWR);
    }
    changed_.notify_all();
}

Connection::Pending *Connection::find(uint32_t id) {
    for (Pending *entry : pending_)
        if (entry->id == id)
            return entry;
    return nullptr;
}

void Connection::forget(Pending *entry) {
    pending_.erase(std::find(pending_.begin(), pending_.end(), entry));
}

Status Connection::call(MessageType type, iovec *parts, int count, ReplySink &sink, vbus::Deadline deadline) {
    std::unique_lock<std::mutex> guard(lock_);
    if (broken_)
        return Status::no_device;
    if (pending_.size() >= pending_.capacity())
        return Status::busy;   // more threads than any caller of one channel has
    Pending entry{next_id_++, static_cast<uint16_t>(type), &sink};
    if (next_id_ == 0)
        next_id_ = 1;
    pending_.push_back(&entry);
    guard.unlock();

    size_t length = 0;
    for (int i = 0; i < count; ++i)
        length += parts[i].iov_len;
    uint8_t head[vbus::header_size];
    vbus::encode_header({static_cast<uint32_t>(length), entry.id, entry.type, 0}, head);
    iovec frame[6];
    frame[0] = {head, sizeof head};
    std::copy(parts, parts + count, frame + 1);
    vbus::IoResult sent;
    {
        std::lock_guard<std::mutex> sending(send_lock_);
        // Bounded too: a simulator that stops reading must not hold this thread for ever.
        sent = vbus::send_all(fd_, frame, count + 1, deadline);
    }

    guard.lock();
    if (sent != vbus::IoResult::ok)
        break_off();
    Status status = Status::ok;
    while (!entry.done) {
        if (entry.filling) {
            changed_.wait(guard);
        } else if (broken_) {
            status = Status::no_device;
            break;
        } else if (Clock::now() >= deadline) {
            status = Status::timeout;
            break;
        } else if (!reading_) {
            read_one_reply(guard, deadline);
        } else {
            changed_.wait_until(guard, deadline);
        }
    }
    forget(&entry);
    return status;
}

// Takes the reader role for one frame (or until `deadline` if none comes).
void Connection::read_one_reply(std::unique_lock<std::mutex> &guard, vbus::Deadline deadline) {
    reading_ = true;
    guard.unlock();
    vbus::IoResult first = inbox_.fill(fd_, 1, deadline);
    vbus::IoResult result = first;
    if (first == vbus::IoResult::ok)
        result = inbox_.fill(fd_, vbus::header_size, Clock::now() + frame_limit);
    vbus::FrameHeader header;
    if (result == vbus::IoResult::ok) {
        header = vbus::decode_header(inbox_.data());
        inbox_.consume(vbus::header_size);
    }
    guard.lock();
    reading_ = false;
    if (first == vbus::IoResult::timeout) {
        changed_.notify_all();   // nothing came for us; another waiter may read now
        return;
    }
    Pending *entry = find(header.request_id);
    bool fits = result == vbus::IoResult::ok && header.length <= vbus::max_reply_payload(header.type);
    if (fits && entry)
        fits = entry->type == header.type && header.length <= entry->sink->prefix_size + entry->sink->capacity;
    if (!fits) {
        break_off();
        return;
    }
    if (entry)
        entry->filling = true;
    reading_ = true;
    guard.unlock();

    auto frame_deadline = Clock::now() + frame_limit;
    if (entry) {
        ReplySink &sink = *entry->sink;
        size_t prefix = std::min<size_t>(header.length, sink.prefix_size);
        result = inbox_.take(fd_, sink.prefix, prefix, frame_deadline);
        if (result == vbus::IoResult::ok)
            result = inbox_.take(fd_, sink.data, header.length - prefix, frame_deadline);
        sink.received = header.length - prefix;
        sink.status = vbus::decode_status(header.status);
    } else {
        // Its caller gave up waiting; the reply still has to leave the stream.
        result = inbox_.drop(fd_, header.length, frame_deadline);
    }

    guard.lock();
    reading_ = false;
    if (entry) {
        entry->filling = false;
        entry->done = result == vbus::IoResult::ok;
    }
    if (result != vbus::IoResult::ok)
        break_off();
    // Woken after the lock is free, the waiter whose reply came takes it at once rather
    // than sleeping again on it.
    guard.unlock();
    changed_.notify_all();
    guard.lock();
}

// The fixed address part of every channel request: str id, u8 channel.
std::vector<uint8_t> channel_address(const std::string &id, unsigned channel) {
    std::vector<uint8_t> address;
    vbus::Writer out(address);
    out.str(id);
    out.u8(static_cast<uint8_t>(channel));
    return address;
}

unsigned remaining_ms(unsigned timeout_ms, Clock::time_point end) {
    if (timeout_ms == 0)
        return 0;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return static_cast<unsigned>(std::max<int64_t>(left, 1));
}

void put_u32(uint8_t *out, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

class VbusChannel final : public Channel {
public:
    VbusChannel(std::shared_ptr<Connection> connection, const std::string &id, unsigned channel)
        : connection_(std::move(connection)), id_(id), address_(channel_address(id, channel)) {}

    ~VbusChannel() override {
        ReplySink sink;
        iovec part{address_.data(), address_.size()};
        connection_->call(MessageType::close, &part, 1, sink, Clock::now() + request_limit);
    }

    Status control(const ControlSetup &setup, uint8_t *data, unsigned timeout_ms, uint16_t *transferred) override {
        *transferred = 0;
        uint8_t fixed[12] = {setup.request_type,
                             setup.request,
                             static_cast<uint8_t>(setup.value),
                             static_cast<uint8_t>(setup.value >> 8),
                             static_cast<uint8_t>(setup.index),
                             static_cast<uint8_t>(setup.index >> 8),
                             static_cast<uint8_t>(setup.length),
                             static_cast<uint8_t>(setup.length >> 8)};
        put_u32(fixed + 8, timeout_ms);
        bool device_to_host = setup.request_type & 0x80;
        iovec parts[3] = {{address_.data(), address_.size()}, {fixed, sizeof fixed}, {data, setup.length}};
        uint8_t count[2] = {0, 0};
        ReplySink sink{count, sizeof count, device_to_host ? data : nullptr, device_to_host ? setup.length : 0u};
        Status status = connection_->call(MessageType::control, parts, device_to_host || !setup.length ? 2 : 3,
                                          sink, transfer_deadline(timeout_ms));
        if (status != Status::ok)
            return status;
        *transferred = static_cast<uint16_t>(count[0] | count[1] << 8);
        if (device_to_host)
            *transferred = static_cast<uint16_t>(std::min<size_t>(*transferred, sink.received));
        return sink.status;
    }

    Status bulk_out(const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred) override {
        *transferred = 0;
        if (size == 0)
            return Status::ok;
        auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
        do {
            size_t piece = std::min(size - *transferred, vbus::max_bulk);
            uint8_t timeout[4];
            put_u32(timeout, remaining_ms(timeout_ms, end));
            iovec parts[3] = {{address_.data(), address_.size()},
                              {timeout, sizeof timeout},
                              {const_cast<uint8_t *>(data + *transferred), piece}};
            uint8_t count[8] = {};
            ReplySink sink{count, sizeof count};
            Status status = connection_->call(MessageType::bulk_out, parts, 3, sink, transfer_deadline(timeout_ms));
            if (status != Status::ok)
                return status;
            uint64_t went = 0;
            for (unsigned i = 0; i < 8; ++i)
                went |= uint64_t{count[i]} << (8 * i);
            *transferred += std::min<uint64_t>(went, piece);
            if (sink.status != Status::ok || went < piece)
                return sink.status;
        } while (*transferred < size);
        return Status::ok;
    }

    Status bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred) override {
        *transferred = 0;
        if (size == 0)
            return Status::ok;
        auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
        do {
            size_t piece = std::min(size - *transferred, vbus::max_bulk);
            uint8_t fixed[8];
            put_u32(fixed, static_cast<uint32_t>(piece));
            put_u32(fixed + 4, remaining_ms(timeout_ms, end));
            iovec parts[2] = {{address_.data(), address_.size()}, {fixed, sizeof fixed}};
            ReplySink sink{nullptr, 0, buffer + *transferred, piece};
            Status status = connection_->call(MessageType::bulk_in, parts, 2, sink, transfer_deadline(timeout_ms));
            if (status != Status::ok)
                return status;
            *transferred += sink.received;
            // A short piece ends the transfer, as a short packet does.
            if (sink.status != Status::ok || sink.received < piece)
                return sink.status == Status::timeout && *transferred > 0 ? Status::ok : sink.status;
        } while (*transferred < size);
        return Status::ok;
    }

    Status reset_device() override { return device_request(MessageType::reset_device); }
    Status reenumerate() override { return device_request(MessageType::reenumerate); }

private:
    Status device_request(MessageType type) {
        std::vector<uint8_t> id;
        vbus::Writer(id).str(id_);
        iovec part{id.data(), id.size()};
        ReplySink sink;
        Status status = connection_->call(type, &part, 1, sink, Clock::now() + request_limit);
        return status == Status::ok ? sink.status : status;
    }

    std::shared_ptr<Connection> connection_;
    std::string id_;
    std::vector<uint8_t> address_;
};

class VbusTransport final : public Transport {
public:
    explicit VbusTransport(std::string address) : address_(std::move(address)) {}

    std::string_view name() const override { return "vbus"; }

    Status list(std::vector<DeviceIdentity> &devices) override {
        devices.clear();
        std::vector<uint8_t> reply(vbus::max_reply_payload(static_cast<uint16_t>(MessageType::list)));
        ReplySink sink{nullptr, 0, reply.data(), reply.size()};
        Status status = exchange([&](Connection &connection) {
            return connection.call(MessageType::list, nullptr, 0, sink, Clock::now() + request_limit);
        });
        // No simulator, or one that ended before it answered: nothing is attached.
        if (status == Status::no_device)
            return Status::ok;
        if (status != Status::ok)
            return status;
        vbus::Reader in(reply.data(), sink.received);
        unsigned count = in.u16();
        for (unsigned i = 0; i < count && !in.failed(); ++i) {
            DeviceIdentity device;
            if (!vbus::read_identity(in, device)) {
                devices.clear();
                return Status::io_error;
            }
            devices.push_back(std::move(device));
        }
        return in.failed() ? Status::io_error : sink.status;
    }

    Status open(const std::string &id, unsigned channel, std::unique_ptr<Channel> &out) override {
        if (channel < 1 || channel > vbus::max_channel || id.empty() || id.size() > vbus::max_string)
            return Status::invalid;
        std::vector<uint8_t> address = channel_address(id, channel);
        iovec part{address.data(), address.size()};
        ReplySink sink;
        std::shared_ptr<Connection> used;
        Status status = exchange([&](Connection &connection) {
            part = {address.data(), address.size()};
            return connection.call(MessageType::open, &part, 1, sink, Clock::now() + request_limit);
        }, &used);
        if (status == Status::ok)
            status = sink.status;
        if (status == Status::ok)
            out = std::make_unique<VbusChannel>(used, id, channel);
        return status;
    }

private:
    // Runs `request` on the live connection, connecting first when there is none. A
    // connection found dead only now (the simulator ended or was restarted since the last
    // call) is replaced once, so a restarted simulator is found again.
    template <typename Request>
    Status exchange(Request request, std::shared_ptr<Connection> *used = nullptr) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            Status status = Status::ok;
            bool fresh = false;
            std::shared_ptr<Connection> connection;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (!connection_ || connection_->broken()) {
                    connection_ = Connection::open(address_, status);
                    fresh = true;
                }
                connection = connection_;
            }
            if (!connection)
                return status;
            status = request(*connection);
            if (used)
                *used = connection;
            if (status != Status::no_device || fresh)
                return status;
        }
        return Status::no_device;
    }

    std::string address_;
    std::mutex lock_;
    std::shared_ptr<Connection> connection_;
};

} // namespace

std::unique_ptr<Transport> make_vbus_client(const std::string &address) {
    return std::make_unique<VbusTransport>(address);
}

} // namespace corvane::usb
