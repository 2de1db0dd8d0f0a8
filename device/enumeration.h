// Finding the attached devices: the presence query over the bus driver's device interface
// class, and opening the device at an index of it.
#ifndef CORVANE_DEVICE_ENUMERATION_H
#define CORVANE_DEVICE_ENUMERATION_H

#include "device/handle_record.h"

namespace corvane::device {

// The device interface class that the bus driver registers its devices under.
extern const GUID device_interface_class;

// Owns one presence query; destroys it when it goes.
class PresentDevices {
public:
    PresentDevices();
    ~PresentDevices();
    PresentDevices(const PresentDevices &) = delete;
    PresentDevices &operator=(const PresentDevices &) = delete;

    // The query returned nothing at all, or the invalid-handle value.
    bool missing() const { return set_ == nullptr; }
    bool invalid() const { return set_ == INVALID_HANDLE_VALUE; }
    bool usable() const { return !missing() && !invalid(); }

    // The number of interfaces, counted from index 0 to the first that is not there.
    DWORD count() const;
    // The configuration-manager instance of the device at the index; false when it has none.
    bool instance_at(DWORD index, DEVINST *instance) const;

    HDEVINFO set() const { return set_; }

private:
    HDEVINFO set_;
};

// Counts the present devices: FTDEV_OK with the count, or FTDEV_DEVICE_NOT_FOUND when
// the presence query gives no usable list.
FtdevStatus count_devices(DWORD *count);

// How CreateFileA opens a device. FT_Open's own: read and write, no sharing,
// open-existing, synchronous.
struct CreateParameters {
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD share_mode = 0;
    LPSECURITY_ATTRIBUTES security = nullptr;
    DWORD disposition = OPEN_EXISTING;
    DWORD flags = 0; // also stored as the record's open flags
    HANDLE template_file = nullptr;
};

// The steps of FT_Open for the device at `index` with the given CreateFileA parameters:
// under the handle lock, a new record in the handle list, the request table chosen by
// the device's answer to the information request. Writes the new handle only on success.
FtdevStatus open_device(DWORD index, const CreateParameters &parameters, FtdevHandle *handle);

// One property of a device (request 39, 40 or 41) through a zeroed 64-byte buffer that
// goes to the driver as input and output.
struct PropertyReply {
    unsigned char bytes[64];
    uint32_t returned; // what the driver said it wrote
};
FtdevStatus read_property(FtdevHandle handle, unsigned request_index, PropertyReply *reply);

// Whether a property reply names what the caller asked for: text equal byte for byte up
// to and including its NUL within the 64 bytes, or a location equal in the first word.
bool property_matches(const PropertyReply &reply, unsigned request_index, const void *value);

constexpr unsigned serial_number_request = 39;
constexpr unsigned description_request = 40;
constexpr unsigned location_request = 41;

} // namespace corvane::device

#endif // CORVANE_DEVICE_ENUMERATION_H
