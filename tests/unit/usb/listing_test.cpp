// Listing real devices: what is shown, in which order, with which identity, and that
// looking never takes a serial port away.
#include "usb_fixture.h"

#include "usb/libusb/topology.h"

#include <algorithm>

namespace corvane::testing {
namespace {

using usb::Status;

class UsbListing : public UsbTransportTest {};

TEST_F(UsbListing, ShowsOnlyVendorDevicesInTopologyOrder)
{
    library->add(make_fake_chip(2, {1}));
    library->add(make_fake_chip(1, {2, 3}));
    FakeUsbDevice other = make_fake_chip(1, {1});
    other.record.vendor_id = 0x1d6b;
    library->add(other);
    library->add(make_fake_chip(1, {2}));

    std::vector<std::string> ids;
    for (const usb::DeviceIdentity &device : listed())
        ids.push_back(device.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"1-2", "1-2.3", "2-1"}));
}

TEST_F(UsbListing, IdentityComesFromTheDescriptors)
{
    FakeUsbDevice chip = make_fake_chip(1, {2, 3}, 4, 512, 0x0800);
    chip.record.product_id = 0x6011;
    chip.strings = {{1, "Maker"}, {2, "Quad board"}, {3, "QB42"}};
    library->add(chip);

    const std::vector<usb::DeviceIdentity> devices = listed();
    ASSERT_EQ(devices.size(), 1u);
    const usb::DeviceIdentity &device = devices[0];
    EXPECT_EQ(device.id, "1-2.3");
    EXPECT_EQ(device.vendor_id, 0x0403);
    EXPECT_EQ(device.product_id, 0x6011);
    EXPECT_EQ(device.bcd_device, 0x0800);
    EXPECT_EQ(device.manufacturer, "Maker");
    EXPECT_EQ(device.product, "Quad board");
    EXPECT_EQ(device.serial, "QB42");
    EXPECT_EQ(device.channels, 4);
    EXPECT_EQ(device.packet_size, 512);
    EXPECT_EQ(device.location, 0x1230u);
    EXPECT_FALSE(device.virtual_model);
}

TEST_F(UsbListing, PacketSizeIsTheEndpointsNotTheChipFamilys)
{
    // A high-speed chip on a full-speed port uses 64-byte packets.
    library->add(make_fake_chip(1, {4}, 2, 64, 0x0700));
    EXPECT_EQ(listed().at(0).packet_size, 64);
}

TEST_F(UsbListing, NeverDetachesOrClaimsAnything)
{
    const size_t chip = library->add(make_fake_chip(1, {2}));
    listed();
    listed();
    for (const std::string &entry : library->log())
        EXPECT_EQ(entry.rfind("open ", 0), 0u) << entry;
    EXPECT_TRUE(library->device(chip).kernel_driver_bound[0]);
    EXPECT_TRUE(library->device(chip).kernel_driver_bound[1]);
}

TEST_F(UsbListing, ReadsStringsOncePerEnumeration)
{
    const size_t chip = library->add(make_fake_chip(1, {2}));
    listed();
    listed();
    EXPECT_EQ(library->opens(), 1u);

    // Plugged in again: a new address at the same place, perhaps new strings.
    library->device(chip).record.address = 40;
    library->device(chip).strings[2] = "Renamed";
    EXPECT_EQ(listed().at(0).product, "Renamed");
    EXPECT_EQ(library->opens(), 2u);
}

TEST_F(UsbListing, UnpluggedDeviceLeavesTheList)
{
    const size_t first = library->add(make_fake_chip(1, {2}));
    library->add(make_fake_chip(1, {3}));
    library->unplug(first);
    const std::vector<usb::DeviceIdentity> devices = listed();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].id, "1-3");
}

TEST_F(UsbListing, DeviceWithoutPermissionIsListedAndAskedAgainLater)
{
    const size_t chip = library->add(make_fake_chip(1, {2}));
    library->device(chip).open_refused = true;
    ASSERT_EQ(listed().size(), 1u);
    EXPECT_EQ(listed().at(0).product, "");

    library->device(chip).open_refused = false; // the rules were installed meanwhile
    EXPECT_EQ(listed().at(0).product, "Corvane USB device");
}

TEST_F(UsbListing, UnconfiguredDeviceIsNotShown)
{
    FakeUsbDevice chip = make_fake_chip(1, {2});
    chip.record.configured = false;
    chip.record.interfaces.clear();
    library->add(chip);
    EXPECT_TRUE(listed().empty());
}

struct LocationCase {
    const char *name;
    uint8_t bus;
    std::vector<uint8_t> ports;
    uint8_t address;
    uint32_t location;
    const char *id;
};

const LocationCase location_cases[] = {
    {"one port", 1, {2}, 5, 0x120, "1-2"},
    {"two ports", 1, {2, 3}, 5, 0x1230, "1-2.3"},
    {"six ports fill the digits", 1, {2, 3, 4, 5, 6, 7}, 9, 0x12345670, "1-2.3.4.5.6.7"},
    {"bus and ports up to 15", 15, {15, 15}, 9, 0xFFF0, "15-15.15"},
    {"seven ports do not fit", 1, {1, 1, 1, 1, 1, 1, 1}, 9, 0xF0100090, "1-1.1.1.1.1.1.1"},
    {"bus above 15", 0x12, {1}, 5, 0xF1200050, "18-1"},
    {"port above 15", 1, {16}, 0x7F, 0xF01007F0, "1-16"},
    {"no port numbers", 3, {}, 4, 0xF0300040, "3-0"},
};

class UsbTopology : public ::testing::TestWithParam<LocationCase> {};

TEST_P(UsbTopology, LocationAndIdFollowTheBus)
{
    const LocationCase &c = GetParam();
    EXPECT_EQ(usb::topology_location(c.bus, c.ports, c.address), c.location);
    EXPECT_EQ(usb::topology_id(c.bus, c.ports), c.id);
}

INSTANTIATE_TEST_SUITE_P(Cases, UsbTopology, ::testing::ValuesIn(location_cases), [](const auto &info) {
    std::string name = info.param.name;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    return name;
});

} // namespace
} // namespace corvane::testing
