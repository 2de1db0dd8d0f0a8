#include "sim/server_session.h"

#include "sim/server.h"

#include <algorithm>
#include <cstdio>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace corvane::sim {
namespace {

namespace vbus = usb::vbus;
using vbus::MessageType;

constexpr auto forever = vbus::Deadline::max();

bool valid_channel(unsigned channel) { return channel >= 1 && channel <= vbus::max_channel; }

void say(VirtualBus::ClientId client, const char *why) {
    std::fprintf(stderr, "corvane-sim: client %llu: %s\n", static_cast<unsigned long long>(client), why);
}

} // namespace

uint8_t *ByteBuffer::reserve(size_t size) {
    if (size > capacity_) {
        bytes_ = std::make_unique_for_overwrite<uint8_t[]>(size);
        capacity_ = size;
    }
    return bytes_.get();
}

Session::Session(VirtualBus &bus, int fd) : bus_(bus), client_(bus.add_client()), fd_(fd) {}

Session::~Session() {
    end();
    close(fd_);
}

void Session::end() {
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

void Session::shut() { shutdown(fd_, SHUT_RDWR); }

bool Session::reply(const vbus::FrameHeader &request, usb::Status status, const uint8_t *payload, size_t size) {
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

bool Session::handshake() {
    uint8_t head[vbus::header_size];
    if (vbus::recv_all(fd_, head, sizeof head, forever) != vbus::IoResult::ok)
        return false;
    vbus::FrameHeader header = vbus::decode_header(head);
    if (header.type != static_cast<uint16_t>(MessageType::hello) || header.length != vbus::max_request_payload(header.type)) {
        say(client_, "the connection did not begin with a hello");
        return false;
    }
    uint8_t payload[6];
    if (vbus::recv_all(fd_, payload, sizeof payload, forever) != vbus::IoResult::ok)
        return false;
    vbus::Reader in(payload, sizeof payload);
    uint32_t magic = in.u32();
    uint16_t version = in.u16();
    std::vector<uint8_t> answer;
    vbus::Writer out(answer);
    out.u32(vbus::magic);
    out.u16(vbus::version);
    bool accepted = magic == vbus::magic && version == vbus::version;
    reply(header, accepted ? usb::Status::ok : usb::Status::not_supported, answer.data(), answer.size());
    if (!accepted)
        say(client_, magic == vbus::magic ? "protocol version not supported" : "not a virtual bus client");
    return accepted;
}

void Session::serve() {
    read_frames();
    end();
}

void Session::read_frames() {
    if (!handshake())
        return;
    while (inbox_.fill(fd_, vbus::header_size, forever) == vbus::IoResult::ok) {
        vbus::FrameHeader header = vbus::decode_header(inbox_.data());
        inbox_.consume(vbus::header_size);
        auto type = static_cast<MessageType>(header.type);
        bool known = header.type >= static_cast<uint16_t>(MessageType::list) &&
                     header.type <= static_cast<uint16_t>(MessageType::fault);
        if (!known) {
            say(client_, "unknown message type");
            return;
        }
        if (header.length > vbus::max_request_payload(header.type)) {
            say(client_, "frame longer than its message allows");
            return;
        }
        bool carried_on;
        if (type == MessageType::bulk_out || type == MessageType::bulk_in) {
            carried_on = start_bulk(header);
        } else {
            request_.resize(header.length);
            if (inbox_.take(fd_, request_.data(), header.length, forever) != vbus::IoResult::ok)
                return;
            carried_on = handle_inline(header, request_.data());
        }
        if (!carried_on) {
            say(client_, "malformed request");
            return;
        }
    }
}

bool Session::handle_inline(const vbus::FrameHeader &header, const uint8_t *payload) {
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
    case MessageType::close: {
        std::string id = in.str();
        unsigned channel = in.u8();
        if (in.failed() || in.left() != 0)
            return false;
        if (!valid_channel(channel))
            status = usb::Status::invalid;
        else if (header.type == static_cast<uint16_t>(MessageType::open))
            status = bus_.claim(client_, id, channel);
        else
            bus_.release(client_, id, channel);
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
    default:
        return false;
    }
    reply(header, status, answer_.data(), answer_.size());
    return true;
}

// Reads a bulk request straight into a worker's buffer and hands it over; the reader
// goes on with the next frame while the transfer waits on the bus.
bool Session::start_bulk(const vbus::FrameHeader &header) {
    Worker *worker = acquire_worker();
    if (!worker)
        return false;
    uint8_t *payload = worker->data.reserve(header.length);
    if (inbox_.take(fd_, payload, header.length, forever) != vbus::IoResult::ok) {
        release_worker(*worker);
        return false;
    }
    vbus::Reader in(payload, header.length);
    BulkJob &job = worker->job;
    job.header = header;
    job.id = in.str();
    job.channel = in.u8();
    bool well_formed;
    if (header.type == static_cast<uint16_t>(MessageType::bulk_in)) {
        job.size = in.u32();
        job.timeout_ms = in.u32();
        job.offset = 0;
        well_formed = !in.failed() && in.left() == 0 && job.size <= vbus::max_bulk;
    } else {
        job.timeout_ms = in.u32();
        job.offset = header.length - in.left();
        job.size = in.left();
        well_formed = !in.failed();
    }
    if (!well_formed) {
        release_worker(*worker);
        return false;
    }
    job.done = 0;
    if (finish_bulk_at_once(*worker)) {
        release_worker(*worker);
        return true;
    }
    std::lock_guard<std::mutex> guard(pool_lock_);
    worker->has_job = true;
    worker->wake.notify_one();
    return true;
}

// Most transfers need no wait: the bytes fit the chip's buffer, or the chip has data or
// status due. Those are answered here, on the reader thread, which spares a hand-over to a
// worker and back per frame; only what must wait goes to a worker. False when the job is
// still to be run (a bulk_out keeps what it moved in `job.done`).
bool Session::finish_bulk_at_once(Worker &worker) {
    BulkJob &job = worker.job;
    if (!valid_channel(job.channel))
        return false;
    size_t transferred = 0;
    if (job.header.type == static_cast<uint16_t>(MessageType::bulk_out)) {
        usb::Status status =
            bus_.bulk_out(client_, job.id, job.channel, worker.data.data() + job.offset, job.size, 0, &transferred);
        transferred = std::min(transferred, job.size);
        if (status == usb::Status::timeout && job.timeout_ms > 0) {
            job.offset += transferred;
            job.size -= transferred;
            job.done = transferred;
            return false;
        }
        uint8_t count[8];
        for (unsigned i = 0; i < 8; ++i)
            count[i] = static_cast<uint8_t>(uint64_t{transferred} >> (8 * i));
        reply(job.header, status, count, sizeof count);
        return true;
    }
    uint8_t *buffer = worker.data.reserve(job.size);
    usb::Status status = bus_.bulk_in(client_, job.id, job.channel, buffer, job.size, 0, &transferred);
    if (status == usb::Status::timeout && transferred == 0 && job.timeout_ms > 0)
        return false;
    reply(job.header, status, buffer, std::min(transferred, job.size));
    return true;
}

void Session::run_bulk(Worker &worker) {
    BulkJob &job = worker.job;
    size_t transferred = 0;
    usb::Status status = usb::Status::invalid;
    if (job.header.type == static_cast<uint16_t>(MessageType::bulk_out)) {
        if (valid_channel(job.channel))
            status = bus_.bulk_out(client_, job.id, job.channel, worker.data.data() + job.offset, job.size,
                                   job.timeout_ms, &transferred);
        transferred += job.done;
        uint8_t count[8];
        for (unsigned i = 0; i < 8; ++i)
            count[i] = static_cast<uint8_t>(uint64_t{transferred} >> (8 * i));
        reply(job.header, status, count, sizeof count);
    } else {
        uint8_t *buffer = worker.data.reserve(job.size);
        if (valid_channel(job.channel))
            status = bus_.bulk_in(client_, job.id, job.channel, buffer, job.size, job.timeout_ms, &transferred);
        reply(job.header, status, buffer, std::min(transferred, job.size));
    }
}

Session::Worker *Session::acquire_worker() {
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

void Session::release_worker(Worker &worker) {
    std::lock_guard<std::mutex> guard(pool_lock_);
    worker.busy = false;
    worker_idle_.notify_one();
}

void Session::worker_loop(Worker &worker) {
    std::unique_lock<std::mutex> guard(pool_lock_);
    for (;;) {
        worker.wake.wait(guard, [&] { return worker.has_job || stopping_; });
        if (!worker.has_job)
            return;
        worker.has_job = false;
        guard.unlock();
        run_bulk(worker);
        guard.lock();
        worker.busy = false;
        worker_idle_.notify_one();
    }
}

void Session::stop_workers() {
    {
        std::lock_guard<std::mutex> guard(pool_lock_);
        stopping_ = true;
        for (auto &worker : workers_)
            worker->wake.notify_one();
        worker_idle_.notify_all();
    }
    for (auto &worker : workers_)
        worker->thread.join();
}

} // namespace corvane::sim
