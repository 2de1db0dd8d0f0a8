#include "sim/server/server.h"

#include "sim/server/server_session.h"
#include "wire/vbus_protocol.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace corvane::sim {
namespace {

std::string system_error(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

// Decides what to do with a file already at the socket path: false (and why) when it must
// stay; a socket nobody answers on is removed.
bool clear_stale_socket(const std::string &path, std::string &error)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? true : (error = system_error(path), false);
    if (!S_ISSOCK(info.st_mode)) {
        error = path + ": exists and is not a socket";
        return false;
    }
    int probe = usb::vbus::connect_unix(path);
    if (probe >= 0) {
        close(probe);
        error = path + ": another simulator is listening there";
        return false;
    }
    if (errno != ECONNREFUSED) {
        error = system_error(path);
        return false;
    }
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = system_error("cannot remove the stale socket " + path);
        return false;
    }
    return true;
}

} // namespace

bool Server::address_free(const std::string &path, std::string &error)
{
    if (path.empty() || path.size() >= sizeof(sockaddr_un::sun_path)) {
        error =
            path + ": socket path too long (at most " + std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes)";
        return false;
    }
    return clear_stale_socket(path, error);
}

std::unique_ptr<Server> Server::start(VirtualBus &bus, const std::string &path, std::string &error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!address_free(path, error))
        return nullptr;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = system_error("socket");
        return nullptr;
    }
    // The socket is born owner-only: other users must not reach the devices even briefly.
    mode_t old_mask = umask(0077);
    int bound = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    umask(old_mask);
    if (bound != 0 || chmod(path.c_str(), 0600) != 0 || listen(fd, 64) != 0) {
        error = system_error(path);
        if (bound == 0)
            unlink(path.c_str());
        close(fd);
        return nullptr;
    }
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = system_error("pipe");
        unlink(path.c_str());
        close(fd);
        return nullptr;
    }
    std::unique_ptr<Server> server(new Server(bus, path, fd, wake[0], wake[1]));
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        server->socket_device_ = info.st_dev;
        server->socket_inode_ = info.st_ino;
    }
    return server;
}

Server::Server(VirtualBus &bus, std::string path, int listen_fd, int wake_read, int wake_write)
    : bus_(bus), path_(std::move(path)), listen_fd_(listen_fd), wake_read_(wake_read), wake_write_(wake_write)
{}

Server::~Server()
{
    reap(true);
    close(listen_fd_);
    struct stat info {};
    // Another simulator may have replaced a socket file we no longer own.
    if (stat(path_.c_str(), &info) == 0 && info.st_dev == socket_device_ && info.st_ino == socket_inode_)
        unlink(path_.c_str());
    close(wake_read_);
    close(wake_write_);
}

void Server::stop()
{
    stopping_ = true;
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(wake_write_, &byte, 1);
}

void Server::run()
{
    while (!stopping_) {
        pollfd watch[2] = {{listen_fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
        int ready = poll(watch, 2, 1000);
        reap(false);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0 || !(watch[0].revents & POLLIN))
            continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors: the listener stays readable, so pause rather than spin
            // until a connection ends. Any other failure is the peer giving up first.
            if (errno == EMFILE || errno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        Connection &connection = connections_.emplace_back();
        connection.session = std::make_shared<Session>(bus_, fd);
        connection.thread = std::thread([session = connection.session, done = &connection.finished] {
            session->serve();
            done->store(true);
        });
    }
    reap(true);
}

// Joins the connections that ended (all of them, ended first, when `all`).
void Server::reap(bool all)
{
    if (all)
        for (Connection &connection : connections_)
            connection.session->shut();
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (all || it->finished.load()) {
            it->thread.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace corvane::sim
