#include "platform/single_instance.hpp"

#include "base/files.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char kShow[] = "show\n";

bool socketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

void setError(KVError* error, const std::string& what) {
    KVSetError(error, "KVSingleInstance", errno, what + ": " + std::strerror(errno));
}

} // namespace

KVSingleInstance::KVSingleInstance(const std::string& directory, std::shared_ptr<KVQueue> queue,
                                   std::function<void()> onShow)
    : lockPath_(KVJoinPath(directory, "korvane.lock")),
      socketPath_(KVJoinPath(directory, "korvane.sock")), queue_(std::move(queue)),
      onShow_(std::move(onShow)) {}

KVSingleInstance::~KVSingleInstance() {
    if (listener_.joinable()) {
        const char stop = 'x';
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &stop, 1);
        listener_.join();
    }
    for (int fd : {wake_[0], wake_[1], socket_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (socket_ >= 0) {
        ::unlink(socketPath_.c_str());
    }
    if (lock_ >= 0) {
        ::close(lock_); // releases the lock
    }
}

KVSingleInstance::Outcome KVSingleInstance::acquire(KVError* error) {
    lock_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_ < 0) {
        setError(error, "cannot open " + lockPath_);
        return Outcome::failed;
    }
    // The kernel drops the lock with its holder, however it ended: a lock is never stale.
    if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock_);
        lock_ = -1;
        return handOver(error) ? Outcome::handedOver : Outcome::failed;
    }
    return listen(error) ? Outcome::first : Outcome::failed;
}

bool KVSingleInstance::listen(KVError* error) {
    sockaddr_un address{};
    if (!socketAddress(socketPath_, address)) {
        KVSetError(error, "KVSingleInstance", 1, "the socket path is too long: " + socketPath_);
        return false;
    }
    // We hold the lock, so a socket file left here belongs to an instance that died.
    ::unlink(socketPath_.c_str());
    socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0 ||
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket_, 8) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
        setError(error, "cannot listen on " + socketPath_);
        return false;
    }
    listener_ = std::thread([this] { serve(); });
    return true;
}

void KVSingleInstance::serve() {
    for (;;) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        const int client = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        // A caller that never writes must not hold the listener up for long.
        pollfd in{client, POLLIN, 0};
        char buffer[16] = {};
        const ssize_t n = ::poll(&in, 1, 2000) == 1 ? ::read(client, buffer, sizeof buffer - 1) : 0;
        ::close(client);
        if (n > 0 && std::strncmp(buffer, kShow, sizeof kShow - 1) == 0 && queue_ && onShow_) {
            queue_->async(onShow_);
        }
    }
}

bool KVSingleInstance::handOver(KVError* error) {
    sockaddr_un address{};
    if (!socketAddress(socketPath_, address)) {
        KVSetError(error, "KVSingleInstance", 1, "the socket path is too long: " + socketPath_);
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        setError(error, "cannot reach the running Korvane");
        return false;
    }
    const bool sent =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, kShow, sizeof kShow - 1, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof kShow - 1);
    if (!sent) {
        setError(error, "cannot reach the running Korvane");
    }
    ::close(fd);
    return sent;
}
