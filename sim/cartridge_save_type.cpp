#include "sim/cartridge_save_type.h"

#include "sim/cartridge_framer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::sim {
namespace {

std::string trimmed(const std::string &text)
{
    const char *blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

bool SaveTypeFile::load(const std::filesystem::path &path, std::string &error)
{
    path_ = path;
    value_.reset();
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (!std::filesystem::exists(path))
            return true;
        error = path.string() + ": cannot read: " + std::strerror(errno);
        return false;
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    const std::string text = trimmed(contents.str());
    if (text.empty())
        return true;
    if (text.size() != 1 || text[0] < '0' || text[0] > '0' + CartridgeFramer::highest_save_type) {
        error = path.string() + ": holds \"" + text.substr(0, 40) + "\", not a save type 0 to " +
                std::to_string(CartridgeFramer::highest_save_type);
        return false;
    }
    value_ = static_cast<unsigned>(text[0] - '0');
    return true;
}

bool SaveTypeFile::store(unsigned type, std::string &error)
{
    value_ = type;
    std::string name_template = path_.string() + ".new-XXXXXX";
    int fd = ::mkostemp(name_template.data(), O_CLOEXEC);
    if (fd < 0) {
        error = path_.string() + ": cannot write: " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, 0644);
    const std::string text = std::to_string(type) + "\n";
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written || std::rename(name_template.c_str(), path_.c_str()) != 0) {
        error = path_.string() + ": cannot write: " + std::strerror(errno);
        ::unlink(name_template.c_str());
        return false;
    }
    return true;
}

} // namespace corvane::sim
