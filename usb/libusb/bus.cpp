// The real-hardware transport over the library seam: which devices it lists, what it
// says about them, and how it opens one channel.
//
// Listing reads descriptors only. The string descriptors need an open device handle (which
// claims nothing and leaves the serial driver alone); they are read once per device and
// kept until the device leaves the bus or enumerates again, because the platform lists
// often and each open may wake a suspended device.
#include "wire/ftdi_protocol.h"
#include "usb/libusb/channel.h"
#include "usb/libusb/seam.h"
#include "usb/libusb/topology.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace corvane::usb {
namespace {

bool is_bulk_in(const EndpointRecord &endpoint)
{
    return endpoint.kind == EndpointKind::bulk && (endpoint.address & 0x80) != 0;
}

bool is_bulk_out(const EndpointRecord &endpoint)
{
    return endpoint.kind == EndpointKind::bulk && (endpoint.address & 0x80) == 0;
}

// wMaxPacketSize carries extra transactions per microframe in bits 11-12 (never for bulk).
uint16_t packet_size_of(const EndpointRecord &endpoint)
{
    return endpoint.max_packet_size & 0x7FF;
}

const EndpointRecord *find_endpoint(const InterfaceRecord &interface, bool (*wanted)(const EndpointRecord &))
{
    for (const EndpointRecord &endpoint : interface.endpoints)
        if (wanted(endpoint))
            return &endpoint;
    return nullptr;
}

bool is_listed_kind(const DeviceRecord &record)
{
    return record.vendor_id == ftdi::vendor_id && record.configured && !record.interfaces.empty();
}

// What tells one enumeration of a device from the next at the same place on the bus.
struct EnumerationKey {
    uint8_t address = 0;
    uint16_t product_id = 0;
    uint16_t bcd_device = 0;
    bool operator==(const EnumerationKey &) const = default;
};

EnumerationKey key_of(const DeviceRecord &record)
{
    return {record.address, record.product_id, record.bcd_device};
}

struct KnownDevice {
    EnumerationKey key;
    bool strings_read = false;
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::shared_ptr<DeviceLife> life = std::make_shared<DeviceLife>();
};

class LibusbTransport final : public Transport {
public:
    explicit LibusbTransport(std::shared_ptr<UsbLibrary> library) : library_(std::move(library)) {}

    std::string_view name() const override { return "usb"; }

    Status list(std::vector<DeviceIdentity> &devices) override
    {
        devices.clear();
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<DeviceRecord> records;
        if (const Status status = current_records(records); status != Status::ok)
            return status;
        for (const DeviceRecord &record : records)
            devices.push_back(identity_of(record, known_device(record)));
        forget_all_but(records);
        return Status::ok;
    }

    Status open(const std::string &id, unsigned channel, std::unique_ptr<Channel> &out) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<DeviceRecord> records;
        if (const Status status = current_records(records); status != Status::ok)
            return status;
        const auto record = std::find_if(records.begin(), records.end(), [&](const DeviceRecord &candidate) {
            return topology_id(candidate.bus, candidate.ports) == id;
        });
        if (record == records.end())
            return Status::no_device;
        if (channel < 1 || channel > record->interfaces.size())
            return Status::invalid;
        const InterfaceRecord &interface = record->interfaces[channel - 1];
        const EndpointRecord *in = find_endpoint(interface, is_bulk_in);
        const EndpointRecord *out_endpoint = find_endpoint(interface, is_bulk_out);
        if (!in || !out_endpoint || packet_size_of(*in) == 0)
            return Status::not_supported;

        std::unique_ptr<UsbHandle> handle;
        if (const UsbResult result = library_->open(*record, handle); result != UsbResult::ok)
            return status_of(result);
        const ChannelEndpoints endpoints{interface.number, in->address, out_endpoint->address, packet_size_of(*in)};
        return LibusbChannel::open(std::move(handle), endpoints, known_device(*record, false).life, out);
    }

private:
    // The FTDI devices attached now, in topology order (mutex_ held).
    Status current_records(std::vector<DeviceRecord> &records)
    {
        const UsbResult result = library_->list(records);
        if (result != UsbResult::ok) {
            records.clear();
            return status_of(result);
        }
        std::erase_if(records, [](const DeviceRecord &record) { return !is_listed_kind(record); });
        std::sort(records.begin(), records.end(), [](const DeviceRecord &a, const DeviceRecord &b) {
            return topology_before(a.bus, a.ports, b.bus, b.ports);
        });
        return Status::ok;
    }

    // What is known of the device at `record`'s place, made fresh when a different
    // enumeration sits there now; with `read_strings`, its strings too (mutex_ held).
    KnownDevice &known_device(const DeviceRecord &record, bool read_strings = true)
    {
        KnownDevice &known = known_[topology_id(record.bus, record.ports)];
        if (known.key != key_of(record) || known.life->gone.load()) {
            known.life->gone.store(true); // channels of the earlier enumeration are done with
            known = KnownDevice{};
            known.key = key_of(record);
        }
        if (read_strings && !known.strings_read)
            read_strings_of(record, known);
        return known;
    }

    void read_strings_of(const DeviceRecord &record, KnownDevice &known)
    {
        std::unique_ptr<UsbHandle> handle;
        // Not opened (no permission yet): listed without strings, tried again next time.
        if (library_->open(record, handle) != UsbResult::ok)
            return;
        const auto read = [&](uint8_t index, std::string &text) {
            text.clear();
            if (index != 0 && handle->string_descriptor(index, text) != UsbResult::ok)
                text.clear();
        };
        read(record.manufacturer_index, known.manufacturer);
        read(record.product_index, known.product);
        read(record.serial_index, known.serial);
        known.strings_read = true;
    }

    // Devices no longer attached are forgotten, and their open channels told so.
    void forget_all_but(const std::vector<DeviceRecord> &records)
    {
        std::erase_if(known_, [&](auto &entry) {
            const bool attached = std::any_of(records.begin(), records.end(), [&](const DeviceRecord &record) {
                return topology_id(record.bus, record.ports) == entry.first;
            });
            if (!attached)
                entry.second.life->gone.store(true);
            return !attached;
        });
    }

    static DeviceIdentity identity_of(const DeviceRecord &record, const KnownDevice &known)
    {
        DeviceIdentity identity;
        identity.id = topology_id(record.bus, record.ports);
        identity.vendor_id = record.vendor_id;
        identity.product_id = record.product_id;
        identity.bcd_device = record.bcd_device;
        identity.manufacturer = known.manufacturer;
        identity.product = known.product;
        identity.serial = known.serial;
        identity.channels = static_cast<uint8_t>(std::min<size_t>(record.interfaces.size(), 255));
        if (const EndpointRecord *in = find_endpoint(record.interfaces.front(), is_bulk_in))
            identity.packet_size = packet_size_of(*in);
        identity.location = topology_location(record.bus, record.ports, record.address);
        identity.virtual_model = false;
        return identity;
    }

    std::shared_ptr<UsbLibrary> library_;
    std::mutex mutex_;
    std::map<std::string, KnownDevice> known_; // by topology id
};

} // namespace

std::unique_ptr<Transport> make_libusb_transport(std::shared_ptr<UsbLibrary> library)
{
    return std::make_unique<LibusbTransport>(std::move(library));
}

} // namespace corvane::usb
