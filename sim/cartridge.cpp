#include "sim/cartridge.h"

#include "sim/cartridge_framer.h"
#include "sim/cartridge_save_type.h"
#include "sim/fpga_flash.h"
#include "sim/memory_file.h"
#include "sim/nor_flash.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>
#include <system_error>

namespace corvane::sim {
namespace {

constexpr size_t sdram_size = 64 * 1024 * 1024;

// A write cycle here reaches the cartridge's flash controller rather than the flash: the
// host sends one before the erase sequence, and we take it as the reset that puts the flash
// back into reading its array before a new command sequence.
constexpr uint32_t flash_control_address = 0x17000000;

// What a read of SDRAM beyond its end gives: the host still receives every byte it asked
// for, so the stream stays in step, and the bytes are plainly not data.
constexpr uint8_t beyond_end_fill = 0xFF;

class CartridgeModel final : public Cartridge {
public:
    CartridgeModel(std::unique_ptr<MemoryFile> sdram, std::unique_ptr<MemoryFile> bootflash,
                   std::unique_ptr<MemoryFile> fpga, SaveTypeFile save_type)
        : sdram_(std::move(sdram)), bootflash_(std::move(bootflash)), fpga_(std::move(fpga)),
          nor_flash_(bootflash_->bytes()), fpga_flash_(fpga_->bytes()), save_type_(std::move(save_type))
    {}

    size_t take(const uint8_t *data, size_t size) override;
    size_t give(uint8_t *buffer, size_t size) override;
    size_t pending() const override;
    void purge() override;

    void set_stalled(bool stalled) override { stalled_ = stalled; }
    CartridgeCounters counters() const override;
    std::optional<unsigned> save_type() const override { return save_type_.value(); }

private:
    enum class Phase { packets, sdram_block, config_block };

    void execute(const CartridgePacket &packet);
    void begin_block(Phase phase, uint64_t size, uint64_t address);
    size_t take_block(const uint8_t *data, size_t size);
    void write_sdram(uint64_t address, std::span<const uint8_t> bytes);
    void bus_cycle(uint32_t address, uint16_t data);
    void set_save_type(unsigned type);

    std::unique_ptr<MemoryFile> sdram_;
    std::unique_ptr<MemoryFile> bootflash_;
    std::unique_ptr<MemoryFile> fpga_;
    NorFlash nor_flash_;
    FpgaFlash fpga_flash_;
    SaveTypeFile save_type_;

    CartridgeFramer framer_;
    Phase phase_ = Phase::packets;
    uint64_t block_remaining_ = 0;  // bytes of the data block still to come from the host
    uint64_t block_address_ = 0;    // byte address the next of them goes to
    uint64_t answer_remaining_ = 0; // bytes of an SDRAM read still owed to the host
    uint64_t answer_address_ = 0;
    bool stalled_ = false;
    uint64_t commands_ = 0;
    uint64_t dropped_bytes_ = 0;
};

size_t CartridgeModel::take(const uint8_t *data, size_t size)
{
    if (stalled_)
        return 0;
    size_t used = 0;
    // While a read answer is owed the cartridge takes nothing more, like a full FIFO: later
    // commands must not change the memory before the answer has been read out of it.
    while (used < size && answer_remaining_ == 0) {
        if (phase_ != Phase::packets) {
            used += take_block(data + used, size - used);
            continue;
        }
        used += framer_.skip_padding(data + used, size - used);
        if (used == size)
            break;
        if (std::optional<CartridgePacket> packet = framer_.feed(data[used++]))
            execute(*packet);
    }
    return used;
}

size_t CartridgeModel::give(uint8_t *buffer, size_t size)
{
    if (stalled_)
        return 0;
    const size_t count = static_cast<size_t>(std::min<uint64_t>(size, answer_remaining_));
    if (count == 0)
        return 0;
    const size_t inside = answer_address_ >= sdram_size
                              ? 0
                              : static_cast<size_t>(std::min<uint64_t>(count, sdram_size - answer_address_));
    if (inside)
        std::memcpy(buffer, sdram_->bytes().data() + answer_address_, inside);
    std::memset(buffer + inside, beyond_end_fill, count - inside);
    dropped_bytes_ += count - inside;
    answer_address_ += count;
    answer_remaining_ -= count;
    return count;
}

size_t CartridgeModel::pending() const
{
    if (stalled_)
        return 0;
    return static_cast<size_t>(std::min<uint64_t>(answer_remaining_, std::numeric_limits<size_t>::max()));
}

void CartridgeModel::purge()
{
    framer_.reset();
    phase_ = Phase::packets;
    block_remaining_ = 0;
    answer_remaining_ = 0;
}

CartridgeCounters CartridgeModel::counters() const
{
    CartridgeCounters counters;
    counters.skipped_bytes = framer_.skipped_bytes();
    counters.zero_bytes = framer_.zero_bytes();
    counters.dropped_bytes = dropped_bytes_;
    counters.commands = commands_;
    return counters;
}

void CartridgeModel::execute(const CartridgePacket &packet)
{
    ++commands_;
    switch (packet.command) {
    case CartridgeCommand::sdram_write:
        // Lengths and addresses count 16-bit words; the products need more than 32 bits.
        begin_block(Phase::sdram_block, uint64_t{packet.length} * 2, uint64_t{packet.address} * 2);
        break;
    case CartridgeCommand::sdram_read:
        answer_remaining_ = uint64_t{packet.length} * 2;
        answer_address_ = uint64_t{packet.address} * 2;
        break;
    case CartridgeCommand::config_write: begin_block(Phase::config_block, packet.length, packet.address); break;
    case CartridgeCommand::config_erase: fpga_flash_.erase(); break;
    case CartridgeCommand::flash_cycle:
    case CartridgeCommand::flash_program:
        // Both are one write cycle on the flash bus; 0x91 only tells the firmware to wait
        // for the program to finish, which takes no time here.
        bus_cycle(packet.address, packet.data);
        break;
    case CartridgeCommand::set_save_type: set_save_type(packet.save_type); break;
    }
}

void CartridgeModel::begin_block(Phase phase, uint64_t size, uint64_t address)
{
    block_remaining_ = size;
    block_address_ = address;
    phase_ = size ? phase : Phase::packets;
}

size_t CartridgeModel::take_block(const uint8_t *data, size_t size)
{
    const size_t count = static_cast<size_t>(std::min<uint64_t>(size, block_remaining_));
    const std::span<const uint8_t> bytes(data, count);
    if (phase_ == Phase::sdram_block)
        write_sdram(block_address_, bytes);
    else
        dropped_bytes_ += fpga_flash_.write(block_address_, bytes);
    block_address_ += count;
    block_remaining_ -= count;
    if (block_remaining_ == 0)
        phase_ = Phase::packets;
    return count;
}

void CartridgeModel::write_sdram(uint64_t address, std::span<const uint8_t> bytes)
{
    const size_t inside =
        address >= sdram_size ? 0 : static_cast<size_t>(std::min<uint64_t>(bytes.size(), sdram_size - address));
    if (inside)
        sdram_->store(static_cast<size_t>(address), bytes.first(inside));
    dropped_bytes_ += bytes.size() - inside;
}

void CartridgeModel::bus_cycle(uint32_t address, uint16_t data)
{
    if (address < NorFlash::size_bytes)
        nor_flash_.write_cycle(address / 2, data); // a 16-bit bus: the lowest address bit is unused
    else if (address == flash_control_address)
        nor_flash_.reset();
    else
        dropped_bytes_ += sizeof data;
}

void CartridgeModel::set_save_type(unsigned type)
{
    std::string error;
    // The cartridge keeps the type even when the file cannot be written; say why once here.
    if (!save_type_.store(type, error))
        std::fprintf(stderr, "corvane-sim: save type: %s\n", error.c_str());
}

} // namespace

std::unique_ptr<Cartridge> Cartridge::open(const std::filesystem::path &state_dir, std::string &error)
{
    std::error_code failure;
    std::filesystem::create_directories(state_dir, failure);
    if (failure) {
        error = state_dir.string() + ": cannot create the state directory: " + failure.message();
        return nullptr;
    }
    std::unique_ptr<MemoryFile> sdram = MemoryFile::open(state_dir / "sdram.bin", sdram_size, 0x00, error);
    if (!sdram)
        return nullptr;
    std::unique_ptr<MemoryFile> bootflash =
        MemoryFile::open(state_dir / "bootflash.bin", NorFlash::size_bytes, 0xFF, error);
    if (!bootflash)
        return nullptr;
    std::unique_ptr<MemoryFile> fpga = MemoryFile::open(state_dir / "fpga.bin", FpgaFlash::size_bytes, 0xFF, error);
    if (!fpga)
        return nullptr;
    SaveTypeFile save_type;
    if (!save_type.load(state_dir / "savetype", error))
        return nullptr;
    return std::make_unique<CartridgeModel>(std::move(sdram), std::move(bootflash), std::move(fpga),
                                            std::move(save_type));
}

} // namespace corvane::sim
