// CloseHandle for every kind of kernel object the stand-in hands out.
#include "platform/platform.h"
#include "platform/posix/handle_table.h"

#include <memory>

namespace {

// A device information set is ended by SetupDiDestroyDeviceInfoList, never by CloseHandle.
bool closable(corvane::platform::ObjectKind kind)
{
    return kind != corvane::platform::ObjectKind::device_info_set;
}

} // namespace

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    std::shared_ptr<corvane::platform::KernelObject> object = corvane::platform::remove_handle(hObject, closable);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->handle_closed();
    // The object ends here unless a wait or transfer of another thread still holds it.
    object.reset();
    return TRUE;
}
