#include "sim/server/server_session.h"

#include "sim/server/server.h"

#include <algorithm>
#include <cstdio>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>

namespace corvane::sim {
namespace {

namespace vbus = usb::vbus;
using vbus::MessageType;

constexpr auto forever = vbus::Deadline::max();

bool valid_channel(unsigned channel)
{
    return channel >= 1 && channel <= vbus::max_channel;
}

void say(VirtualBus::ClientId client, const char *why)
{
    std::fprintf(stderr, "corvane-sim: client %llu: %s\n", static_cast<unsigned long long>(client), why);
}

} // namespace

Session::Session(VirtualBus &bus, int fd) : bus_(bus), client_(bus.add_client()), fd_(fd) {}

Session::~Session()
{
    end();
    close(fd_);
}

void Session::end()
{
    if (ended_)
        return;
    ended_ = true;
    // The peer learns at once that we are done; the descriptor itself goes when the
    // server reaps this session.
    shut();
    // The claims end first, so that another client may take the channels while workers
    // still finish transfers that were already waiting.
    bus_.remove_client(client_);
    stop_workers();
}

void Session::shut()
{
    shutdown(fd_, SHUT_RDWR);
}

bool Session::reply(const vbus::FrameHeader &request, usb::Status status, const uint8_t *payload, size_t size)
{
    uint8_t head[vbus::header_size];
    vbus::encode_header({static_cast<uint32_t>(size), request.request_id, request.type, vbus::encode_status(status)},
                        head);
    iovec parts[2] = {{head, sizeof head}, {const_cast<uint8_t *>(payload), size}};
    std::lock_guard<std::mutex> guard(send_lock_);
    if (vbus::send_all(fd_, parts, size ? 2 : 1) == vbus::IoResult::ok)
        return true;
    // The peer is gone: wake the reader so that the session ends.
    shut();
    return false;
}

bool Session::handshake()
{
    uint8_t head[vbus::header_size];
    if (vbus::recv_all(fd_, head, sizeof head, forever) != vbus::IoResult::ok)
        return false;
    vbus::FrameHeader header = vbus::decode_header(head);
    if (header.type != static_cast<uint16_t>(MessageType::hello) ||
        header.length != vbus::max_request_payload(header.type)) {
        say(client_, "the connection did not begin with a hello");
        return false;
    }
    uint8_t payload[6];
    if (vbus::recv_all(fd_, payload, sizeof payload, forever) != vbus::IoResult::ok)
        return false;
    vbus::Reader in(payload, sizeof payload);
    uint32_t magic = in.u32();
    uint16_t version = in.u16();
    bool accepted = magic == vbus::magic && version == vbus::version;
    if (!accepted)
        say(client_, magic == vbus::magic ? "protocol version not supported" : "not a virtual bus client");
    std::string error;
    if (accepted && !(region_ = vbus::SharedRegion::create(vbus::region_slots, vbus::max_bulk, error))) {
        say(client_, ("no memory to share: " + error).c_str());
        accepted = false;
    }
    std::vector<uint8_t> answer;
    vbus::Writer out(answer);
    out.u32(vbus::magic);
    out.u16(vbus::version);
    out.u16(static_cast<uint16_t>(accepted ? vbus::region_slots : 0));
    out.u32(static_cast<uint32_t>(accepted ? vbus::max_bulk : 0));
    if (!accepted) {
        reply(header, usb::Status::not_supported, answer.data(), answer.size());
        return false;
    }
    uint8_t reply_head[vbus::header_size];
    vbus::encode_header({static_cast<uint32_t>(answer.size()), header.request_id, header.type, 0}, reply_head);
    iovec parts[2] = {{reply_head, sizeof reply_head}, {answer.data(), answer.size()}};
    std::lock_guard<std::mutex> guard(send_lock_);
    return vbus::send_with_descriptor(fd_, parts, 2, region_->fd(), forever) == vbus::IoResult::ok;
}

void Session::serve()
{
    read_frames();
    end();
}

void Session::read_frames()
{
    if (!handshake())
        return;
    while (inbox_.fill(fd_, vbus::header_size, forever) == vbus::IoResult::ok) {
        vbus::FrameHeader header = vbus::decode_header(inbox_.data());
        inbox_.consume(vbus::header_size);
        auto type = static_cast<MessageType>(header.type);
        bool known = header.type >= static_cast<uint16_t>(MessageType::list) &&
                     header.type <= static_cast<uint16_t>(MessageType::discard_in);
        if (!known) {
            say(client_, "unknown message type");
            return;
        }
        if (header.length > vbus::max_request_payload(header.type)) {
            say(client_, "frame longer than its message allows");
            return;
        }
        request_.resize(header.length);
        if (inbox_.take(fd_, request_.data(), header.length, forever) != vbus::IoResult::ok)
            return;
        bool carried_on = type == MessageType::bulk_out || type == MessageType::bulk_in
                              ? start_bulk(header, request_.data())
                              : handle_inline(header, request_.data());
        if (!carried_on) {
            say(client_, "malformed request");
            return;
        }
    }
}

bool Session::handle_inline(const vbus::FrameHeader &header, const uint8_t *payload)
{
    vbus::Reader in(payload, header.length);
    answer_.clear();
    vbus::Writer out(answer_);
    usb::Status status = usb::Status::ok;
    switch (static_cast<MessageType>(header.type)) {
    case MessageType::list: {
        std::vector<usb::DeviceIdentity> devices = bus_.list();
        if (devices.size() > vbus::max_devices)
            devices.resize(vbus::max_devices);
        out.u16(static_cast<uint16_t>(devices.size()));
        for (const usb::DeviceIdentity &device : devices)
            vbus::write_identity(out, device);
        break;
    }
    case MessageType::open:
    case MessageType::close:
    case MessageType::discard_in: {
        std::string id = in.str();
        unsigned channel = in.u8();
        if (in.failed() || in.left() != 0)
            return false;
        if (!valid_channel(channel))
            status = usb::Status::invalid;
        else if (header.type == static_cast<uint16_t>(MessageType::open))
            status = bus_.claim(client_, id, channel);
        else if (header.type == static_cast<uint16_t>(MessageType::close))
            bus_.release(client_, id, channel);
        else
            end_reads_sent_before(id, channel);
        break;
    }
    case MessageType::control: {
        std::string id = in.str();
        unsigned channel = in.u8();
        usb::ControlSetup setup = vbus::read_setup(in);
        unsigned timeout_ms = in.u32();
        bool device_to_host = setup.request_type & 0x80;
        std::span<const uint8_t> sent = in.rest();
        if (in.failed() || sent.size() != (device_to_host ? 0u : setup.length))
            return false;
        uint16_t transferred = 0;
        out.u16(0);
        if (device_to_host) {
            answer_.resize(2 + setup.length);
        } else {
            answer_.insert(answer_.end(), sent.begin(), sent.end());
        }
        if (!valid_channel(channel)) {
            status = usb::Status::invalid;
        } else {
            status = bus_.control(client_, id, channel, setup, answer_.data() + 2, timeout_ms, &transferred);
            transferred = std::min(transferred, setup.length);
        }
        answer_.resize(2 + (device_to_host ? transferred : 0));
        answer_[0] = static_cast<uint8_t>(transferred);
        answer_[1] = static_cast<uint8_t>(transferred >> 8);
        break;
    }
    case MessageType::reset_device:
    case MessageType::reenumerate: {
        std::string id = in.str();
        if (in.failed() || in.left() != 0)
            return false;
        status = header.type == static_cast<uint16_t>(MessageType::reset_device) ? bus_.reset_device(client_, id)
                                                                                 : bus_.reenumerate(client_, id);
        break;
    }
    case MessageType::fault: {
        std::string command = in.str();
        if (in.failed() || in.left() != 0)
            return false;
        std::string text;
        status = apply_fault(bus_, command, text);
        out.str(text);
        break;
    }
    default: return false;
    }
    reply(header, status, answer_.data(), answer_.size());
    return true;
}

// Answers a bulk request at once when it need not wait, else hands it to a worker; the
// reader goes on with the next frame while the transfer waits on the bus.
bool Session::start_bulk(const vbus::FrameHeader &header, const uint8_t *payload)
{
    vbus::Reader in(payload, header.length);
    BulkJob job;
    job.header = header;
    job.id = in.str();
    job.channel = in.u8();
    const bool bulk_in = header.type == static_cast<uint16_t>(MessageType::bulk_in);
    unsigned slot;
    if (bulk_in) {
        job.size = in.u32();
        job.timeout_ms = in.u32();
        slot = in.u16();
    } else {
        job.timeout_ms = in.u32();
        slot = in.u16();
        job.size = in.u32();
    }
    if (in.failed() || in.left() != 0 || !region_->holds(slot, job.size))
        return false;
    job.data = region_->slot(slot);
    job.deadline = Clock::now() + std::chrono::milliseconds(job.timeout_ms);
    if (!valid_channel(job.channel)) {
        reply_bulk(job, usb::Status::invalid, 0);
        return true;
    }
    if (bulk_in) {
        // With none of this channel's reads waiting, nothing can be served ahead of this one.
        bool lane_idle;
        {
            std::lock_guard<std::mutex> guard(pool_lock_);
            lane_idle = existing_lane(job.id, job.channel) == nullptr;
        }
        if (lane_idle && finish_bulk_at_once(job))
            return true;
        return queue_read(std::move(job));
    }
    if (finish_bulk_at_once(job))
        return true;
    Worker *worker = acquire_worker();
    if (!worker)
        return false;
    std::lock_guard<std::mutex> guard(pool_lock_);
    worker->job = std::move(job);
    worker->has_job = true;
    worker->wake.notify_one();
    return true;
}

// Puts a bulk_in behind the others of its channel; a lane nobody serves gets a worker.
// False once the session is stopping.
bool Session::queue_read(BulkJob &&job)
{
    std::unique_lock<std::mutex> guard(pool_lock_);
    // A client may keep only so many reads waiting: stop reading its frames until one ends.
    worker_idle_.wait(guard, [&] { return reads_waiting_ < vbus::max_in_flight || stopping_; });
    if (stopping_)
        return false;
    InLane *lane = lane_of(job.id, job.channel);
    job.ticket = lane->issued++;
    lane->waiting[(lane->oldest + lane->count) % lane->waiting.size()] = std::move(job);
    ++lane->count;
    ++reads_waiting_;
    if (lane->served)
        return true;
    lane->served = true;
    guard.unlock();
    Worker *worker = acquire_worker();
    guard.lock();
    if (!worker)
        return false; // stopping: the lanes go with the session
    worker->lane = lane;
    worker->has_job = true;
    worker->wake.notify_one();
    return true;
}

// Runs the lane's reads until none is left, then forgets the lane. pool_lock_ held.
void Session::serve_lane(std::unique_lock<std::mutex> &guard, InLane &lane)
{
    while (lane.count > 0 && !stopping_) {
        BulkJob job = std::move(lane.waiting[lane.oldest]);
        lane.oldest = (lane.oldest + 1) % lane.waiting.size();
        --lane.count;
        const bool given_up = job.ticket < lane.stale_before;
        guard.unlock();
        if (given_up)
            reply_bulk(job, usb::Status::timeout, 0);
        else
            run_bulk(job);
        guard.lock();
        ++lane.ended;
        --reads_waiting_;
        lane.progress.notify_all();
        worker_idle_.notify_one();
    }
    reads_waiting_ -= lane.count;
    lanes_.remove_if([&](const InLane &entry) { return &entry == &lane; });
}

// Most transfers need no wait: the bytes fit the chip's buffer, or the chip has data or
// status due. Those are answered here, on the reader thread, which spares a hand-over to a
// worker and back per frame; only what must wait goes to a worker. False when the job is
// still to be run (a bulk_out keeps what it moved in `job.done`).
bool Session::finish_bulk_at_once(BulkJob &job)
{
    size_t transferred = 0;
    if (job.header.type == static_cast<uint16_t>(MessageType::bulk_out)) {
        usb::Status status = bus_.bulk_out(client_, job.id, job.channel, job.data, job.size, 0, &transferred);
        transferred = std::min(transferred, job.size);
        if (status == usb::Status::timeout && job.timeout_ms > 0) {
            job.data += transferred;
            job.size -= transferred;
            job.done = transferred;
            return false;
        }
        reply_bulk(job, status, transferred);
        return true;
    }
    usb::Status status = bus_.bulk_in(client_, job.id, job.channel, job.data, job.size, 0, &transferred);
    if (status == usb::Status::timeout && transferred == 0 && job.timeout_ms > 0)
        return false;
    reply_bulk(job, status, transferred);
    return true;
}

void Session::run_bulk(BulkJob &job)
{
    // What is left of the request's own time-out: a read may have waited for its turn.
    unsigned left_ms = 0;
    if (job.timeout_ms > 0) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(job.deadline - Clock::now()).count();
        left_ms = static_cast<unsigned>(std::max<int64_t>(left, 0));
    }
    size_t transferred = 0;
    usb::Status status;
    if (job.header.type == static_cast<uint16_t>(MessageType::bulk_out)) {
        status = bus_.bulk_out(client_, job.id, job.channel, job.data, job.size, left_ms, &transferred);
        transferred = std::min(transferred, job.size) + job.done;
    } else {
        status = bus_.bulk_in(client_, job.id, job.channel, job.data, job.size, left_ms, &transferred);
    }
    reply_bulk(job, status, transferred);
}

void Session::reply_bulk(const BulkJob &job, usb::Status status, size_t transferred)
{
    uint8_t count[8];
    size_t count_size = 8;
    if (job.header.type == static_cast<uint16_t>(MessageType::bulk_in)) {
        transferred = std::min(transferred, job.size);
        count_size = 4;
    }
    for (unsigned i = 0; i < count_size; ++i)
        count[i] = static_cast<uint8_t>(uint64_t{transferred} >> (8 * i));
    reply(job.header, status, count, count_size);
}

Session::InLane *Session::existing_lane(const std::string &id, unsigned channel)
{
    for (InLane &lane : lanes_)
        if (lane.channel == channel && lane.id == id)
            return &lane;
    return nullptr;
}

Session::InLane *Session::lane_of(const std::string &id, unsigned channel)
{
    if (InLane *lane = existing_lane(id, channel))
        return lane;
    InLane &lane = lanes_.emplace_back();
    lane.id = id;
    lane.channel = channel;
    return &lane;
}

// The client gave up the channel's reads sent so far (it purged the chip): they end now,
// the waiting ones without touching the bus, the one on the bus without taking the bytes
// that come next, which belong to the client's later reads. Returns once all have
// answered. New reads cannot come meanwhile: this runs on the thread that takes them.
void Session::end_reads_sent_before(const std::string &id, unsigned channel)
{
    std::unique_lock<std::mutex> guard(pool_lock_);
    InLane *lane = existing_lane(id, channel);
    if (!lane)
        return;
    const uint64_t given_up = lane->issued;
    lane->stale_before = given_up;
    for (;;) {
        lane = existing_lane(id, channel);
        if (!lane || lane->ended >= given_up || stopping_)
            return;
        // Again on every pass: a read may have gone onto the bus just after the last call.
        guard.unlock();
        bus_.end_waiting_in(client_, id, channel);
        guard.lock();
        lane = existing_lane(id, channel);
        if (!lane || lane->ended >= given_up)
            return;
        lane->progress.wait_for(guard, std::chrono::milliseconds(1));
    }
}

Session::Worker *Session::acquire_worker()
{
    std::unique_lock<std::mutex> guard(pool_lock_);
    for (;;) {
        if (stopping_)
            return nullptr;
        for (auto &worker : workers_) {
            if (!worker->busy) {
                worker->busy = true;
                return worker.get();
            }
        }
        if (workers_.size() < vbus::max_in_flight) {
            auto worker = std::make_unique<Worker>();
            worker->busy = true;
            Worker *raw = worker.get();
            workers_.push_back(std::move(worker));
            raw->thread = std::thread([this, raw] { worker_loop(*raw); });
            return raw;
        }
        // Every worker is waiting on the bus: stop reading until one comes back.
        worker_idle_.wait(guard);
    }
}

void Session::worker_loop(Worker &worker)
{
    std::unique_lock<std::mutex> guard(pool_lock_);
    for (;;) {
        worker.wake.wait(guard, [&] { return worker.has_job || stopping_; });
        if (!worker.has_job)
            return;
        worker.has_job = false;
        if (worker.lane) {
            serve_lane(guard, *std::exchange(worker.lane, nullptr));
        } else if (!stopping_) {
            guard.unlock();
            run_bulk(worker.job);
            guard.lock();
        }
        worker.busy = false;
        worker_idle_.notify_one();
    }
}

void Session::stop_workers()
{
    {
        std::lock_guard<std::mutex> guard(pool_lock_);
        stopping_ = true;
        for (auto &worker : workers_)
            worker->wake.notify_one();
        for (InLane &lane : lanes_)
            lane.progress.notify_all();
        worker_idle_.notify_all();
    }
    for (auto &worker : workers_)
        worker->thread.join();
}

} // namespace corvane::sim
