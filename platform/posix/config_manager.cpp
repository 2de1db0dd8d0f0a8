// The configuration-manager calls over the device tree: device instance IDs, locating a
// node by its ID, and re-enumeration. Local machine only.
#include "platform/platform.h"
#include "platform/posix/device_tree.h"
#include "platform/posix/usb_node_ids.h"

#include <cstring>
#include <new>
#include <string>

namespace corvane::platform {
namespace {

constexpr const char *root_id = "HTREE\\ROOT\\0";

// The ID of a node the latest listing showed; empty when the number names none.
std::string id_of(DEVINST instance)
{
    if (instance == root_instance())
        return root_id;
    std::optional<UsbNode> node = find_usb_node(instance);
    return node ? node->instance_id : std::string();
}

CONFIGRET locate(PDEVINST instance, const char *id)
{
    if (!id || !*id || same_id(id, root_id)) {
        *instance = root_instance();
        return CR_SUCCESS;
    }
    if (std::strlen(id) > MAX_DEVICE_ID_LEN)
        return CR_INVALID_DEVICE_ID;
    for (const UsbNode &node : snapshot_usb_nodes()) {
        if (same_id(node.instance_id, id)) {
            *instance = node.instance;
            return CR_SUCCESS;
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

} // namespace
} // namespace corvane::platform

CONFIGRET WINAPI CM_Get_Device_ID_ExA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags, HMACHINE hMachine)
{
    namespace p = corvane::platform;
    if (!Buffer)
        return CR_INVALID_POINTER;
    if (ulFlags != 0)
        return CR_INVALID_FLAG;
    if (hMachine)
        return CR_INVALID_MACHINENAME;
    try {
        const std::string id = p::id_of(dnDevInst);
        if (id.empty())
            return CR_INVALID_DEVINST;
        // As Windows does: a buffer too small gets what fits, without the NUL.
        if (id.size() + 1 > BufferLen) {
            std::memcpy(Buffer, id.data(), BufferLen);
            return CR_BUFFER_SMALL;
        }
        std::memcpy(Buffer, id.c_str(), id.size() + 1);
        return CR_SUCCESS;
    } catch (const std::bad_alloc &) {
        return CR_OUT_OF_MEMORY;
    }
}

CONFIGRET WINAPI CM_Locate_DevNode_ExA(PDEVINST pdnDevInst, DEVINSTID_A pDeviceID, ULONG ulFlags, HMACHINE hMachine)
{
    namespace p = corvane::platform;
    if (!pdnDevInst)
        return CR_INVALID_POINTER;
    *pdnDevInst = 0;
    if (ulFlags & ~CM_LOCATE_DEVNODE_BITS)
        return CR_INVALID_FLAG;
    if (hMachine)
        return CR_INVALID_MACHINENAME;
    // Every node here is present, so the phantom search finds the same ones.
    try {
        return p::locate(pdnDevInst, pDeviceID);
    } catch (const std::bad_alloc &) {
        return CR_OUT_OF_MEMORY;
    }
}

CONFIGRET WINAPI CM_Reenumerate_DevNode_Ex(DEVINST dnDevInst, ULONG ulFlags, HMACHINE hMachine)
{
    namespace p = corvane::platform;
    if (ulFlags & ~CM_REENUMERATE_BITS)
        return CR_INVALID_FLAG;
    if (hMachine)
        return CR_INVALID_MACHINENAME;
    try {
        // A node's children are what its bus shows: re-enumerating a root hub, or a
        // device on it, lists that bus again; the root lists every bus. The listing is
        // synchronous whatever the flags ask.
        if (dnDevInst == p::root_instance()) {
            p::relist_transport("");
            return CR_SUCCESS;
        }
        std::optional<p::UsbNode> node = p::find_usb_node(dnDevInst);
        if (!node)
            return CR_INVALID_DEVNODE;
        p::relist_transport(node->transport);
        return CR_SUCCESS;
    } catch (const std::bad_alloc &) {
        return CR_OUT_OF_MEMORY;
    }
}
