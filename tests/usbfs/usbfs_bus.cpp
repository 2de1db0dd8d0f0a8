#include "usbfs_bus.h"

#include "wire/ftdi_protocol.h"

#include <umockdev.h>

#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace corvane::usbfs {
namespace {

constexpr unsigned bus_number = 1;
constexpr unsigned usb_major = 189;
// A bulk IN call on the model returns within the latency timer (255 ms at most) unless the
// chip is stalled; a longer slice lets the timer run out, a bounded one lets a discarded
// transfer that raced its end_waiting_in still end.
constexpr unsigned in_slice_ms = 300;
constexpr unsigned out_slice_ms = 100;
constexpr uint32_t capabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                  USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr const char *serial_driver = "usbserial";
constexpr const char *usbfs_driver = "usbfs";
constexpr size_t setup_size = 8;

void put16(std::vector<uint8_t> &out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void device_descriptor(std::vector<uint8_t> &out, uint8_t device_class, uint8_t ep0_size, uint16_t vendor,
                       uint16_t product, uint16_t bcd_device, bool strings)
{
    out.insert(out.end(), {18, 1});
    put16(out, 0x0200);
    out.insert(out.end(), {device_class, 0, 0, ep0_size});
    put16(out, vendor);
    put16(out, product);
    put16(out, bcd_device);
    out.insert(out.end(), {uint8_t(strings ? 1 : 0), uint8_t(strings ? 2 : 0), uint8_t(strings ? 3 : 0), 1});
}

void config_header(std::vector<uint8_t> &out, uint16_t total, uint8_t interfaces)
{
    out.insert(out.end(), {9, 2});
    put16(out, total);
    out.insert(out.end(), {interfaces, 1, 0, 0xA0, 45});
}

// Device then configuration descriptor, as the sysfs "descriptors" attribute holds them.
std::vector<uint8_t> chip_descriptors(const usb::DeviceIdentity &identity)
{
    const bool high_speed = identity.packet_size == 512;
    std::vector<uint8_t> out;
    device_descriptor(out, 0, high_speed ? 64 : 8, identity.vendor_id, identity.product_id, identity.bcd_device, true);
    config_header(out, static_cast<uint16_t>(9 + identity.channels * 23), identity.channels);
    for (uint8_t k = 0; k < identity.channels; ++k) {
        out.insert(out.end(), {9, 4, k, 0, 2, 0xFF, 0xFF, 0xFF, 2});
        out.insert(out.end(), {7, 5, uint8_t(0x81 + 2 * k), 2});
        put16(out, identity.packet_size);
        out.push_back(0);
        out.insert(out.end(), {7, 5, uint8_t(0x02 + 2 * k), 2});
        put16(out, identity.packet_size);
        out.push_back(0);
    }
    return out;
}

std::vector<uint8_t> root_hub_descriptors()
{
    std::vector<uint8_t> out;
    device_descriptor(out, 9, 64, 0x1D6B, 0x0002, 0x0601, false);
    config_header(out, 25, 1);
    out.insert(out.end(), {9, 4, 0, 0, 1, 9, 0, 0, 0});
    out.insert(out.end(), {7, 5, 0x81, 3, 4, 0, 12});
    return out;
}

std::vector<uint8_t> string_descriptor(const std::string &text)
{
    std::vector<uint8_t> out{uint8_t(2 + 2 * std::min<size_t>(text.size(), 126)), 3};
    for (size_t i = 0; i < text.size() && i < 126; ++i)
        put16(out, static_cast<uint8_t>(text[i]));
    return out;
}

char *node_path(unsigned devnum, char (&text)[32])
{
    std::snprintf(text, sizeof text, "/dev/bus/usb/%03u/%03u", bus_number, devnum);
    return text;
}

} // namespace

// One open file of a device node.
struct Open {
    sim::ClientId client = 0;
    std::deque<struct Urb *> done; // finished, not reaped yet
    bool vanished = false;
};

struct Urb {
    std::shared_ptr<Open> open;
    UMockdevIoctlData *record = nullptr; // the caller's usbdevfs_urb, resolved
    UMockdevIoctlData *buffer = nullptr; // its buffer, resolved; nullptr when empty
    unsigned long address = 0;
    uint8_t type = 0;
    uint8_t endpoint = 0;
    size_t length = 0;
    size_t actual = 0;
    bool cancelled = false;
    bool in_model = false; // a model call for it is under way

    ~Urb()
    {
        if (buffer)
            g_object_unref(buffer);
        if (record)
            g_object_unref(record);
    }
    uint8_t *data() { return buffer ? buffer->data : nullptr; }
};

struct Endpoint {
    uint8_t address = 0;
    unsigned channel = 0; // 1 = A
    std::deque<Urb *> queue;
    std::condition_variable wake;
    std::thread worker;
};

struct UsbfsBus::Device {
    UsbfsBus::Impl *bus = nullptr;
    size_t position = 0;
    std::string model_id;
    std::string syspath;
    std::string node;
    usb::DeviceIdentity identity;
    UMockdevIoctlBase *handler = nullptr;
    int fifo = -1; // the harness's end of the device node

    std::mutex lock;
    bool plugged = true;
    bool stopping = false;
    size_t reapable = 0;
    uint64_t bytes_out = 0;
    std::map<UMockdevIoctlClient *, std::shared_ptr<Open>> opens;
    std::vector<bool> bound;        // serial driver per interface
    std::vector<Open *> claimed_by; // per interface
    std::vector<std::unique_ptr<Endpoint>> endpoints;

    ~Device();
    std::shared_ptr<Open> open_of(UMockdevIoctlClient *client);
    void finish(Urb *urb, int status);
    void run_endpoint(Endpoint &endpoint);
    void end_all(int status);
    bool handle(UMockdevIoctlClient *client);
    void vanish(UMockdevIoctlClient *client);

    int submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg, std::unique_ptr<Urb> &bulk, Endpoint *&endpoint);
    int control(Open &open, Urb &urb);
    int discard(Open &open, unsigned long address);
};

struct UsbfsBus::Impl {
    UMockdevTestbed *testbed = nullptr;
    std::unique_ptr<sim::BusModel> model;
    std::string root;
    std::string hub_syspath;
    unsigned next_devnum = 2;
    std::vector<std::unique_ptr<Device>> current; // by position; nullptr while unplugged
    std::vector<std::unique_ptr<Device>> gone;    // unplugged, kept for files still open
    std::mutex lock;

    void add(size_t position);
};

namespace {

gboolean on_ioctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer device)
{
    return static_cast<UsbfsBus::Device *>(device)->handle(client);
}

void on_vanished(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer device)
{
    static_cast<UsbfsBus::Device *>(device)->vanish(client);
}

// Writes `value` at `offset` of a resolved block.
template <typename T>
void store(UMockdevIoctlData *data, size_t offset, T value)
{
    std::memcpy(data->data + offset, &value, sizeof value);
}

template <typename T>
T load(const UMockdevIoctlData *data, size_t offset)
{
    T value;
    std::memcpy(&value, data->data + offset, sizeof value);
    return value;
}

UMockdevIoctlData *resolve(UMockdevIoctlData *data, size_t offset, size_t length)
{
    GError *error = nullptr;
    UMockdevIoctlData *child = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (error)
        g_error_free(error);
    return child;
}

} // namespace

UsbfsBus::Device::~Device()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    for (auto &endpoint : endpoints) {
        endpoint->wake.notify_all();
        if (endpoint->worker.joinable())
            endpoint->worker.join();
    }
    for (auto &[client, open] : opens)
        for (Urb *urb : open->done)
            delete urb;
    for (auto &endpoint : endpoints)
        for (Urb *urb : endpoint->queue)
            delete urb;
    if (fifo >= 0)
        close(fifo);
    if (handler)
        g_object_unref(handler);
}

std::shared_ptr<Open> UsbfsBus::Device::open_of(UMockdevIoctlClient *client)
{
    std::shared_ptr<Open> &open = opens[client];
    if (!open) {
        open = std::make_shared<Open>();
        open->client = bus->model->add_client();
    }
    return open;
}

// Moves a URB to its file's reap queue (lock held). The node's byte goes when the first
// URB is there to reap, so libusb's poll wakes.
void UsbfsBus::Device::finish(Urb *urb, int status)
{
    store(urb->record, offsetof(usbdevfs_urb, status), status);
    store(urb->record, offsetof(usbdevfs_urb, actual_length), static_cast<int>(urb->actual));
    if (urb->open->vanished) {
        delete urb;
        return;
    }
    urb->open->done.push_back(urb);
    if (reapable++ == 0) {
        uint8_t byte;
        (void)!read(fifo, &byte, 1);
    }
}

void UsbfsBus::Device::end_all(int status)
{
    for (auto &endpoint : endpoints) {
        for (Urb *urb : endpoint->queue)
            if (!urb->in_model)
                finish(urb, status);
        std::erase_if(endpoint->queue, [](Urb *urb) { return !urb->in_model; });
        endpoint->wake.notify_all();
    }
}

// One endpoint's transfers, in order, against the model.
void UsbfsBus::Device::run_endpoint(Endpoint &endpoint)
{
    const bool in = endpoint.address & 0x80;
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        endpoint.wake.wait(guard, [&] { return stopping || !endpoint.queue.empty(); });
        if (stopping)
            return;
        Urb *urb = endpoint.queue.front();
        if (!plugged || urb->cancelled || urb->length == 0) {
            endpoint.queue.pop_front();
            finish(urb, !plugged ? -ESHUTDOWN : urb->cancelled ? -ENOENT : 0);
            continue;
        }
        urb->in_model = true;
        const sim::ClientId client = urb->open->client;
        guard.unlock();
        // Only a short packet ends an IN transfer that has room left, as on the bus: after
        // whole packets the chip's next one (data, or status bytes once its latency timer
        // runs out) goes into the same transfer.
        const auto ends_transfer = [&](size_t moved) {
            return moved % identity.packet_size != 0 || urb->length - urb->actual < usb::ftdi::status_bytes;
        };
        size_t moved = 0;
        usb::Status status;
        if (in) {
            status = bus->model->bulk_in(client, model_id, endpoint.channel, urb->data() + urb->actual,
                                         urb->length - urb->actual, in_slice_ms, &moved);
        } else {
            status = bus->model->bulk_out(client, model_id, endpoint.channel, urb->data() + urb->actual,
                                          urb->length - urb->actual, out_slice_ms, &moved);
        }
        guard.lock();
        urb->in_model = false;
        if (!in)
            bytes_out += moved;
        urb->actual += moved;
        int result = 1; // 1: not finished yet
        if (!plugged)
            result = -ESHUTDOWN;
        else if (status == usb::Status::ok && (urb->actual == urb->length || (in && ends_transfer(moved))))
            result = 0;
        else if (status == usb::Status::timeout && urb->cancelled)
            result = -ENOENT;
        else if (status != usb::Status::ok && status != usb::Status::timeout)
            result = -EPROTO;
        // A transfer of the model's that ended on its own time-out goes on in a new one.
        if (result != 1) {
            endpoint.queue.pop_front();
            finish(urb, result);
        }
    }
}

void UsbfsBus::Device::vanish(UMockdevIoctlClient *client)
{
    std::lock_guard<std::mutex> guard(lock);
    auto found = opens.find(client);
    if (found == opens.end())
        return;
    std::shared_ptr<Open> open = found->second;
    opens.erase(found);
    open->vanished = true;
    reapable -= open->done.size();
    for (Urb *urb : open->done)
        delete urb;
    open->done.clear();
    if (reapable == 0 && plugged) {
        const uint8_t byte = 0;
        (void)!write(fifo, &byte, 1);
    }
    for (auto &endpoint : endpoints) {
        for (Urb *urb : endpoint->queue)
            if (urb->open == open)
                urb->cancelled = true;
        endpoint->wake.notify_all();
    }
    // The kernel lets go of a closed file's interfaces but leaves the driver unbound.
    for (Open *&owner : claimed_by)
        if (owner == open.get())
            owner = nullptr;
    bus->model->remove_client(open->client);
}

bool UsbfsBus::Device::handle(UMockdevIoctlClient *client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    std::unique_lock<std::mutex> guard(lock);
    std::shared_ptr<Open> open = open_of(client);
    const auto fail = [&](int error) {
        guard.unlock();
        umockdev_ioctl_client_complete(client, -1, error);
        return TRUE;
    };
    const auto succeed = [&](long result = 0) {
        guard.unlock();
        umockdev_ioctl_client_complete(client, result, 0);
        return TRUE;
    };

    if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) {
        if (open->done.empty())
            return fail(plugged ? EAGAIN : ENODEV);
        UMockdevIoctlData *slot = resolve(arg, 0, sizeof(void *));
        if (!slot)
            return fail(EFAULT);
        Urb *urb = open->done.front();
        open->done.pop_front();
        if (--reapable == 0 && plugged) {
            const uint8_t byte = 0;
            (void)!write(fifo, &byte, 1);
        }
        umockdev_ioctl_data_set_ptr(slot, 0, urb->record);
        guard.unlock();
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(slot);
        delete urb;
        return TRUE;
    }
    if (!plugged)
        return fail(ENODEV);

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *value = resolve(arg, 0, sizeof(uint32_t));
        if (!value)
            return fail(EFAULT);
        store(value, 0, capabilities);
        g_object_unref(value);
        return succeed();
    }
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData *query = resolve(arg, 0, sizeof(usbdevfs_getdriver));
        if (!query)
            return fail(EFAULT);
        const unsigned interface = load<unsigned>(query, offsetof(usbdevfs_getdriver, interface));
        const char *name = nullptr;
        if (interface < bound.size())
            name = claimed_by[interface] ? usbfs_driver : bound[interface] ? serial_driver : nullptr;
        if (name)
            std::strncpy(reinterpret_cast<char *>(query->data) + offsetof(usbdevfs_getdriver, driver), name,
                         USBDEVFS_MAXDRIVERNAME);
        g_object_unref(query);
        return name ? succeed() : fail(ENODATA);
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData *command = resolve(arg, 0, sizeof(usbdevfs_ioctl));
        if (!command)
            return fail(EFAULT);
        const int interface = load<int>(command, offsetof(usbdevfs_ioctl, ifno));
        const int code = load<int>(command, offsetof(usbdevfs_ioctl, ioctl_code));
        g_object_unref(command);
        if (interface < 0 || static_cast<size_t>(interface) >= bound.size())
            return fail(EINVAL);
        if (code == USBDEVFS_DISCONNECT) {
            if (!bound[interface])
                return fail(ENODATA);
            bound[interface] = false;
            return succeed();
        }
        if (code == USBDEVFS_CONNECT) {
            if (claimed_by[interface])
                return fail(EBUSY);
            bound[interface] = true;
            return succeed(1);
        }
        return fail(ENOTTY);
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData *value = resolve(arg, 0, sizeof(unsigned));
        if (!value)
            return fail(EFAULT);
        const unsigned interface = load<unsigned>(value, 0);
        g_object_unref(value);
        if (interface >= bound.size())
            return fail(EINVAL);
        if (request == USBDEVFS_RELEASEINTERFACE) {
            if (claimed_by[interface] != open.get())
                return fail(EINVAL);
            claimed_by[interface] = nullptr;
            bus->model->release(open->client, model_id, interface + 1);
            return succeed();
        }
        if (claimed_by[interface] == open.get())
            return succeed();
        if (claimed_by[interface] || bound[interface])
            return fail(EBUSY);
        if (const usb::Status status = bus->model->claim(open->client, model_id, interface + 1);
            status != usb::Status::ok)
            return fail(status == usb::Status::busy ? EBUSY : ENODEV);
        claimed_by[interface] = open.get();
        return succeed();
    }
    case USBDEVFS_SUBMITURB: {
        std::unique_ptr<Urb> bulk;
        Endpoint *endpoint = nullptr;
        if (const int result = submit(client, arg, bulk, endpoint); result != 0)
            return fail(result);
        succeed();
        // Queued only once umockdev has written the request back: from here the
        // endpoint's thread writes into its buffer. No other request of this file comes
        // in between.
        if (bulk) {
            std::lock_guard<std::mutex> queue_guard(lock);
            endpoint->queue.push_back(bulk.release());
            endpoint->wake.notify_all();
        }
        return TRUE;
    }
    case USBDEVFS_DISCARDURB: {
        const int result = discard(*open, load<unsigned long>(arg, 0));
        return result == 0 ? succeed() : fail(result);
    }
    case USBDEVFS_CLEAR_HALT: return succeed();
    case USBDEVFS_RESET: {
        // libusb lets go of its interfaces around a reset, and a reset through a file that
        // claims nothing still restarts the chip; the model wants a client with a claim.
        auto holder = std::find_if(claimed_by.begin(), claimed_by.end(), [](Open *owner) { return owner; });
        usb::Status status;
        if (holder != claimed_by.end()) {
            status = bus->model->reset_device((*holder)->client, model_id);
        } else {
            status = bus->model->claim(open->client, model_id, 1);
            if (status == usb::Status::ok) {
                status = bus->model->reset_device(open->client, model_id);
                bus->model->release(open->client, model_id, 1);
            }
        }
        return status == usb::Status::ok ? succeed() : fail(EIO);
    }
    default: return fail(ENOTTY);
    }
}

// Takes a URB: a control one is answered at once, a bulk one is handed back to be queued.
int UsbfsBus::Device::submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg, std::unique_ptr<Urb> &bulk,
                             Endpoint *&endpoint)
{
    UMockdevIoctlData *record = resolve(arg, 0, sizeof(usbdevfs_urb));
    if (!record)
        return EFAULT;
    auto urb = std::make_unique<Urb>();
    urb->record = record;
    urb->address = record->client_addr;
    urb->open = opens[client];
    urb->type = load<uint8_t>(record, offsetof(usbdevfs_urb, type));
    urb->endpoint = load<uint8_t>(record, offsetof(usbdevfs_urb, endpoint));
    const int length = load<int>(record, offsetof(usbdevfs_urb, buffer_length));
    if (length < 0)
        return EINVAL;
    urb->length = static_cast<size_t>(length);
    if (length > 0) {
        urb->buffer = resolve(record, offsetof(usbdevfs_urb, buffer), urb->length);
        if (!urb->buffer)
            return EFAULT;
    }
    store(record, offsetof(usbdevfs_urb, status), 0);
    store(record, offsetof(usbdevfs_urb, actual_length), 0);

    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        const int status = control(*urb->open, *urb);
        finish(urb.release(), status);
        return 0;
    }
    if (urb->type != USBDEVFS_URB_TYPE_BULK)
        return EINVAL;
    auto found = std::find_if(endpoints.begin(), endpoints.end(),
                              [&](const auto &candidate) { return candidate->address == urb->endpoint; });
    if (found == endpoints.end())
        return ENOENT;
    if (claimed_by[(*found)->channel - 1] != urb->open.get())
        return EINVAL;
    endpoint = found->get();
    bulk = std::move(urb);
    return 0;
}

// A control transfer: standard descriptor reads from the harness, vendor requests from
// the chip model. Returns the URB's status.
int UsbfsBus::Device::control(Open &open, Urb &urb)
{
    if (urb.length < setup_size)
        return -EINVAL;
    uint8_t *setup_bytes = urb.data();
    usb::ControlSetup setup;
    setup.request_type = setup_bytes[0];
    setup.request = setup_bytes[1];
    setup.value = static_cast<uint16_t>(setup_bytes[2] | setup_bytes[3] << 8);
    setup.index = static_cast<uint16_t>(setup_bytes[4] | setup_bytes[5] << 8);
    setup.length = static_cast<uint16_t>(setup_bytes[6] | setup_bytes[7] << 8);
    if (setup.length > urb.length - setup_size)
        return -EINVAL;
    uint8_t *data = setup_bytes + setup_size;

    if ((setup.request_type & 0x60) == 0) {
        // Only GET_DESCRIPTOR of strings: libusb reads the others from sysfs.
        if (setup.request_type != 0x80 || setup.request != 6 || setup.value >> 8 != 3)
            return -EPIPE;
        const uint8_t index = static_cast<uint8_t>(setup.value);
        std::vector<uint8_t> answer;
        if (index == 0)
            answer = {4, 3, 0x09, 0x04};
        else if (index <= 3)
            answer = string_descriptor(index == 1   ? identity.manufacturer
                                       : index == 2 ? identity.product
                                                    : identity.serial);
        else
            return -EPIPE;
        urb.actual = std::min<size_t>(answer.size(), setup.length);
        std::memcpy(data, answer.data(), urb.actual);
        return 0;
    }

    // The model answers a client that holds a claim; a request is the device's, whichever.
    const auto owned = std::find(claimed_by.begin(), claimed_by.end(), &open);
    if (owned == claimed_by.end())
        return -EPIPE;
    const unsigned channel = static_cast<unsigned>(owned - claimed_by.begin()) + 1;
    uint16_t moved = 0;
    const usb::Status status =
        bus->model->control(open.client, model_id, channel, setup, setup.length ? data : nullptr, 1000, &moved);
    urb.actual = (setup.request_type & 0x80) ? moved : setup.length;
    switch (status) {
    case usb::Status::ok: return 0;
    case usb::Status::stall: return -EPIPE;
    case usb::Status::no_device: return -ESHUTDOWN;
    default: return -EPROTO;
    }
}

// Pending: ended as cancelled. Finished or unknown: refused, as the kernel does, and the
// caller reaps it as it finished.
int UsbfsBus::Device::discard(Open &open, unsigned long address)
{
    for (auto &endpoint : endpoints) {
        for (auto it = endpoint->queue.begin(); it != endpoint->queue.end(); ++it) {
            Urb *urb = *it;
            if (urb->address != address || urb->open.get() != &open)
                continue;
            if (urb->in_model) {
                urb->cancelled = true;
                if (endpoint->address & 0x80)
                    bus->model->end_waiting_in(open.client, model_id, endpoint->channel);
            } else {
                endpoint->queue.erase(it);
                finish(urb, -ENOENT);
            }
            return 0;
        }
    }
    return EINVAL;
}

void UsbfsBus::Impl::add(size_t position)
{
    auto device = std::make_unique<Device>();
    device->bus = this;
    device->position = position;
    device->model_id = std::to_string(position);
    device->identity = *model->chip(position)->listed_identity();
    const usb::DeviceIdentity &identity = device->identity;
    device->bound.assign(identity.channels, true);
    device->claimed_by.assign(identity.channels, nullptr);
    for (unsigned k = 0; k < identity.channels; ++k) {
        for (uint8_t address : {uint8_t(0x81 + 2 * k), uint8_t(0x02 + 2 * k)}) {
            auto endpoint = std::make_unique<Endpoint>();
            endpoint->address = address;
            endpoint->channel = k + 1;
            device->endpoints.push_back(std::move(endpoint));
        }
    }
    const unsigned devnum = next_devnum++;
    char node[32];
    device->node = node_path(devnum, node);

    device->handler = umockdev_ioctl_base_new();
    g_signal_connect(device->handler, "handle-ioctl", G_CALLBACK(on_ioctl), device.get());
    g_signal_connect(device->handler, "client-vanished", G_CALLBACK(on_vanished), device.get());
    umockdev_testbed_attach_ioctl(testbed, device->node.c_str(), device->handler, nullptr);

    const std::string name = std::to_string(bus_number) + "-" + std::to_string(position + 1);
    const std::string devnum_text = std::to_string(devnum);
    const std::string devnum_line = devnum_text + "\n";
    const std::string minor = std::to_string((bus_number - 1) * 128 + devnum - 1);
    const std::string dev = std::to_string(usb_major) + ":" + minor;
    const std::string speed = identity.packet_size == 512 ? "480\n" : "12\n";
    char vendor[8], product[8];
    std::snprintf(vendor, sizeof vendor, "%04x", identity.vendor_id);
    std::snprintf(product, sizeof product, "%04x", identity.product_id);
    const std::string busnum = std::to_string(bus_number);
    const std::string busnum_line = busnum + "\n";
    const gchar *attributes[] = {"busnum",
                                 busnum_line.c_str(),
                                 "devnum",
                                 devnum_line.c_str(),
                                 "bConfigurationValue",
                                 "1\n",
                                 "speed",
                                 speed.c_str(),
                                 "idVendor",
                                 vendor,
                                 "idProduct",
                                 product,
                                 "dev",
                                 dev.c_str(),
                                 nullptr};
    const gchar *properties[] = {"DEVNAME", device->node.c_str(), "DEVTYPE", "usb_device", "BUSNUM", busnum.c_str(),
                                 "DEVNUM",  devnum_text.c_str(),  "MAJOR",   "189",        "MINOR",  minor.c_str(),
                                 nullptr};
    // The descriptors go in before the device is announced: libusb reads them on "add".
    const std::string directory = root + hub_syspath + "/" + name;
    std::filesystem::create_directories(directory);
    const std::vector<uint8_t> descriptors = chip_descriptors(identity);
    {
        FILE *file = std::fopen((directory + "/descriptors").c_str(), "wb");
        if (file) {
            std::fwrite(descriptors.data(), 1, descriptors.size(), file);
            std::fclose(file);
        }
    }
    gchar *syspath = umockdev_testbed_add_devicev(testbed, "usb", name.c_str(), hub_syspath.c_str(),
                                                  const_cast<gchar **>(attributes), const_cast<gchar **>(properties));
    device->syspath = syspath ? syspath : "";
    g_free(syspath);
    umockdev_testbed_set_attribute_binary(testbed, device->syspath.c_str(), "descriptors",
                                          const_cast<guint8 *>(descriptors.data()),
                                          static_cast<gint>(descriptors.size()));

    // The node becomes a one-page FIFO holding one byte: not writable, so libusb's poll
    // for finished transfers sleeps until the harness takes the byte.
    const std::string fifo_path = root + device->node;
    std::filesystem::create_directories(std::filesystem::path(fifo_path).parent_path());
    unlink(fifo_path.c_str());
    mkfifo(fifo_path.c_str(), 0666);
    device->fifo = open(fifo_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    fcntl(device->fifo, F_SETPIPE_SZ, 4096);
    const uint8_t byte = 0;
    (void)!write(device->fifo, &byte, 1);

    for (auto &endpoint : device->endpoints) {
        Endpoint *target = endpoint.get();
        Device *owner = device.get();
        endpoint->worker = std::thread([owner, target] { owner->run_endpoint(*target); });
    }
    current[position] = std::move(device);
}

UsbfsBus::UsbfsBus() : impl_(std::make_unique<Impl>()) {}

std::unique_ptr<UsbfsBus> UsbfsBus::create(const std::vector<sim::ChipDescription> &chips,
                                           const std::filesystem::path &state_dir, std::string &error)
{
    std::unique_ptr<UsbfsBus> bus(new UsbfsBus);
    Impl &impl = *bus->impl_;
    impl.model = sim::BusModel::create(chips, state_dir, error);
    if (!impl.model)
        return nullptr;
    impl.testbed = umockdev_testbed_new();
    gchar *root = umockdev_testbed_get_root_dir(impl.testbed);
    impl.root = root;
    g_free(root);

    const std::vector<uint8_t> hub = root_hub_descriptors();
    char node[32];
    const std::string busnum = std::to_string(bus_number);
    const std::string busnum_line = busnum + "\n";
    const gchar *attributes[] = {
        "busnum", busnum_line.c_str(), "devnum", "1\n", "bConfigurationValue", "1\n", "speed", "480\n", nullptr};
    const gchar *properties[] = {"DEVNAME", node_path(1, node), "DEVTYPE", "usb_device", nullptr};
    gchar *hub_path = umockdev_testbed_add_devicev(impl.testbed, "usb", ("usb" + busnum).c_str(), nullptr,
                                                   const_cast<gchar **>(attributes), const_cast<gchar **>(properties));
    if (!hub_path) {
        error = "umockdev could not add the root hub";
        return nullptr;
    }
    impl.hub_syspath = hub_path;
    g_free(hub_path);
    umockdev_testbed_set_attribute_binary(impl.testbed, impl.hub_syspath.c_str(), "descriptors",
                                          const_cast<guint8 *>(hub.data()), static_cast<gint>(hub.size()));

    impl.current.resize(impl.model->size());
    for (size_t position = 0; position < impl.model->size(); ++position)
        impl.add(position);
    return bus;
}

UsbfsBus::~UsbfsBus()
{
    // The testbed stops umockdev's thread, so no request or vanished file reaches a device
    // being taken down; the model outlives the endpoint threads.
    g_object_unref(impl_->testbed);
    for (auto *devices : {&impl_->current, &impl_->gone})
        for (auto &device : *devices)
            device.reset();
}

sim::BusModel &UsbfsBus::model()
{
    return *impl_->model;
}

void UsbfsBus::unplug(size_t position)
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    std::unique_ptr<Device> &slot = impl_->current.at(position);
    if (!slot)
        return;
    Device &device = *slot;
    {
        std::lock_guard<std::mutex> device_guard(device.lock);
        device.plugged = false;
        device.end_all(-ESHUTDOWN);
        // Always ready from now on: libusb reaps what ended, then learns the device is gone.
        uint8_t byte;
        (void)!read(device.fifo, &byte, 1);
    }
    // Transfers waiting in the model end once its claims do.
    impl_->model->set_plugged(device.model_id, false);
    umockdev_testbed_uevent(impl_->testbed, device.syspath.c_str(), "remove");
    umockdev_testbed_remove_device(impl_->testbed, device.syspath.c_str());
    impl_->gone.push_back(std::move(slot));
}

void UsbfsBus::plug(size_t position)
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->current.at(position))
        return;
    impl_->model->set_plugged(std::to_string(position), true);
    impl_->add(position);
}

bool UsbfsBus::driver_bound(size_t position, unsigned interface)
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    Device *device = impl_->current.at(position).get();
    if (!device)
        return false;
    std::lock_guard<std::mutex> device_guard(device->lock);
    return interface < device->bound.size() && device->bound[interface];
}

uint64_t UsbfsBus::bytes_out(size_t position)
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    uint64_t total = 0;
    for (auto *devices : {&impl_->current, &impl_->gone})
        for (auto &device : *devices)
            if (device && device->position == position) {
                std::lock_guard<std::mutex> device_guard(device->lock);
                total += device->bytes_out;
            }
    return total;
}

std::vector<std::string> UsbfsBus::child_environment() const
{
    std::string preload = "libumockdev-preload.so.0";
    if (const char *existing = std::getenv("LD_PRELOAD"); existing && *existing)
        preload += std::string(":") + existing;
    std::string asan = "verify_asan_link_order=0";
    if (const char *existing = std::getenv("ASAN_OPTIONS"); existing && *existing)
        asan = std::string(existing) + ":" + asan;
    return {"LD_PRELOAD=" + preload, "ASAN_OPTIONS=" + asan, "UMOCKDEV_DIR=" + impl_->root};
}

std::vector<std::string> merged_environment(const std::vector<std::string> &base, const std::vector<std::string> &extra)
{
    std::vector<std::string> merged;
    const auto name_of = [](const std::string &entry) { return entry.substr(0, entry.find('=')); };
    for (const std::string &entry : base) {
        const bool replaced = std::any_of(extra.begin(), extra.end(),
                                          [&](const std::string &other) { return name_of(other) == name_of(entry); });
        if (!replaced)
            merged.push_back(entry);
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

} // namespace corvane::usbfs
