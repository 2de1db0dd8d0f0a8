// The process's table of kernel object handles.
//
// Every HANDLE the stand-in hands out (device files, events, mutexes, device information
// sets) is a number looked up here, never an address: a value that was never issued, or
// that has been closed, finds nothing and the caller reports ERROR_INVALID_HANDLE.
// Numbers are not reused, so a stale handle can never reach a newer object.
#ifndef CORVANE_PLATFORM_HANDLE_TABLE_H
#define CORVANE_PLATFORM_HANDLE_TABLE_H

#include "platform/platform.h"

#include <memory>

namespace corvane::platform {

enum class ObjectKind { device_file, event, mutex, device_info_set };

// What a handle stands for. Objects are shared: a wait or a transfer in progress keeps
// its object alive when another thread closes the handle meanwhile.
class KernelObject {
public:
    explicit KernelObject(ObjectKind kind) : kind(kind) {}
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject &) = delete;
    KernelObject &operator=(const KernelObject &) = delete;

    // Its handle was closed. Calls of other threads may still hold the object; this is
    // the moment to end what they wait for.
    virtual void handle_closed() {}

    const ObjectKind kind;
};

// A new handle for `object`; nullptr when memory runs out.
HANDLE add_handle(std::shared_ptr<KernelObject> object);

// The object behind `handle`, or nullptr for an unknown or closed handle.
std::shared_ptr<KernelObject> find_handle(HANDLE handle);

// Takes `handle` out of the table when its object is of a kind that `accept` allows, and
// hands the object back so that the caller destroys it outside the table's lock.
std::shared_ptr<KernelObject> remove_handle(HANDLE handle, bool (*accept)(ObjectKind kind));

// The object behind `handle` when it is a T (a KernelObject with a static object_kind).
template <class T>
std::shared_ptr<T> find_handle_of(HANDLE handle)
{
    std::shared_ptr<KernelObject> object = find_handle(handle);
    if (!object || object->kind != T::object_kind)
        return nullptr;
    return std::static_pointer_cast<T>(std::move(object));
}

} // namespace corvane::platform

#endif // CORVANE_PLATFORM_HANDLE_TABLE_H
