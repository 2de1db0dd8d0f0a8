// A cartridge on a private state directory, with helpers that push bytes in and pull the
// answer out the way the chip model does.
#ifndef CORVANE_TESTS_UNIT_CARTRIDGE_CARTRIDGE_FIXTURE_H
#define CORVANE_TESTS_UNIT_CARTRIDGE_CARTRIDGE_FIXTURE_H

#include "sim/cartridge.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace corvane::sim::testing {

using Bytes = std::vector<uint8_t>;

constexpr size_t sdram_bytes = 64 * 1024 * 1024;
constexpr size_t bootflash_bytes = 512 * 1024;
constexpr size_t fpga_bytes = 4 * 1024 * 1024;

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Packets built from the byte tables of the command protocol: big-endian arguments.
inline Bytes transfer_header(uint8_t command, uint32_t length, uint32_t address) {
    return {command, 0x0A,
            static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
            static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
            static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
            static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
}

inline Bytes bus_cycle(uint32_t address, uint16_t data, uint8_t command = 0x90) {
    return {command, 0x08,
            static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
            static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
            static_cast<uint8_t>(data >> 8), static_cast<uint8_t>(data)};
}

inline Bytes pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

inline Bytes read_file(const std::filesystem::path &path, size_t offset = 0, size_t size = SIZE_MAX) {
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    Bytes bytes;
    char byte;
    while (bytes.size() < size && file.get(byte))
        bytes.push_back(static_cast<uint8_t>(byte));
    return bytes;
}

class StateDirectory {
public:
    StateDirectory() {
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

    void reopen() {
        cartridge_.reset();
        std::string error;
        cartridge_ = Cartridge::open(state_.path(), error);
        ASSERT_NE(cartridge_, nullptr) << error;
    }

    // The whole stream must be taken, in as many calls as it needs.
    void send(const Bytes &bytes, size_t piece = SIZE_MAX) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            size_t size = std::min(piece, bytes.size() - sent);
            size_t taken = cartridge_->take(bytes.data() + sent, size);
            ASSERT_EQ(taken, size) << "refused at stream byte " << sent;
            sent += taken;
        }
    }

    Bytes receive(size_t size) {
        Bytes bytes(size);
        size_t got = cartridge_->give(bytes.data(), size);
        bytes.resize(got);
        return bytes;
    }

    Bytes sdram(size_t offset, size_t size) const { return read_file(state_.path() / "sdram.bin", offset, size); }
    Bytes bootflash(size_t offset, size_t size) const {
        return read_file(state_.path() / "bootflash.bin", offset, size);
    }
    Bytes fpga(size_t offset, size_t size) const { return read_file(state_.path() / "fpga.bin", offset, size); }

    StateDirectory state_;
    std::unique_ptr<Cartridge> cartridge_;
};

} // namespace corvane::sim::testing

#endif // CORVANE_TESTS_UNIT_CARTRIDGE_CARTRIDGE_FIXTURE_H
