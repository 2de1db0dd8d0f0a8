// Opening and closing in the platform's file conventions: FT_W32_CreateFile finds a
// device by serial number, description or location and opens it with the caller's
// CreateFileA arguments; FT_W32_CloseHandle closes it.
#include "device/enumeration.h"
#include "device/ft_w32_boundary.h"

using namespace corvane::device;

namespace {

constexpr uint32_t name_kind_bits = FTDEV_OPEN_BY_SERIAL_NUMBER | FTDEV_OPEN_BY_DESCRIPTION | FTDEV_OPEN_BY_LOCATION;

FtdevHandle create_file(const void *name, const CreateParameters &parameters, unsigned request)
{
    DWORD count = 0;
    if (count_devices(&count) != FTDEV_OK) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FTDEV_W32_NO_HANDLE;
    }
    // A device that would not open may be the one asked for (held by another program):
    // its reason is the better answer than "not found".
    DWORD failure = ERROR_FILE_NOT_FOUND;
    FtdevHandle found = nullptr;
    for (DWORD index = 0; index < count && found == nullptr; ++index) {
        FtdevHandle candidate = nullptr;
        const FtdevStatus opened = open_device(index, parameters, &candidate);
        if (opened != FTDEV_OK) {
            if (opened == FTDEV_DEVICE_NOT_OPENED && GetLastError() != ERROR_SUCCESS)
                failure = GetLastError();
            continue;
        }
        PropertyReply reply;
        if (read_property(candidate, request, &reply) == FTDEV_OK && property_matches(reply, request, name))
            found = candidate;
        else
            FT_Close(candidate);
    }
    if (found == nullptr) {
        SetLastError(failure);
        return FTDEV_W32_NO_HANDLE;
    }

    // The EEPROM library chooses its layout by this field; the listed type stays.
    uint32_t type = 0;
    if (FT_GetDeviceInfo(found, &type, nullptr, nullptr, nullptr, nullptr) == FTDEV_OK) {
        HandleLock lock;
        if (HandleRecord *record = find_open(found))
            record->device_type = type;
    }
    SetLastError(ERROR_SUCCESS);
    return found;
}

} // namespace

extern "C" FTDEV_EXPORT FtdevHandle FTDEV_CALL FT_W32_CreateFile(const void *name, uint32_t access, uint32_t share_mode,
                                                                 void *security_attributes, uint32_t disposition,
                                                                 uint32_t flags_and_attributes, void *template_file)
{
    try {
        unsigned request;
        if (flags_and_attributes & FTDEV_OPEN_BY_SERIAL_NUMBER)
            request = serial_number_request;
        else if (flags_and_attributes & FTDEV_OPEN_BY_DESCRIPTION)
            request = description_request;
        else if (flags_and_attributes & FTDEV_OPEN_BY_LOCATION)
            request = location_request;
        else
            request = 0;
        // A text is compared byte by byte: without one there is nothing to compare.
        if (request == 0 || (request != location_request && name == nullptr)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FTDEV_W32_NO_HANDLE;
        }
        CreateParameters parameters;
        parameters.access = access;
        parameters.share_mode = share_mode;
        parameters.security = static_cast<LPSECURITY_ATTRIBUTES>(security_attributes);
        parameters.disposition = disposition;
        parameters.flags = flags_and_attributes & ~name_kind_bits;
        parameters.template_file = template_file;
        return create_file(name, parameters, request);
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        SetLastError(ERROR_GEN_FAILURE);
    }
    return FTDEV_W32_NO_HANDLE;
}

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_CloseHandle(FtdevHandle handle)
{
    return guarded_bool([&]() -> FtdevBool {
        // Checked and closed under one hold of the lock, so that two threads closing the
        // same handle never both get past the check.
        HandleLock lock;
        if (open_record(handle) == nullptr)
            return FALSE;
        if (FT_Close(handle) != FTDEV_OK)
            return fail_with(ERROR_INVALID_HANDLE);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    });
}
