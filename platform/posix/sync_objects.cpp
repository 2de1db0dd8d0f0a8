// Events and mutexes with the Win32 meanings, and the waits on them.
//
// A mutex is recursive for the thread that owns it. A thread that ends while it owns one
// abandons it: the next thread to acquire it gets WAIT_ABANDONED (and the ownership), as
// on Windows, instead of waiting forever for an owner that is gone.
#include "platform/platform.h"
#include "platform/posix/handle_table.h"
#include "platform/posix/kernel_objects.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

namespace corvane::platform {
namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>; // empty: wait forever

Deadline deadline_after(DWORD milliseconds)
{
    if (milliseconds == INFINITE)
        return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

// Waits on `condition` until `ready` holds or the deadline passes; true when it holds.
template <class Ready>
bool wait_until(std::condition_variable &condition, std::unique_lock<std::mutex> &held, const Deadline &deadline,
                Ready ready)
{
    if (!deadline) {
        condition.wait(held, ready);
        return true;
    }
    return condition.wait_until(held, *deadline, ready);
}

class EventObject final : public KernelObject {
public:
    static constexpr ObjectKind object_kind = ObjectKind::event;

    EventObject(bool manual_reset, bool signalled)
        : KernelObject(object_kind), manual_reset_(manual_reset), signalled_(signalled)
    {}

    void set()
    {
        std::lock_guard<std::mutex> guard(lock_);
        signalled_ = true;
        changed_.notify_all();
    }

    void reset()
    {
        std::lock_guard<std::mutex> guard(lock_);
        signalled_ = false;
    }

    DWORD wait(const Deadline &deadline)
    {
        std::unique_lock<std::mutex> held(lock_);
        if (!wait_until(changed_, held, deadline, [this] { return signalled_; }))
            return WAIT_TIMEOUT;
        // An auto-reset event releases exactly one waiter per signal.
        if (!manual_reset_)
            signalled_ = false;
        return WAIT_OBJECT_0;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    const bool manual_reset_;
    bool signalled_;
};

class MutexObject;

// The mutexes the current thread owns, so that its end can abandon them.
class OwnedMutexes {
public:
    ~OwnedMutexes();
    void add(const std::shared_ptr<MutexObject> &mutex) { owned_.push_back(mutex); }
    void remove(const MutexObject *mutex)
    {
        std::erase_if(owned_, [mutex](const std::weak_ptr<MutexObject> &entry) {
            std::shared_ptr<MutexObject> alive = entry.lock();
            return !alive || alive.get() == mutex;
        });
    }

private:
    std::vector<std::weak_ptr<MutexObject>> owned_;
};

thread_local OwnedMutexes owned_by_this_thread;

class MutexObject final : public KernelObject, public std::enable_shared_from_this<MutexObject> {
public:
    static constexpr ObjectKind object_kind = ObjectKind::mutex;

    MutexObject() : KernelObject(object_kind) {}

    DWORD acquire(const Deadline &deadline)
    {
        std::unique_lock<std::mutex> held(lock_);
        const std::thread::id me = std::this_thread::get_id();
        if (depth_ > 0 && owner_ == me) {
            if (depth_ == std::numeric_limits<unsigned>::max()) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return WAIT_FAILED;
            }
            ++depth_;
            return WAIT_OBJECT_0;
        }
        if (!wait_until(released_, held, deadline, [this] { return depth_ == 0; }))
            return WAIT_TIMEOUT;
        owner_ = me;
        depth_ = 1;
        const bool was_abandoned = abandoned_;
        abandoned_ = false;
        held.unlock();
        remember_owner();
        return was_abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }

    bool release()
    {
        std::unique_lock<std::mutex> held(lock_);
        if (depth_ == 0 || owner_ != std::this_thread::get_id())
            return false;
        if (--depth_ > 0)
            return true;
        owner_ = std::thread::id();
        released_.notify_one();
        held.unlock();
        owned_by_this_thread.remove(this);
        return true;
    }

    void abandon(std::thread::id ending_thread)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (depth_ == 0 || owner_ != ending_thread)
            return;
        depth_ = 0;
        owner_ = std::thread::id();
        abandoned_ = true;
        released_.notify_one();
    }

private:
    void remember_owner()
    {
        try {
            owned_by_this_thread.add(shared_from_this());
        } catch (const std::bad_alloc &) {
            // Only the abandonment on thread end is lost; the ownership itself stands.
        }
    }

    std::mutex lock_;
    std::condition_variable released_;
    std::thread::id owner_;
    unsigned depth_ = 0;
    bool abandoned_ = false;
};

OwnedMutexes::~OwnedMutexes()
{
    const std::thread::id me = std::this_thread::get_id();
    for (const std::weak_ptr<MutexObject> &entry : owned_)
        if (std::shared_ptr<MutexObject> mutex = entry.lock())
            mutex->abandon(me);
}

HANDLE hand_out(std::shared_ptr<KernelObject> object)
{
    HANDLE handle = add_handle(std::move(object));
    SetLastError(handle ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}

// Objects are process-local here; a name would promise sharing with other processes
// that this stand-in cannot keep, so a named object is refused rather than made private.
bool is_named(LPCSTR name)
{
    return name && *name;
}

} // namespace

bool signal_event(HANDLE event)
{
    std::shared_ptr<EventObject> object = find_handle_of<EventObject>(event);
    if (!object)
        return false;
    object->set();
    return true;
}

} // namespace corvane::platform

using corvane::platform::EventObject;
using corvane::platform::MutexObject;

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName)
{
    if (corvane::platform::is_named(lpName)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    std::shared_ptr<MutexObject> mutex;
    try {
        mutex = std::make_shared<MutexObject>();
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (bInitialOwner)
        mutex->acquire(std::nullopt);
    return corvane::platform::hand_out(std::move(mutex));
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex)
{
    std::shared_ptr<MutexObject> mutex = corvane::platform::find_handle_of<MutexObject>(hMutex);
    if (!mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!mutex->release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                           LPCSTR lpName)
{
    if (corvane::platform::is_named(lpName)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    std::shared_ptr<EventObject> event;
    try {
        event = std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE);
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return corvane::platform::hand_out(std::move(event));
}

BOOL WINAPI SetEvent(HANDLE hEvent)
{
    if (!corvane::platform::signal_event(hEvent)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    std::shared_ptr<EventObject> event = corvane::platform::find_handle_of<EventObject>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->reset();
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    std::shared_ptr<corvane::platform::KernelObject> object = corvane::platform::find_handle(hHandle);
    const corvane::platform::Deadline deadline = corvane::platform::deadline_after(dwMilliseconds);
    if (object && object->kind == EventObject::object_kind)
        return static_cast<EventObject &>(*object).wait(deadline);
    if (object && object->kind == MutexObject::object_kind)
        return static_cast<MutexObject &>(*object).acquire(deadline);
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}
