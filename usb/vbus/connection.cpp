#include "usb/vbus/connection.h"

#include <algorithm>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace corvane::usb::vbus {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto hello_limit = std::chrono::seconds(10);
// Once a reply's header has come, the rest follows at once; this only bounds a peer
// that stops mid-frame.
constexpr auto frame_limit = std::chrono::seconds(10);
// Requests that may be on their way at once, over all threads and channels.
constexpr size_t most_pending = 4 * region_slots;

} // namespace

std::shared_ptr<Connection> Connection::open(const std::string &address, Status &status)
{
    int fd = connect_unix(address);
    if (fd < 0) {
        status = Status::no_device;
        return nullptr;
    }
    int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd < 0) {
        close(fd);
        status = Status::io_error;
        return nullptr;
    }
    std::shared_ptr<Connection> connection(new Connection(fd, wake_fd));
    std::string error;
    if (!connection->hello(error)) {
        // A simulator that ends while it greets us is as good as none.
        status = error.empty() ? Status::no_device : Status::not_supported;
        return nullptr;
    }
    status = Status::ok;
    return connection;
}

// The one exchange before any other thread may use the connection: the reply brings the
// shared memory's descriptor, so it is read here rather than by the reader role.
bool Connection::hello(std::string &error)
{
    std::vector<uint8_t> request;
    Writer out(request);
    out.u32(magic);
    out.u16(version);
    uint8_t head[header_size];
    encode_header({static_cast<uint32_t>(request.size()), 0, static_cast<uint16_t>(MessageType::hello), 0}, head);
    iovec parts[2] = {{head, sizeof head}, {request.data(), request.size()}};
    const Deadline deadline = Clock::now() + hello_limit;
    if (send_all(fd_, parts, 2, deadline) != IoResult::ok)
        return false;
    uint8_t reply[header_size + 12];
    int passed = -1;
    if (recv_with_descriptor(fd_, reply, header_size, deadline, passed) != IoResult::ok)
        return false;
    FrameHeader header = decode_header(reply);
    if (header.type != static_cast<uint16_t>(MessageType::hello) || header.length > sizeof reply - header_size ||
        recv_all(fd_, reply + header_size, header.length, deadline) != IoResult::ok) {
        error = "the simulator did not answer the hello";
    } else {
        Reader in(reply + header_size, header.length);
        uint32_t their_magic = in.u32();
        uint16_t their_version = in.u16();
        unsigned slots = in.u16();
        size_t slot_bytes = in.u32();
        if (in.failed() || their_magic != magic || their_version != version ||
            decode_status(header.status) != Status::ok)
            error = "the simulator speaks another protocol version";
        else if (slots == 0 || slots > region_slots || slot_bytes == 0 || slot_bytes > max_bulk || passed < 0)
            error = "the simulator offered no usable shared memory";
        else
            region_ = SharedRegion::adopt(std::exchange(passed, -1), slots, slot_bytes, error);
    }
    if (passed >= 0)
        close(passed);
    if (!region_)
        return false;
    for (unsigned slot = region_->slot_count(); slot-- > 0;)
        free_slots_.push_back(static_cast<int>(slot));
    pending_.reserve(most_pending);
    orphans_.reserve(region_slots);
    return true;
}

Connection::~Connection()
{
    close(fd_);
    close(wake_fd_);
}

bool Connection::broken()
{
    std::lock_guard<std::mutex> guard(lock_);
    return broken_;
}

void Connection::break_off()
{
    if (!broken_) {
        broken_ = true;
        shutdown(fd_, SHUT_RDWR);
    }
    changed_.notify_all();
    slot_freed_.notify_all();
}

void Connection::poke_reader()
{
    uint64_t one = 1;
    // A full counter already wakes the reader; nothing is lost when this write fails.
    [[maybe_unused]] ssize_t written = write(wake_fd_, &one, sizeof one);
}

void Connection::interrupt()
{
    poke_reader();
    std::lock_guard<std::mutex> guard(lock_);
    changed_.notify_all();
}

Connection::Request *Connection::find(uint32_t id)
{
    for (Request *entry : pending_)
        if (entry->id_ == id)
            return entry;
    return nullptr;
}

void Connection::forget(Request &request)
{
    auto at = std::find(pending_.begin(), pending_.end(), &request);
    if (at != pending_.end())
        pending_.erase(at);
}

Status Connection::send(Request &request, MessageType type, iovec *parts, int count, Deadline deadline)
{
    std::unique_lock<std::mutex> guard(lock_);
    if (broken_)
        return Status::no_device;
    if (pending_.size() >= most_pending)
        return Status::busy; // more threads than any caller of one connection has
    request.id_ = next_id_++;
    if (next_id_ == 0)
        next_id_ = 1;
    request.type_ = static_cast<uint16_t>(type);
    request.filling_ = false;
    request.done_ = false;
    pending_.push_back(&request);
    guard.unlock();

    size_t length = 0;
    for (int i = 0; i < count; ++i)
        length += parts[i].iov_len;
    uint8_t head[header_size];
    encode_header({static_cast<uint32_t>(length), request.id_, request.type_, 0}, head);
    iovec frame[6];
    frame[0] = {head, sizeof head};
    std::copy(parts, parts + count, frame + 1);
    IoResult sent;
    {
        std::lock_guard<std::mutex> sending(send_lock_);
        // Bounded too: a simulator that stops reading must not hold this thread for ever.
        sent = send_all(fd_, frame, count + 1, deadline);
    }
    if (sent == IoResult::ok)
        return Status::ok;
    guard.lock();
    break_off();
    forget(request);
    return Status::no_device;
}

Status Connection::wait(Request &request, Deadline deadline, const std::atomic<bool> *stop, bool prompt)
{
    std::unique_lock<std::mutex> guard(lock_);
    // A prompt waiter that finds the role taken asks for it: the reader gives it up at
    // its next wait for a frame, and no other waiter takes it while one is wanted.
    bool wanting = false;
    struct Unwant {
        Connection &connection;
        bool &wanting;
        ~Unwant()
        {
            if (wanting && --connection.role_wanted_ == 0)
                connection.changed_.notify_all();
        }
    } unwant{*this, wanting};
    for (;;) {
        if (request.done_) {
            forget(request);
            return Status::ok;
        }
        if (request.filling_) {
            changed_.wait(guard);
        } else if (broken_) {
            return Status::no_device;
        } else if (Clock::now() >= deadline || (stop && stop->load())) {
            return Status::timeout;
        } else if (!reading_ && (wanting || role_wanted_ == 0)) {
            read_one_reply(guard, deadline);
        } else {
            if (prompt && reading_ && !wanting) {
                wanting = true;
                ++role_wanted_;
                poke_reader();
            }
            changed_.wait_until(guard, deadline);
        }
    }
}

void Connection::abandon(Request &request)
{
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return !request.filling_; });
    forget(request);
    if (request.slot < 0)
        return;
    if (request.done_ || broken_)
        free_slot_locked(request.slot);
    else
        orphans_.push_back({request.id_, request.slot});
    request.slot = -1;
}

Status Connection::call(MessageType type, iovec *parts, int count, ReplySink &sink, Deadline deadline)
{
    Request request;
    request.sink = sink;
    Status status = send(request, type, parts, count, deadline);
    if (status != Status::ok)
        return status;
    status = wait(request, deadline, nullptr, true);
    if (status != Status::ok)
        abandon(request);
    sink = request.sink;
    return status;
}

int Connection::take_slot(Deadline deadline, unsigned spare)
{
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        if (broken_)
            return -1;
        if (free_slots_.size() > spare) {
            int slot = free_slots_.back();
            free_slots_.pop_back();
            return slot;
        }
        if (spare > 0 || slot_freed_.wait_until(guard, deadline) == std::cv_status::timeout)
            return -1;
    }
}

void Connection::give_slot(int slot)
{
    std::lock_guard<std::mutex> guard(lock_);
    free_slot_locked(slot);
}

void Connection::free_slot_locked(int slot)
{
    if (slot < 0)
        return;
    free_slots_.push_back(slot);
    slot_freed_.notify_one();
}

// Takes the reader role for one frame (or until `deadline` if none comes).
void Connection::read_one_reply(std::unique_lock<std::mutex> &guard, Deadline deadline)
{
    reading_ = true;
    guard.unlock();
    IoResult first = inbox_.fill(fd_, 1, deadline, wake_fd_);
    if (first == IoResult::interrupted) {
        uint64_t count;
        [[maybe_unused]] ssize_t drained = read(wake_fd_, &count, sizeof count);
    }
    IoResult result = first;
    if (first == IoResult::ok)
        result = inbox_.fill(fd_, header_size, Clock::now() + frame_limit);
    FrameHeader header;
    if (result == IoResult::ok) {
        header = decode_header(inbox_.data());
        inbox_.consume(header_size);
    }
    guard.lock();
    reading_ = false;
    if (first == IoResult::timeout || first == IoResult::interrupted) {
        changed_.notify_all(); // nothing came for us; another waiter may read now
        return;
    }
    Request *entry = result == IoResult::ok ? find(header.request_id) : nullptr;
    bool fits = result == IoResult::ok && header.length <= max_reply_payload(header.type);
    if (fits && entry)
        fits = entry->type_ == header.type && header.length <= entry->sink.prefix_size + entry->sink.capacity;
    if (!fits) {
        break_off();
        return;
    }
    if (entry)
        entry->filling_ = true;
    reading_ = true;
    guard.unlock();

    auto frame_deadline = Clock::now() + frame_limit;
    if (entry) {
        ReplySink &sink = entry->sink;
        size_t prefix = std::min<size_t>(header.length, sink.prefix_size);
        result = inbox_.take(fd_, sink.prefix, prefix, frame_deadline);
        if (result == IoResult::ok)
            result = inbox_.take(fd_, sink.data, header.length - prefix, frame_deadline);
        sink.received = header.length - prefix;
        sink.status = decode_status(header.status);
    } else {
        // Its caller gave up waiting; the reply still has to leave the stream.
        result = inbox_.drop(fd_, header.length, frame_deadline);
    }

    guard.lock();
    reading_ = false;
    if (entry) {
        entry->filling_ = false;
        entry->done_ = result == IoResult::ok;
    } else {
        // An abandoned request's slot is the simulator's no more.
        auto orphan =
            std::find_if(orphans_.begin(), orphans_.end(), [&](const Orphan &o) { return o.id == header.request_id; });
        if (orphan != orphans_.end()) {
            free_slot_locked(orphan->slot);
            orphans_.erase(orphan);
        }
    }
    if (result != IoResult::ok)
        break_off();
    // Woken after the lock is free, the waiter whose reply came takes it at once rather
    // than sleeping again on it.
    guard.unlock();
    changed_.notify_all();
    guard.lock();
}

} // namespace corvane::usb::vbus
