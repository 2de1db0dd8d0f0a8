// A load whose data write ends short: the next chunk must start at the first byte that did
// not go, also inside a word of a .v64 or .n64 image, whose bytes are turned to big-endian
// order by their place in the file. The device is the in-process bus's cartridge, with its
// data stream taken over by the test.
#include "loader/transfer.h"

#include "support/inproc_bus.h"
#include "usb/vbus/inproc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace corvane::loader {
namespace {

// Takes the place of the cartridge's data stream: every bulk OUT is kept as it went, none
// reaches the cartridge. The first one longer than `cut` moves only `cut` bytes and the
// write then ends, as a write time-out does: FT_Write reports the partial count with
// status 0.
struct CutPlan {
    std::optional<size_t> cut;
    bool ending = false;
    std::vector<std::vector<uint8_t>> writes;
};

class CuttingChannel : public usb::Channel {
public:
    CuttingChannel(std::unique_ptr<usb::Channel> inner, std::shared_ptr<CutPlan> plan)
        : inner_(std::move(inner)), plan_(std::move(plan))
    {}

    usb::Status bulk_out(const uint8_t *data, size_t size, unsigned, size_t *transferred) override
    {
        if (plan_->ending) {
            plan_->ending = false;
            *transferred = 0;
            return usb::Status::ok; // takes nothing more: the driver ends the write here
        }
        if (plan_->cut && size > *plan_->cut) {
            size = *plan_->cut;
            plan_->cut.reset();
            plan_->ending = true;
        }
        plan_->writes.emplace_back(data, data + size);
        *transferred = size;
        return usb::Status::ok;
    }
    usb::Status control(const usb::ControlSetup &setup, uint8_t *data, unsigned timeout_ms,
                        uint16_t *transferred) override
    {
        return inner_->control(setup, data, timeout_ms, transferred);
    }
    usb::Status bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred) override
    {
        return inner_->bulk_in(buffer, size, timeout_ms, transferred);
    }
    void discard_in() override { inner_->discard_in(); }
    void stop_in() override { inner_->stop_in(); }
    void cut_in() override { inner_->cut_in(); }
    usb::Status reset_device() override { return inner_->reset_device(); }
    usb::Status reenumerate() override { return inner_->reenumerate(); }

private:
    std::unique_ptr<usb::Channel> inner_;
    std::shared_ptr<CutPlan> plan_;
};

// The SDRAM as the kept writes fill it: each SDRAM write header, then the bytes of the
// write after it at the header's word address, however few of them went.
std::vector<uint8_t> sdram_from(const std::vector<std::vector<uint8_t>> &writes, size_t size)
{
    std::vector<uint8_t> sdram(size, 0);
    for (size_t at = 0; at + 1 < writes.size(); at += 2) {
        const std::vector<uint8_t> &header = writes[at];
        const std::vector<uint8_t> &data = writes[at + 1];
        EXPECT_EQ(header.size(), 10u);
        EXPECT_EQ(header[0], 0x10);
        size_t address = 2 * (size_t{header[6]} << 24 | size_t{header[7]} << 16 | size_t{header[8]} << 8 | header[9]);
        for (size_t i = 0; i < data.size() && address + i < size; ++i)
            sdram[address + i] = data[i];
    }
    return sdram;
}

class CuttingTransport : public usb::Transport {
public:
    CuttingTransport(std::unique_ptr<usb::Transport> inner, std::shared_ptr<CutPlan> plan)
        : inner_(std::move(inner)), plan_(std::move(plan))
    {}

    std::string_view name() const override { return inner_->name(); }
    usb::Status list(std::vector<usb::DeviceIdentity> &devices) override { return inner_->list(devices); }
    usb::Status open(const std::string &id, unsigned channel, std::unique_ptr<usb::Channel> &out) override
    {
        std::unique_ptr<usb::Channel> inner;
        usb::Status status = inner_->open(id, channel, inner);
        if (status == usb::Status::ok)
            out = std::make_unique<CuttingChannel>(std::move(inner), plan_);
        return status;
    }

private:
    std::unique_ptr<usb::Transport> inner_;
    std::shared_ptr<CutPlan> plan_;
};

std::vector<uint8_t> big_endian_image(size_t size)
{
    std::vector<uint8_t> image(size);
    uint32_t state = 12345;
    for (uint8_t &byte : image) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    const uint8_t signature[] = {0x80, 0x37, 0x12, 0x40};
    std::copy(std::begin(signature), std::end(signature), image.begin());
    return image;
}

// The file as it circulates in `order`: the inverse of the turn is the turn itself.
std::vector<uint8_t> in_order(std::vector<uint8_t> image, ByteOrder order)
{
    to_big_endian(image.data(), image.size(), order);
    return image;
}

struct CutCase {
    ByteOrder order;
    size_t cut; // bytes of the first data write that go
};

TEST(ShortWrite, LoadResumesAtTheFirstByteNotSentEvenInsideAWord)
{
    testing::InprocBus fixture({"corvane"});
    auto plan = std::make_shared<CutPlan>();
    usb::set_test_transport(std::make_unique<CuttingTransport>(usb::make_inproc_transport(fixture.bus()), plan));

    RunState state;
    ASSERT_EQ(FT_Open(0, &state.device), FTDEV_OK);
    ASSERT_EQ(FT_SetTimeouts(state.device, 4000, 4000), FTDEV_OK);

    const std::vector<uint8_t> wanted = big_endian_image(0x100000);
    // 1002 ends inside a 32-bit word; 1003 counts as 1002 (whole 16-bit words only);
    // 1001 ends inside a 16-bit word and counts as 1000.
    const CutCase cases[] = {
        {ByteOrder::reversed_words, 1002},
        {ByteOrder::reversed_words, 1003},
        {ByteOrder::swapped_halves, 1001},
        {ByteOrder::big_endian, 1001},
    };
    for (const CutCase &c : cases) {
        std::vector<uint8_t> file = in_order(wanted, c.order);
        std::FILE *image = std::tmpfile();
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), image), file.size());
        std::rewind(image);

        state.image = image;
        state.sdram_offset = 0;
        state.transfer_size = static_cast<int32_t>(file.size());
        state.image_order = c.order;
        plan->cut = c.cut;
        plan->writes.clear();
        load_image(state);
        std::fclose(image);

        EXPECT_FALSE(plan->cut) << "the cut was not spent";
        EXPECT_EQ(state.sdram_offset, static_cast<int32_t>(wanted.size()));
        std::vector<uint8_t> loaded = sdram_from(plan->writes, wanted.size());
        size_t first_wrong = 0;
        while (first_wrong < wanted.size() && loaded[first_wrong] == wanted[first_wrong])
            ++first_wrong;
        EXPECT_EQ(first_wrong, wanted.size()) << "cut at " << c.cut << ", order " << static_cast<int>(c.order);
    }
    FT_Close(state.device);
}

} // namespace
} // namespace corvane::loader
