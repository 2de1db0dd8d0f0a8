// The device installation and configuration-manager calls over the USB nodes: class
// lookup, the property buffer-size protocol, instance IDs, and the class installer's
// checks.
#include "platform/platform.h"
#include "support/inproc_bus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20, "the property-change record is 20 bytes everywhere");

// The bytes of a literal that holds NULs of its own, without the one the compiler adds.
template <size_t N>
std::string bytes(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

constexpr GUID usb_class = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

TEST(SetupClassNames, ResolveUsbInAnyCaseAndReportTheSizeFirst)
{
    DWORD required = 0;
    EXPECT_FALSE(SetupDiClassGuidsFromNameExA("usb", nullptr, 0, &required, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 1u);
    GUID guid{};
    ASSERT_TRUE(SetupDiClassGuidsFromNameExA("USB", &guid, 1, &required, nullptr, nullptr));
    EXPECT_EQ(std::memcmp(&guid, &usb_class, sizeof guid), 0);
    EXPECT_TRUE(SetupDiClassGuidsFromNameExA("Ports", &guid, 1, &required, nullptr, nullptr));
    EXPECT_EQ(required, 0u);
    EXPECT_FALSE(SetupDiClassGuidsFromNameExA("USB", &guid, 1, &required, "\\\\elsewhere", nullptr));
}

// A full-speed FT232R alone: the bus shows "USB\ROOT_HUB\1" and the chip under it.
class UsbNodes : public ::testing::Test {
protected:
    void SetUp() override
    {
        set = SetupDiGetClassDevsExA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES, nullptr, nullptr,
                                     nullptr);
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
        for (DWORD index = 0;; ++index) {
            SP_DEVINFO_DATA node{};
            node.cbSize = sizeof node;
            if (!SetupDiEnumDeviceInfo(set, index, &node))
                break;
            char id[MAX_DEVICE_ID_LEN + 1] = {};
            ASSERT_EQ(CM_Get_Device_ID_ExA(node.DevInst, id, sizeof id, 0, nullptr), CR_SUCCESS);
            ids.push_back(id);
            nodes.push_back(node);
        }
        ASSERT_EQ(ids, (std::vector<std::string>{"USB\\ROOT_HUB\\1", "USB\\VID_0403&PID_6001\\A1"}));
    }
    void TearDown() override { EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set)); }

    SP_DEVINFO_DATA &hub() { return nodes[0]; }
    SP_DEVINFO_DATA &chip() { return nodes[1]; }

    corvane::testing::InprocBus bus{{"ft232r,serial=A1"}};
    HDEVINFO set = nullptr;
    std::vector<SP_DEVINFO_DATA> nodes;
    std::vector<std::string> ids;
};

TEST_F(UsbNodes, PropertyReadsSayTheSizeTheyNeedUntilTheBufferHoldsIt)
{
    const std::string expected = bytes("USB\\VID_0403&PID_6001&REV_0600\0USB\\VID_0403&PID_6001\0\0");
    DWORD type = 0, required = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &chip(), SPDRP_HARDWAREID, &type, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(type, REG_MULTI_SZ);
    ASSERT_EQ(required, expected.size());

    std::vector<BYTE> buffer(required, 'x');
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &chip(), SPDRP_HARDWAREID, &type, buffer.data(), required - 1,
                                                   &required));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buffer.back(), 'x');
    ASSERT_TRUE(
        SetupDiGetDeviceRegistryPropertyA(set, &chip(), SPDRP_HARDWAREID, &type, buffer.data(), required, &required));
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), expected);
}

TEST_F(UsbNodes, DevicesHaveCompatibleIdsAndRootHubsNone)
{
    char buffer[256] = {};
    DWORD type = 0, required = 0;
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &chip(), SPDRP_COMPATIBLEIDS, &type,
                                                  reinterpret_cast<PBYTE>(buffer), sizeof buffer, &required));
    EXPECT_EQ(std::string(buffer, required),
              bytes("USB\\Class_FF&SubClass_FF&Prot_FF\0USB\\Class_FF&SubClass_FF\0USB\\Class_FF\0\0"));
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &hub(), SPDRP_COMPATIBLEIDS, &type,
                                                   reinterpret_cast<PBYTE>(buffer), sizeof buffer, &required));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &hub(), SPDRP_HARDWAREID, &type, reinterpret_cast<PBYTE>(buffer),
                                                  sizeof buffer, &required));
    EXPECT_EQ(std::string(buffer, required), bytes("USB\\ROOT_HUB\0\0"));
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &chip(), SPDRP_MAXIMUM_PROPERTY, &type,
                                                   reinterpret_cast<PBYTE>(buffer), sizeof buffer, &required));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_REG_PROPERTY);
}

// A record that SetupDiEnumDeviceInfo did not fill names no node.
TEST_F(UsbNodes, ForgedRecordsAreRefused)
{
    SP_DEVINFO_DATA forged = chip();
    forged.Reserved = 99;
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &forged, SPDRP_HARDWAREID, nullptr, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &forged));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(UsbNodes, InstanceIdsLocateInAnyCaseAndNeverOverrunTheBuffer)
{
    DEVINST found = 0;
    char lower[] = "usb\\vid_0403&pid_6001\\a1";
    EXPECT_EQ(CM_Locate_DevNode_ExA(&found, lower, CM_LOCATE_DEVNODE_NORMAL, nullptr), CR_SUCCESS);
    EXPECT_EQ(found, chip().DevInst);
    char unknown[] = "USB\\VID_0403&PID_6001\\ZZ";
    EXPECT_EQ(CM_Locate_DevNode_ExA(&found, unknown, CM_LOCATE_DEVNODE_NORMAL, nullptr), CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(found, 0u);

    char small[8];
    std::memset(small, '#', sizeof small);
    char guard = '#';
    char *buffer = small;
    EXPECT_EQ(CM_Get_Device_ID_ExA(chip().DevInst, buffer, 4, 0, nullptr), CR_BUFFER_SMALL);
    EXPECT_EQ(std::string(small, 8), "USB\\####");
    EXPECT_EQ(guard, '#');
    EXPECT_EQ(CM_Get_Device_ID_ExA(0xFFFFFF, buffer, sizeof small, 0, nullptr), CR_INVALID_DEVINST);
    EXPECT_EQ(CM_Reenumerate_DevNode_Ex(hub().DevInst, CM_REENUMERATE_NORMAL, nullptr), CR_SUCCESS);
    EXPECT_EQ(CM_Reenumerate_DevNode_Ex(hub().DevInst, 0x100, nullptr), CR_INVALID_FLAG);
}

TEST_F(UsbNodes, ClassInstallerNeedsValidPropertyChangeParameters)
{
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &chip()));
    EXPECT_EQ(GetLastError(), ERROR_NO_CLASSINSTALL_PARAMS);

    SP_PROPCHANGE_PARAMS change{};
    change.ClassInstallHeader.cbSize = sizeof change; // the whole record instead of its header
    change.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    change.StateChange = DICS_PROPCHANGE;
    change.Scope = DICS_FLAG_CONFIGSPECIFIC;
    EXPECT_FALSE(SetupDiSetClassInstallParamsA(set, &chip(), &change.ClassInstallHeader, sizeof change));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);

    change.ClassInstallHeader.cbSize = sizeof change.ClassInstallHeader;
    change.StateChange = 9;
    EXPECT_FALSE(SetupDiSetClassInstallParamsA(set, &chip(), &change.ClassInstallHeader, sizeof change));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    change.StateChange = DICS_PROPCHANGE;
    ASSERT_TRUE(SetupDiSetClassInstallParamsA(set, &chip(), &change.ClassInstallHeader, sizeof change));
    EXPECT_TRUE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &chip()));
    SP_DEVINSTALL_PARAMS_A install{};
    install.cbSize = sizeof install;
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set, &chip(), &install));
    EXPECT_EQ(install.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT), 0u);
    install.cbSize = 5;
    EXPECT_FALSE(SetupDiGetDeviceInstallParamsA(set, &chip(), &install));
}

// The set still lists a device that has left since; restarting it is a failure, not a
// success with nothing done.
TEST_F(UsbNodes, RestartOfADeviceThatLeftFails)
{
    ASSERT_EQ(bus.bus().set_plugged("0", false), corvane::usb::Status::ok);
    SP_PROPCHANGE_PARAMS change{};
    change.ClassInstallHeader.cbSize = sizeof change.ClassInstallHeader;
    change.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    change.StateChange = DICS_PROPCHANGE;
    change.Scope = DICS_FLAG_CONFIGSPECIFIC;
    ASSERT_TRUE(SetupDiSetClassInstallParamsA(set, &chip(), &change.ClassInstallHeader, sizeof change));
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &chip()));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);
}

} // namespace
