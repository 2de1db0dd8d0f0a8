#include "wire/vbus_shared.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::usb::vbus {
namespace {

constexpr int fixed_size_seals = F_SEAL_SHRINK | F_SEAL_GROW;

std::string system_error(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

std::unique_ptr<SharedRegion> SharedRegion::create(unsigned slot_count, size_t slot_size, std::string &error)
{
    const size_t size = slot_count * slot_size;
    int fd = memfd_create("corvane-vbus", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        error = system_error("memfd_create");
        return nullptr;
    }
    // Pages are only taken as slots are first used, so the size costs nothing up front.
    if (ftruncate(fd, static_cast<off_t>(size)) != 0 || fcntl(fd, F_ADD_SEALS, fixed_size_seals | F_SEAL_SEAL) != 0) {
        error = system_error("shared memory");
        close(fd);
        return nullptr;
    }
    return map(fd, slot_count, slot_size, error);
}

std::unique_ptr<SharedRegion> SharedRegion::adopt(int fd, unsigned slot_count, size_t slot_size, std::string &error)
{
    struct stat facts {};
    const size_t size = slot_count * slot_size;
    int seals = fcntl(fd, F_GET_SEALS);
    if (fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode) || static_cast<size_t>(facts.st_size) < size || seals < 0 ||
        (seals & F_SEAL_SHRINK) == 0) {
        error = "the simulator's shared memory is not a sealed region of its announced size";
        close(fd);
        return nullptr;
    }
    return map(fd, slot_count, slot_size, error);
}

std::unique_ptr<SharedRegion> SharedRegion::map(int fd, unsigned slot_count, size_t slot_size, std::string &error)
{
    void *base = mmap(nullptr, slot_count * slot_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
        error = system_error("mmap");
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<SharedRegion>(new SharedRegion(fd, static_cast<uint8_t *>(base), slot_count, slot_size));
}

SharedRegion::~SharedRegion()
{
    munmap(base_, slot_count_ * slot_size_);
    close(fd_);
}

} // namespace corvane::usb::vbus
