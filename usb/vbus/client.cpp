// The virtual bus transport: corvane-sim's devices over its Unix socket.
//
// One connection per transport, shared by its channels (usb/vbus/connection.h). Bulk
// data moves through the connection's shared memory. A channel keeps several bulk IN
// requests in flight, as a host controller keeps transfers queued on a pipe, so that the
// simulator has the next one in hand as soon as it answers one.
#include "usb/vbus/client.h"
#include "usb/vbus/connection.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <sys/uio.h>

namespace corvane::usb {
namespace {

namespace vbus = usb::vbus;
using vbus::Connection;
using vbus::MessageType;
using vbus::ReplySink;
using Clock = std::chrono::steady_clock;

// How long past a transfer's own time-out the simulator may take to answer; and how
// long requests without a time-out of their own (list, open, ...) may take.
constexpr auto reply_grace = std::chrono::seconds(3);
constexpr auto request_limit = std::chrono::seconds(10);

vbus::Deadline transfer_deadline(unsigned timeout_ms)
{
    return Clock::now() + std::chrono::milliseconds(timeout_ms) + reply_grace;
}

// The fixed address part of every channel request: str id, u8 channel.
std::vector<uint8_t> channel_address(const std::string &id, unsigned channel)
{
    std::vector<uint8_t> address;
    vbus::Writer out(address);
    out.str(id);
    out.u8(static_cast<uint8_t>(channel));
    return address;
}

unsigned remaining_ms(unsigned timeout_ms, Clock::time_point end)
{
    if (timeout_ms == 0)
        return 0;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return static_cast<unsigned>(std::max<int64_t>(left, 1));
}

void put_u32(uint8_t *out, uint32_t value)
{
    for (unsigned i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t get_u64(const uint8_t *in, unsigned bytes)
{
    uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i)
        value |= uint64_t{in[i]} << (8 * i);
    return value;
}

class VbusChannel final : public Channel {
public:
    // Bulk IN requests kept in flight; more only while this many slots stay free for
    // the other channels and writes of the connection.
    static constexpr unsigned read_ahead = 4;
    static constexpr unsigned slots_kept_free = 4;
    // A write goes in pieces of at most this, so that copying one overlaps sending another.
    static constexpr size_t out_piece = 512 * 1024;
    static constexpr size_t smallest_read = 1024 * 1024;

    VbusChannel(std::shared_ptr<Connection> connection, const std::string &id, unsigned channel)
        : connection_(std::move(connection)), id_(id), address_(channel_address(id, channel))
    {}

    ~VbusChannel() override
    {
        {
            std::lock_guard<std::mutex> guard(in_lock_);
            while (in_count_ > 0)
                retire_head();
        }
        ReplySink sink;
        iovec part{address_.data(), address_.size()};
        connection_->call(MessageType::close, &part, 1, sink, Clock::now() + request_limit);
    }

    Status control(const ControlSetup &setup, uint8_t *data, unsigned timeout_ms, uint16_t *transferred) override
    {
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
        Status status = connection_->call(MessageType::control, parts, device_to_host || !setup.length ? 2 : 3, sink,
                                          transfer_deadline(timeout_ms));
        if (status != Status::ok)
            return status;
        *transferred = static_cast<uint16_t>(count[0] | count[1] << 8);
        if (device_to_host)
            *transferred = static_cast<uint16_t>(std::min<size_t>(*transferred, sink.received));
        return sink.status;
    }

    // The bytes go into shared slots a piece at a time, and the simulator takes them from
    // there. Two slots by turns: the next piece is copied in while the simulator takes the
    // last one, and goes as soon as that one went whole.
    Status bulk_out(const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred) override
    {
        *transferred = 0;
        if (size == 0)
            return Status::ok;
        const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
        const size_t piece_limit = std::min(connection_->slot_size(), out_piece);
        auto prepare = [&](size_t offset, vbus::Deadline until, int &slot) {
            slot = connection_->take_slot(until);
            if (slot >= 0)
                std::memcpy(connection_->slot_data(slot), data + offset, std::min(size - offset, piece_limit));
        };
        int slot = -1;
        prepare(0, end, slot);
        if (slot < 0)
            return connection_->broken() ? Status::no_device : Status::timeout;
        for (size_t offset = 0;;) {
            const size_t piece = std::min(size - offset, piece_limit);
            Connection::Request request;
            request.slot = slot;
            uint8_t fixed[10];
            put_u32(fixed, remaining_ms(timeout_ms, end));
            fixed[4] = static_cast<uint8_t>(slot);
            fixed[5] = static_cast<uint8_t>(slot >> 8);
            put_u32(fixed + 6, static_cast<uint32_t>(piece));
            iovec parts[2] = {{address_.data(), address_.size()}, {fixed, sizeof fixed}};
            uint8_t count[8] = {};
            request.sink = {count, sizeof count};
            Status status = connection_->send(request, MessageType::bulk_out, parts, 2, transfer_deadline(timeout_ms));
            int next = -1;
            if (status == Status::ok && offset + piece < size)
                prepare(offset + piece, Clock::now(), next); // only a slot that is free now
            if (status == Status::ok)
                status = connection_->wait(request, transfer_deadline(timeout_ms));
            if (status != Status::ok) {
                connection_->abandon(request);
                connection_->give_slot(next);
                return status;
            }
            connection_->give_slot(slot);
            uint64_t went = get_u64(count, 8);
            *transferred += std::min<uint64_t>(went, piece);
            offset += piece;
            if (request.sink.status != Status::ok || went < piece || offset == size) {
                connection_->give_slot(next);
                return request.sink.status;
            }
            slot = next;
            if (slot < 0)
                prepare(offset, end, slot);
            if (slot < 0)
                return connection_->broken() ? Status::no_device : Status::timeout;
        }
    }

    Status bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred) override
    {
        const uint8_t *packets = nullptr;
        Status status = take_packets(size, timeout_ms, &packets, transferred);
        if (*transferred > 0)
            std::memcpy(buffer, packets, *transferred);
        return status;
    }

    Status bulk_in_view(uint8_t *, size_t size, unsigned timeout_ms, const uint8_t **packets,
                        size_t *transferred) override
    {
        return take_packets(size, timeout_ms, packets, transferred);
    }

    // Reads sent from here on belong to the new epoch; those sent before are ended in the
    // simulator before it answers, so none of them takes bytes meant for a later read.
    void discard_in() override
    {
        iovec part{address_.data(), address_.size()};
        Connection::Request request;
        Status status;
        {
            // Every read of the old epoch is on the socket ahead of the discard.
            std::lock_guard<std::mutex> ordered(epoch_lock_);
            in_epoch_.fetch_add(1);
            status = connection_->send(request, MessageType::discard_in, &part, 1, Clock::now() + request_limit);
        }
        if (status == Status::ok &&
            connection_->wait(request, Clock::now() + request_limit, nullptr, true) != Status::ok)
            connection_->abandon(request);
    }

    void stop_in() override
    {
        in_stopped_ = true;
        in_wake_ = true;
        connection_->interrupt();
    }

    void cut_in() override
    {
        in_wake_ = true;
        connection_->interrupt();
    }

    Status reset_device() override { return device_request(MessageType::reset_device); }
    Status reenumerate() override { return device_request(MessageType::reenumerate); }

private:
    struct InRead {
        Connection::Request request;
        uint8_t count[4] = {};
        size_t length = 0;   // asked for
        size_t received = 0; // came, once answered
        size_t offset = 0;   // handed out
        uint64_t epoch = 0;  // of discard_in, when sent
        bool answered = false;
    };

    // Hands out the oldest read in flight, in its slot, topping the reads in flight up
    // first. A read that has not come by the time-out stays in flight for the next call.
    Status take_packets(size_t size, unsigned timeout_ms, const uint8_t **packets, size_t *transferred)
    {
        *transferred = 0;
        *packets = nullptr;
        std::lock_guard<std::mutex> guard(in_lock_);
        // The caller is done with what the last call showed it.
        if (head_shown_) {
            retire_head();
            head_shown_ = false;
        }
        if (size == 0)
            return Status::ok;
        const vbus::Deadline end = Clock::now() + std::chrono::milliseconds(timeout_ms);
        bool dropped = false;
        for (;;) {
            if (in_stopped_)
                return Status::timeout;
            if (Status status = submit_reads(size, timeout_ms, end); status != Status::ok && in_count_ == 0)
                return status;
            InRead &head = in_[in_head_];
            if (!head.answered) {
                // A caller that purged waits for this call to end: after a drop it does
                // not wait on for the reads that replace the dropped ones. (Those it
                // drops are answered at once: the simulator ended them.)
                if (dropped && head.epoch == in_epoch_.load())
                    return Status::timeout;
                if (in_wake_.exchange(false))
                    return Status::timeout;
                Status status = connection_->wait(head.request, end, &in_wake_);
                if (status == Status::timeout) {
                    in_wake_ = false; // spent by this call, which ends now
                    return Status::timeout;
                }
                if (status != Status::ok) {
                    retire_head();
                    return status;
                }
                head.answered = true;
                head.received = std::min<size_t>(get_u64(head.count, 4), head.length);
            }
            // Fetched before a purge: none of it may reach the caller.
            if (head.epoch != in_epoch_.load()) {
                retire_head();
                dropped = true;
                continue;
            }
            size_t piece = std::min(size, head.received - head.offset);
            *packets = connection_->slot_data(head.request.slot) + head.offset;
            *transferred = piece;
            head.offset += piece;
            if (head.offset < head.received)
                return Status::ok; // the caller's buffer is full; the rest waits for the next call
            Status status = head.request.sink.status;
            if (status == Status::timeout && piece == 0) {
                retire_head();
                if (Clock::now() >= end)
                    return Status::timeout;
                continue; // this one expired in the simulator; a later one may bring data
            }
            head_shown_ = true;
            return status == Status::timeout ? Status::ok : status;
        }
    }

    // Sends reads until `read_ahead` are in flight, each for `size` bytes at most. The
    // first waits for a slot until `end`; the others only take one that is free.
    Status submit_reads(size_t size, unsigned timeout_ms, vbus::Deadline end)
    {
        while (in_count_ < read_ahead) {
            int slot = connection_->take_slot(end, in_count_ == 0 ? 0 : slots_kept_free);
            if (slot < 0)
                return in_count_ > 0 ? Status::ok : connection_->broken() ? Status::no_device : Status::timeout;
            InRead &read = in_[(in_head_ + in_count_) % read_ahead];
            read.request.slot = slot;
            read.request.sink = {read.count, sizeof read.count};
            read.length = read_length(size);
            read.received = read.offset = 0;
            read.answered = false;
            uint8_t fixed[10];
            put_u32(fixed, static_cast<uint32_t>(read.length));
            put_u32(fixed + 4, timeout_ms);
            fixed[8] = static_cast<uint8_t>(slot);
            fixed[9] = static_cast<uint8_t>(slot >> 8);
            iovec parts[2] = {{address_.data(), address_.size()}, {fixed, sizeof fixed}};
            Status status;
            {
                // The epoch a read carries is the one in force when the simulator gets it.
                std::lock_guard<std::mutex> ordered(epoch_lock_);
                read.epoch = in_epoch_.load();
                status = connection_->send(read.request, MessageType::bulk_in, parts, 2, transfer_deadline(timeout_ms));
            }
            if (status != Status::ok) {
                connection_->give_slot(slot);
                read.request.slot = -1;
                return status;
            }
            ++in_count_;
        }
        return Status::ok;
    }

    // Small reads cost a request and a reply each: a read asks for a whole number of the
    // caller's sizes, at least `smallest_read`, and hands them out one call at a time.
    size_t read_length(size_t size) const
    {
        const size_t limit = connection_->slot_size();
        if (size >= limit)
            return limit;
        const size_t units = std::min(std::max<size_t>(smallest_read / size, 1), limit / size);
        return units * size;
    }

    // The oldest read leaves the ring; its slot comes free now, or once its reply came.
    void retire_head()
    {
        InRead &head = in_[in_head_];
        if (head.answered)
            connection_->give_slot(head.request.slot);
        else
            connection_->abandon(head.request);
        head.request.slot = -1;
        in_head_ = (in_head_ + 1) % read_ahead;
        --in_count_;
    }

    Status device_request(MessageType type)
    {
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

    std::mutex in_lock_; // the reads in flight: one bulk_in at a time
    std::array<InRead, read_ahead> in_;
    unsigned in_head_ = 0;
    unsigned in_count_ = 0;
    std::mutex epoch_lock_; // an epoch changes only between two frames on the socket
    std::atomic<uint64_t> in_epoch_{0};
    std::atomic<bool> in_stopped_{false};
    std::atomic<bool> in_wake_{false}; // cut_in or stop_in: the waiting read returns
    bool head_shown_ = false;          // the oldest read is handed out whole; its slot backs the caller's view
};

class VbusTransport final : public Transport {
public:
    explicit VbusTransport(std::string address) : address_(std::move(address)) {}

    std::string_view name() const override { return "vbus"; }

    Status list(std::vector<DeviceIdentity> &devices) override
    {
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

    Status open(const std::string &id, unsigned channel, std::unique_ptr<Channel> &out) override
    {
        if (channel < 1 || channel > vbus::max_channel || id.empty() || id.size() > vbus::max_string)
            return Status::invalid;
        std::vector<uint8_t> address = channel_address(id, channel);
        iovec part{address.data(), address.size()};
        ReplySink sink;
        std::shared_ptr<Connection> used;
        Status status = exchange(
            [&](Connection &connection) {
                part = {address.data(), address.size()};
                return connection.call(MessageType::open, &part, 1, sink, Clock::now() + request_limit);
            },
            &used);
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
    Status exchange(Request request, std::shared_ptr<Connection> *used = nullptr)
    {
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

std::unique_ptr<Transport> make_vbus_client(const std::string &address)
{
    return std::make_unique<VbusTransport>(address);
}

} // namespace corvane::usb
