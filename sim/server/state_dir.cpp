#include "sim/server/state_dir.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvane::sim {

bool is_memory_file_name(std::string_view name)
{
    return name == "sdram.bin" || name == "bootflash.bin" || name == "fpga.bin" || name == "savetype" ||
           (name.size() > 11 && name.starts_with("eeprom-") && name.ends_with(".bin"));
}

bool remove_state_dir(const std::filesystem::path &dir, std::string &error)
{
    // Everything is looked at and removed through the folder's descriptor, so a folder
    // replaced by a link to another one while we work cannot send the removals there.
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    DIR *listing = ::fdopendir(fd);
    if (!listing) {
        error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    std::vector<std::string> kept;
    while (dirent *entry = ::readdir(listing)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        bool ours = is_memory_file_name(name) && ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISREG(info.st_mode);
        if (!ours || ::unlinkat(fd, entry->d_name, 0) != 0)
            kept.emplace_back(name);
    }
    ::closedir(listing);
    if (!kept.empty()) {
        error = "kept, as it holds what corvane-sim did not make or could not remove:";
        for (const std::string &name : kept)
            error += " " + name;
        return false;
    }
    if (::rmdir(dir.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

OwnStateDir::~OwnStateDir()
{
    if (dir_.empty())
        return;
    std::string error;
    if (!remove_state_dir(dir_, error))
        std::fprintf(stderr, "corvane-sim: state directory %s: %s\n", dir_.c_str(), error.c_str());
}

} // namespace corvane::sim
