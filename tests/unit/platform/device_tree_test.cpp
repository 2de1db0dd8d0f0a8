// Device interfaces as the device library finds them: listing, paths, detail sizes and
// device instance numbers.
#include "support/inproc_bus.h"
#include "platform/platform.h"
#include "platform/posix/device_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace corvane::platform_test {
namespace {

constexpr GUID device_class = {0x219D0508, 0x57A8, 0x4FF5, {0x97, 0xA1, 0xBD, 0x86, 0x58, 0x7C, 0x6C, 0x7E}};
constexpr DWORD present_interfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

struct Interface {
    std::string path;
    DEVINST instance = 0;
};

class DeviceTree : public ::testing::Test {
protected:
    void unplug(const char *id) { ASSERT_EQ(bus_.bus().set_plugged(id, false), usb::Status::ok); }
    void plug_in(const char *id) { ASSERT_EQ(bus_.bus().set_plugged(id, true), usb::Status::ok); }

    // Everything a fresh set lists, through the calls in the order the library makes them.
    std::vector<Interface> snapshot()
    {
        std::vector<Interface> found;
        HDEVINFO set = SetupDiGetClassDevsA(&device_class, nullptr, nullptr, present_interfaces);
        EXPECT_NE(set, INVALID_HANDLE_VALUE);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &device_class, index, &data); ++index) {
            DWORD required = 0;
            EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
            std::vector<std::byte> block(required);
            auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(block.data());
            detail->cbSize = 5;
            EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
            SP_DEVINFO_DATA info{};
            info.cbSize = sizeof info;
            EXPECT_TRUE(SetupDiEnumDeviceInfo(set, index, &info));
            found.push_back({detail->DevicePath, info.DevInst});
        }
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
        return found;
    }

    testing::InprocBus bus_{{"ft232r,serial=A1", "ft2232h,serial=B2"}};
};

TEST_F(DeviceTree, ListsOneInterfacePerChannelInBusOrder)
{
    const std::vector<Interface> interfaces = snapshot();
    ASSERT_EQ(interfaces.size(), 3u);
    EXPECT_EQ(interfaces[0].path, "\\\\?\\corvane#inproc#0#1");
    EXPECT_EQ(interfaces[1].path, "\\\\?\\corvane#inproc#1#1");
    EXPECT_EQ(interfaces[2].path, "\\\\?\\corvane#inproc#1#2");
}

TEST_F(DeviceTree, OtherClassesFlagsAndEnumeratorsListNothing)
{
    const GUID other = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    struct Query {
        const GUID *guid;
        const char *enumerator;
        DWORD flags;
    };
    for (const Query &query : {Query{&other, nullptr, present_interfaces}, Query{&device_class, nullptr, DIGCF_PRESENT},
                               Query{&device_class, "USB", present_interfaces}}) {
        HDEVINFO set = SetupDiGetClassDevsA(query.guid, query.enumerator, nullptr, query.flags);
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &device_class, 0, &data));
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    }
    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, present_interfaces), INVALID_HANDLE_VALUE);
}

TEST_F(DeviceTree, DetailReportsItsSizeAndNeverOverflows)
{
    HDEVINFO set = SetupDiGetClassDevsA(&device_class, nullptr, nullptr, present_interfaces);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &device_class, 0, &data));

    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    const std::string path = "\\\\?\\corvane#inproc#0#1";
    EXPECT_EQ(required, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);

    std::vector<char> block(required + 8, '\x55');
    auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(block.data());
    detail->cbSize = 5;
    DWORD again = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required - 1, &again, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(again, required);
    EXPECT_EQ(block[required - 1], '\x55');

    // The packed size word of 32-bit callers and the natural one of 64-bit callers only.
    for (DWORD size_word : {DWORD{4}, DWORD{6}, DWORD{0}}) {
        detail->cbSize = size_word;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) << size_word;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    for (DWORD size_word : {DWORD{5}, DWORD{sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)}}) {
        detail->cbSize = size_word;
        ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) << size_word;
        EXPECT_EQ(std::string(detail->DevicePath), path);
        EXPECT_EQ(block[required], '\x55');
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(DeviceTree, ASetIsASnapshotAndEndsOnce)
{
    HDEVINFO set = SetupDiGetClassDevsA(&device_class, nullptr, nullptr, present_interfaces);
    unplug("0");
    unplug("1");
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 2, &info));
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 3, &info));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);

    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &device_class, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(snapshot().empty());
}

TEST_F(DeviceTree, InstancesAreUniqueAndStableWhileTheDeviceStaysPlugged)
{
    const std::vector<Interface> first = snapshot();
    ASSERT_EQ(first.size(), 3u);
    EXPECT_NE(first[0].instance, 0u);
    EXPECT_NE(first[0].instance, first[1].instance);
    EXPECT_NE(first[1].instance, first[2].instance);
    EXPECT_NE(first[0].instance, first[2].instance);

    // The first device leaves: the other keeps its numbers though its position changed.
    unplug("0");
    const std::vector<Interface> second = snapshot();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].instance, first[1].instance);
    EXPECT_EQ(second[1].instance, first[2].instance);

    // Back again it is a new device to the tree, as after a replug on Windows.
    plug_in("0");
    const std::vector<Interface> third = snapshot();
    ASSERT_EQ(third.size(), 3u);
    EXPECT_NE(third[0].instance, first[0].instance);
    EXPECT_EQ(third[2].instance, first[2].instance);
}

TEST(DevicePath, IdsThatCouldShiftTheFieldsRoundTrip)
{
    for (const char *id : {"1-2.4", "a#b", "50%", "with space", "back\\slash", "ünï"}) {
        const std::string path = platform::format_device_path("vbus", id, 3);
        EXPECT_EQ(std::count(path.begin(), path.end(), '#'), 3) << path;
        const auto parsed = platform::parse_device_path(path);
        ASSERT_TRUE(parsed) << path;
        EXPECT_EQ(parsed->transport, "vbus");
        EXPECT_EQ(parsed->device_id, id);
        EXPECT_EQ(parsed->channel, 3u);
    }
}

TEST(DevicePath, MalformedPathsAreRefused)
{
    for (const char *path : {"", "COM1", "\\\\?\\corvane#vbus#1", "\\\\?\\corvane#vbus#1#0", "\\\\?\\corvane#vbus#1#01",
                             "\\\\?\\corvane#vbus#1#256", "\\\\?\\corvane#vbus#1#1#2", "\\\\?\\corvane#vbus#1#A",
                             "\\\\?\\corvane##1#1", "\\\\?\\corvane#vbus##1", "\\\\?\\corvane#vbus#a%2#1",
                             "\\\\?\\corvane#vbus#a%zz#1", "\\\\?\\corvane#vbus#a b#1", "\\\\?\\corvane#vbus#1#-1"}) {
        EXPECT_FALSE(platform::parse_device_path(path)) << path;
    }
}

} // namespace
} // namespace corvane::platform_test
