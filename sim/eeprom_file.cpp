#include "sim/eeprom_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::sim {
namespace {

std::string reason(const std::filesystem::path &path, const std::string &why)
{
    return path.string() + ": " + why;
}

bool write_all(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        ssize_t done = ::write(fd, data, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        data += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

} // namespace

std::unique_ptr<EepromFile> EepromFile::open(const std::filesystem::path &path, size_t words,
                                             const std::vector<uint16_t> &initial, std::string &error)
{
    const size_t size = words * 2;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        // Written under a temporary name and renamed, so that a crash never leaves a
        // short file that the next start would refuse.
        std::filesystem::path temporary = path;
        temporary += ".new";
        int out = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0) {
            error = reason(temporary, std::strerror(errno));
            return nullptr;
        }
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < words; ++i) {
            bytes[2 * i] = static_cast<uint8_t>(initial[i]);
            bytes[2 * i + 1] = static_cast<uint8_t>(initial[i] >> 8);
        }
        bool written = write_all(out, bytes.data(), size) && ::fsync(out) == 0;
        int saved = errno;
        ::close(out);
        if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
            error = reason(path, std::strerror(written ? errno : saved));
            ::unlink(temporary.c_str());
            return nullptr;
        }
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (fd < 0) {
        error = reason(path, std::strerror(errno));
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = reason(path, std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    if (static_cast<size_t>(info.st_size) != size) {
        error = reason(path, std::to_string(info.st_size) + " bytes where this EEPROM holds " + std::to_string(size) +
                                 " (" + std::to_string(words) + " words); the file is left as it is");
        ::close(fd);
        return nullptr;
    }
    void *map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int saved = errno;
    ::close(fd);
    if (map == MAP_FAILED) {
        error = reason(path, std::strerror(saved));
        return nullptr;
    }
    return std::unique_ptr<EepromFile>(new EepromFile(static_cast<uint8_t *>(map), words));
}

EepromFile::~EepromFile()
{
    ::msync(bytes_, words_ * 2, MS_SYNC);
    ::munmap(bytes_, words_ * 2);
}

} // namespace corvane::sim
