#include "sim/memory_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::sim {
namespace {

std::string describe_errno(const std::filesystem::path &path, const char *what)
{
    return path.string() + ": " + what + ": " + std::strerror(errno);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

bool write_fill(int fd, size_t size, uint8_t fill)
{
    std::vector<uint8_t> block(std::min<size_t>(size, 1 << 16), fill);
    size_t written = 0;
    while (written < size) {
        size_t part = std::min(block.size(), size - written);
        ssize_t result = ::write(fd, block.data(), part);
        if (result < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        written += static_cast<size_t>(result);
    }
    return true;
}

// Builds the erased memory under a temporary name and links it into place, so that a
// reader never sees a half-filled file, and a file that another process created in the
// meantime is kept rather than overwritten.
bool create_filled(const std::filesystem::path &path, size_t size, uint8_t fill, std::string &error)
{
    std::string name_template = path.string() + ".new-XXXXXX";
    FileDescriptor fd(::mkostemp(name_template.data(), O_CLOEXEC));
    const std::filesystem::path temporary = name_template;
    if (fd.get() < 0) {
        error = describe_errno(temporary, "cannot create");
        return false;
    }
    ::fchmod(fd.get(), 0644);
    // Zeroed blocks are reserved rather than written, which is quick; reserving them at all
    // keeps a full disk from surfacing later as a fault on a store into the mapping.
    bool filled = true;
    if (fill == 0) {
        if (int result = ::posix_fallocate(fd.get(), 0, static_cast<off_t>(size)); result != 0) {
            errno = result;
            filled = false;
        }
    } else {
        filled = write_fill(fd.get(), size, fill);
    }
    if (!filled) {
        error = describe_errno(temporary, "cannot fill");
        ::unlink(temporary.c_str());
        return false;
    }
    if (::link(temporary.c_str(), path.c_str()) == 0 || errno == EEXIST) {
        ::unlink(temporary.c_str());
        return true;
    }
    // A file system without hard links: a plain rename, which only a creation by another
    // process in this very instant could lose to.
    if (::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    error = describe_errno(path, "cannot create");
    ::unlink(temporary.c_str());
    return false;
}

} // namespace

std::unique_ptr<MemoryFile> MemoryFile::open(const std::filesystem::path &path, size_t size, uint8_t fill,
                                             std::string &error)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            error = describe_errno(path, "cannot examine");
            return nullptr;
        }
        if (!create_filled(path, size, fill, error))
            return nullptr;
    }

    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.get() < 0) {
        error = describe_errno(path, "cannot open");
        return nullptr;
    }
    // The size is judged on the descriptor we map, not on the name looked at above.
    if (::fstat(fd.get(), &info) != 0) {
        error = describe_errno(path, "cannot examine");
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path.string() + ": not a regular file";
        return nullptr;
    }
    if (static_cast<uint64_t>(info.st_size) != size) {
        error = path.string() + ": the file holds " + std::to_string(info.st_size) + " bytes, but this memory is " +
                std::to_string(size) + " bytes; refusing to use it (it is never resized)";
        return nullptr;
    }
    void *mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (mapped == MAP_FAILED) {
        error = describe_errno(path, "cannot map");
        return nullptr;
    }
    return std::unique_ptr<MemoryFile>(new MemoryFile(path, fd.release(), static_cast<uint8_t *>(mapped), size));
}

MemoryFile::~MemoryFile()
{
    ::munmap(data_, size_);
    ::close(fd_);
}

void MemoryFile::store(size_t offset, std::span<const uint8_t> data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t written = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (written > 0) {
            done += static_cast<size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            // The blocks were reserved when the file was made, so this is rare; the
            // mapping still takes the bytes.
            std::memcpy(data_ + offset + done, data.data() + done, data.size() - done);
            return;
        }
    }
}

} // namespace corvane::sim
