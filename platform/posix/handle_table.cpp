#include "platform/posix/handle_table.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>

namespace corvane::platform {
namespace {

// Handle values are multiples of four, as on Windows, starting well away from 0 and
// never reaching INVALID_HANDLE_VALUE on a 64-bit counter.
constexpr uintptr_t first_handle_value = 0x100;
constexpr uintptr_t handle_step = 4;

struct Table {
    std::mutex lock;
    uintptr_t next_value = first_handle_value;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
};

Table &table()
{
    // Never destroyed: threads and static destructors may still close handles at exit.
    static Table *instance = new Table;
    return *instance;
}

uintptr_t value_of(HANDLE handle)
{
    return reinterpret_cast<uintptr_t>(handle);
}

} // namespace

HANDLE add_handle(std::shared_ptr<KernelObject> object)
{
    if (!object)
        return nullptr;
    Table &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    try {
        uintptr_t value = t.next_value;
        t.objects.emplace(value, std::move(object));
        t.next_value += handle_step;
        return reinterpret_cast<HANDLE>(value);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

std::shared_ptr<KernelObject> find_handle(HANDLE handle)
{
    Table &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto found = t.objects.find(value_of(handle));
    return found == t.objects.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> remove_handle(HANDLE handle, bool (*accept)(ObjectKind kind))
{
    Table &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto found = t.objects.find(value_of(handle));
    if (found == t.objects.end() || !accept(found->second->kind))
        return nullptr;
    std::shared_ptr<KernelObject> object = std::move(found->second);
    t.objects.erase(found);
    return object;
}

} // namespace corvane::platform
