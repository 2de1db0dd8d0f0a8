// The library seam over libusb-1.0 itself, and the real-hardware transport made from it.
//
// Built only with CORVANE_WITH_LIBUSB; everything above the seam is built in every
// configuration so that its tests run without libusb.
#include "usb/libusb/seam.h"

#include <libusb.h>

#include <chrono>
#include <mutex>
#include <span>

namespace corvane::usb {
namespace {

using Clock = std::chrono::steady_clock;

// A libusb_init that failed (no usbfs, no permission on the bus) means "no real devices";
// it is tried again after this long, in case the bus shows up later.
constexpr auto init_retry = std::chrono::seconds(5);
// USB allows at most seven tiers of hubs below the root.
constexpr int deepest_port_path = 7;
constexpr size_t longest_string = 255;

UsbResult result_of(int error)
{
    if (error >= 0)
        return UsbResult::ok;
    switch (error) {
    case LIBUSB_ERROR_TIMEOUT: return UsbResult::timeout;
    case LIBUSB_ERROR_NO_DEVICE: return UsbResult::no_device;
    case LIBUSB_ERROR_BUSY: return UsbResult::busy;
    case LIBUSB_ERROR_ACCESS: return UsbResult::access;
    case LIBUSB_ERROR_NOT_FOUND: return UsbResult::not_found;
    case LIBUSB_ERROR_NOT_SUPPORTED: return UsbResult::not_supported;
    case LIBUSB_ERROR_PIPE: return UsbResult::stall;
    case LIBUSB_ERROR_OVERFLOW: return UsbResult::overflow;
    default: return UsbResult::io_error;
    }
}

UsbResult result_of_transfer(libusb_transfer_status status)
{
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED: return UsbResult::ok;
    case LIBUSB_TRANSFER_TIMED_OUT: return UsbResult::timeout;
    case LIBUSB_TRANSFER_CANCELLED: return UsbResult::cancelled;
    case LIBUSB_TRANSFER_STALL: return UsbResult::stall;
    case LIBUSB_TRANSFER_NO_DEVICE: return UsbResult::no_device;
    case LIBUSB_TRANSFER_OVERFLOW: return UsbResult::overflow;
    case LIBUSB_TRANSFER_ERROR: return UsbResult::io_error;
    }
    return UsbResult::io_error;
}

EndpointKind kind_of(uint8_t attributes)
{
    switch (attributes & LIBUSB_TRANSFER_TYPE_MASK) {
    case LIBUSB_TRANSFER_TYPE_CONTROL: return EndpointKind::control;
    case LIBUSB_TRANSFER_TYPE_ISOCHRONOUS: return EndpointKind::isochronous;
    case LIBUSB_TRANSFER_TYPE_BULK: return EndpointKind::bulk;
    default: return EndpointKind::interrupt;
    }
}

// One libusb context, kept alive by every handle and transfer made in it.
class Context {
public:
    static std::shared_ptr<Context> start()
    {
        libusb_context *context = nullptr;
#if LIBUSB_API_VERSION >= 0x0100010A
        const int result = libusb_init_context(&context, nullptr, 0);
#else
        const int result = libusb_init(&context);
#endif
        if (result != LIBUSB_SUCCESS)
            return nullptr;
        return std::shared_ptr<Context>(new Context(context));
    }
    ~Context()
    {
        libusb_exit(context_);
    }
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    libusb_context *get() const
    {
        return context_;
    }

private:
    explicit Context(libusb_context *context) : context_(context) {}
    libusb_context *context_;
};

// The device list of a context, given back on every path.
class DeviceList {
public:
    explicit DeviceList(libusb_context *context)
    {
        const ssize_t count = libusb_get_device_list(context, &devices_);
        if (count < 0) {
            devices_ = nullptr;
            error_ = static_cast<int>(count);
        } else {
            count_ = static_cast<size_t>(count);
        }
    }
    ~DeviceList()
    {
        if (devices_)
            libusb_free_device_list(devices_, 1);
    }
    DeviceList(const DeviceList &) = delete;
    DeviceList &operator=(const DeviceList &) = delete;

    int error() const { return error_; }
    std::span<libusb_device *> devices() const { return {devices_, count_}; }

private:
    libusb_device **devices_ = nullptr;
    size_t count_ = 0;
    int error_ = 0;
};

void read_configuration(libusb_device *device, DeviceRecord &record)
{
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS || !config)
        return;
    for (uint8_t i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface &interface = config->interface[i];
        if (interface.num_altsetting < 1)
            continue;
        const libusb_interface_descriptor &setting = interface.altsetting[0];
        InterfaceRecord interface_record;
        interface_record.number = setting.bInterfaceNumber;
        for (uint8_t e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor &endpoint = setting.endpoint[e];
            interface_record.endpoints.push_back(
                {endpoint.bEndpointAddress, kind_of(endpoint.bmAttributes), endpoint.wMaxPacketSize});
        }
        record.interfaces.push_back(std::move(interface_record));
    }
    record.configured = true;
    libusb_free_config_descriptor(config);
}

bool read_record(libusb_device *device, DeviceRecord &record)
{
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
        return false;
    record.bus = libusb_get_bus_number(device);
    record.address = libusb_get_device_address(device);
    uint8_t ports[deepest_port_path];
    const int depth = libusb_get_port_numbers(device, ports, deepest_port_path);
    if (depth > 0)
        record.ports.assign(ports, ports + depth);
    record.vendor_id = descriptor.idVendor;
    record.product_id = descriptor.idProduct;
    record.bcd_device = descriptor.bcdDevice;
    record.manufacturer_index = descriptor.iManufacturer;
    record.product_index = descriptor.iProduct;
    record.serial_index = descriptor.iSerialNumber;
    return true;
}

class RealTransfer final : public UsbTransfer {
public:
    RealTransfer(std::shared_ptr<Context> context, libusb_device_handle *handle, uint8_t endpoint,
                 libusb_transfer *transfer)
        : context_(std::move(context)), handle_(handle), endpoint_(endpoint), transfer_(transfer)
    {}
    ~RealTransfer() override { libusb_free_transfer(transfer_); }
    RealTransfer(const RealTransfer &) = delete;
    RealTransfer &operator=(const RealTransfer &) = delete;

    UsbResult submit(uint8_t *buffer, size_t length) override
    {
        // No time-out of libusb's own: the channel cancels at its deadline, which keeps
        // the partial count exact.
        libusb_fill_bulk_transfer(transfer_, handle_, endpoint_, buffer, static_cast<int>(length),
                                  &RealTransfer::completed, this, 0);
        return result_of(libusb_submit_transfer(transfer_));
    }

    void cancel() override { libusb_cancel_transfer(transfer_); }

private:
    static void LIBUSB_CALL completed(libusb_transfer *transfer)
    {
        auto *self = static_cast<RealTransfer *>(transfer->user_data);
        self->complete(result_of_transfer(transfer->status),
                       transfer->actual_length > 0 ? static_cast<size_t>(transfer->actual_length) : 0);
    }

    std::shared_ptr<Context> context_;
    libusb_device_handle *handle_;
    uint8_t endpoint_;
    libusb_transfer *transfer_;
};

class RealHandle final : public UsbHandle {
public:
    RealHandle(std::shared_ptr<Context> context, libusb_device_handle *handle)
        : context_(std::move(context)), handle_(handle)
    {}
    ~RealHandle() override { libusb_close(handle_); }
    RealHandle(const RealHandle &) = delete;
    RealHandle &operator=(const RealHandle &) = delete;

    UsbResult string_descriptor(uint8_t index, std::string &text) override
    {
        unsigned char buffer[longest_string + 1];
        const int length = libusb_get_string_descriptor_ascii(handle_, index, buffer, longest_string);
        if (length < 0)
            return result_of(length);
        text.assign(reinterpret_cast<const char *>(buffer), static_cast<size_t>(length));
        return UsbResult::ok;
    }

    UsbResult kernel_driver_active(uint8_t interface, bool &active) override
    {
        const int result = libusb_kernel_driver_active(handle_, interface);
        active = result == 1;
        return result_of(result);
    }
    UsbResult detach_kernel_driver(uint8_t interface) override
    {
        return result_of(libusb_detach_kernel_driver(handle_, interface));
    }
    UsbResult attach_kernel_driver(uint8_t interface) override
    {
        return result_of(libusb_attach_kernel_driver(handle_, interface));
    }
    UsbResult claim_interface(uint8_t interface) override
    {
        return result_of(libusb_claim_interface(handle_, interface));
    }
    UsbResult release_interface(uint8_t interface) override
    {
        return result_of(libusb_release_interface(handle_, interface));
    }

    UsbResult control(const ControlSetup &setup, uint8_t *data, unsigned timeout_ms, size_t *transferred) override
    {
        const int result = libusb_control_transfer(handle_, setup.request_type, setup.request, setup.value, setup.index,
                                                   data, setup.length, timeout_ms);
        *transferred = result > 0 ? static_cast<size_t>(result) : 0;
        return result_of(result);
    }

    UsbResult reset_device() override { return result_of(libusb_reset_device(handle_)); }
    UsbResult clear_halt(uint8_t endpoint) override { return result_of(libusb_clear_halt(handle_, endpoint)); }

    std::unique_ptr<UsbTransfer> make_bulk_transfer(uint8_t endpoint) override
    {
        libusb_transfer *transfer = libusb_alloc_transfer(0);
        if (!transfer)
            return nullptr;
        return std::make_unique<RealTransfer>(context_, handle_, endpoint, transfer);
    }

    void handle_events(unsigned timeout_ms, UsbTransfer *watched) override
    {
        timeval limit{static_cast<time_t>(timeout_ms / 1000), static_cast<suseconds_t>(timeout_ms % 1000 * 1000)};
        libusb_handle_events_timeout_completed(context_->get(), &limit, watched ? &watched->done : nullptr);
    }

    void interrupt_events() override
    {
#if LIBUSB_API_VERSION >= 0x01000105
        libusb_interrupt_event_handler(context_->get());
#endif
        // Older libraries cannot; the channel's bounded waits stand in.
    }

private:
    std::shared_ptr<Context> context_;
    libusb_device_handle *handle_;
};

class RealLibrary final : public UsbLibrary {
public:
    UsbResult list(std::vector<DeviceRecord> &devices) override
    {
        devices.clear();
        const std::shared_ptr<Context> context = started();
        if (!context)
            return UsbResult::ok;
        DeviceList list(context->get());
        if (list.error() != 0)
            return result_of(list.error());
        for (libusb_device *device : list.devices()) {
            DeviceRecord record;
            if (!read_record(device, record))
                continue;
            read_configuration(device, record);
            devices.push_back(std::move(record));
        }
        return UsbResult::ok;
    }

    UsbResult open(const DeviceRecord &wanted, std::unique_ptr<UsbHandle> &handle) override
    {
        const std::shared_ptr<Context> context = started();
        if (!context)
            return UsbResult::no_device;
        DeviceList list(context->get());
        if (list.error() != 0)
            return result_of(list.error());
        for (libusb_device *device : list.devices()) {
            DeviceRecord record;
            if (!read_record(device, record) || record.bus != wanted.bus || record.ports != wanted.ports ||
                record.address != wanted.address)
                continue;
            libusb_device_handle *opened = nullptr;
            if (const int result = libusb_open(device, &opened); result != LIBUSB_SUCCESS)
                return result_of(result);
            handle = std::make_unique<RealHandle>(context, opened);
            return UsbResult::ok;
        }
        return UsbResult::no_device;
    }

private:
    std::shared_ptr<Context> started()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!context_ && (!tried_ || Clock::now() - last_try_ >= init_retry)) {
            tried_ = true;
            last_try_ = Clock::now();
            context_ = Context::start();
        }
        return context_;
    }

    std::mutex mutex_;
    std::shared_ptr<Context> context_;
    bool tried_ = false;
    Clock::time_point last_try_;
};

} // namespace

std::unique_ptr<Transport> make_libusb_transport()
{
    return make_libusb_transport(std::make_shared<RealLibrary>());
}

} // namespace corvane::usb
