// A cartridge on a private state directory, and packets built from the protocol's byte
// tables (big-endian arguments).
#ifndef CORVANE_TESTS_UNIT_CARTRIDGE_CARTRIDGE_FIXTURE_H
#define CORVANE_TESTS_UNIT_CARTRIDGE_CARTRIDGE_FIXTURE_H

#include "sim/cartridge.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvane::sim::testing {

using Bytes = std::vector<uint8_t>;

constexpr size_t sdram_bytes = 64 * 1024 * 1024;
constexpr size_t bootflash_bytes = 512 * 1024;
constexpr size_t fpga_bytes = 4 * 1024 * 1024;

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes big_endian(uint32_t value)
{
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

inline Bytes transfer_header(uint8_t command, uint32_t length, uint32_t address)
{
    return concat({{command, 0x0A}, big_endian(length), big_endian(address)});
}

inline Bytes bus_cycle(uint32_t address, uint16_t data, uint8_t command = 0x90)
{
    return concat(
        {{command, 0x08}, big_endian(address), {static_cast<uint8_t>(data >> 8), static_cast<uint8_t>(data)}});
}

inline Bytes pattern(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

inline Bytes read_file(const std::filesystem::path &path, size_t offset, size_t size)
{
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    Bytes bytes(size);
    file.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<size_t>(file.gcount()));
    return bytes;
}

class StateDirectory {
public:
    StateDirectory()
    {
        std::string name = (std::filesystem::path(::testing::TempDir()) / "cartridge-XXXXXX").string();
        path_ = ::mkdtemp(name.data());
    }
    ~StateDirectory() { std::filesystem::remove_all(path_); }
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

class CartridgeTest : public ::testing::Test {
protected:
    void SetUp() override { reopen(); }

    void reopen()
    {
        cartridge_.reset();
        std::string error;
        cartridge_ = Cartridge::open(state_.path(), error);
        ASSERT_NE(cartridge_, nullptr) << error;
    }

    // The whole stream must be taken, `piece` bytes per call.
    void send(const Bytes &bytes, size_t piece = SIZE_MAX)
    {
        for (size_t sent = 0; sent < bytes.size();) {
            size_t size = std::min(piece, bytes.size() - sent);
            ASSERT_EQ(cartridge_->take(bytes.data() + sent, size), size) << "refused at stream byte " << sent;
            sent += size;
        }
    }

    Bytes receive(size_t size)
    {
        Bytes bytes(size);
        bytes.resize(cartridge_->give(bytes.data(), size));
        return bytes;
    }

    Bytes memory(const char *file, size_t offset, size_t size) const
    {
        return read_file(state_.path() / file, offset, size);
    }

    StateDirectory state_;
    std::unique_ptr<Cartridge> cartridge_;
};

} // namespace corvane::sim::testing

#endif // CORVANE_TESTS_UNIT_CARTRIDGE_CARTRIDGE_FIXTURE_H
