// A memory of a virtual device kept in a file of the state directory and mapped into this
// process, so that its contents survive restarts and other processes see them while we run.
#ifndef CORVANE_SIM_MEMORY_FILE_H
#define CORVANE_SIM_MEMORY_FILE_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

namespace corvane::sim {

class MemoryFile {
public:
    // Maps `path`, which must hold exactly `size` bytes. A missing file is created with
    // every byte set to `fill` (the erased state of the memory). A file of another size is
    // refused, never resized: nullptr, with the file and both sizes named in `error`.
    static std::unique_ptr<MemoryFile> open(const std::filesystem::path &path, size_t size, uint8_t fill,
                                            std::string &error);
    ~MemoryFile();

    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    // Copies `data` in at `offset` (the range must lie inside) through the file rather
    // than the mapping: a store into a mapped page the kernel has written back faults to
    // mark it dirty again, once per 4 KiB page, which costs more than the copy itself.
    void store(size_t offset, std::span<const uint8_t> data);

    std::span<uint8_t> bytes() { return {data_, size_}; }
    std::span<const uint8_t> bytes() const { return {data_, size_}; }
    size_t size() const { return size_; }
    const std::filesystem::path &path() const { return path_; }

private:
    MemoryFile(std::filesystem::path path, int fd, uint8_t *data, size_t size)
        : path_(std::move(path)), fd_(fd), data_(data), size_(size)
    {}

    std::filesystem::path path_;
    int fd_;
    uint8_t *data_;
    size_t size_;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_MEMORY_FILE_H
