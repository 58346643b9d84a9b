#include "service/loopback.hpp"

#include "service/loopback_request.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A connection accepted and not answered yet, with what it sent so far.
struct Connection {
    int fd = -1;
    std::string bytes;
    Clock::time_point lastHeard;
};

// Sends the page and closes the connection. Failures are ignored: the browser went away.
void reply(Connection& connection, const KVLoopbackVerdict& verdict) {
    const std::string text = KVLoopbackAnswer(verdict);
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = send(connection.fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        sent += static_cast<size_t>(n);
    }
    // Closing with unread bytes makes the kernel reset the connection, and the client may then
    // lose the page: take in what already arrived beyond the judged part first.
    char sink[4096];
    for (int round = 0; round < 16; ++round) {
        if (recv(connection.fd, sink, sizeof sink, MSG_DONTWAIT) <= 0) {
            break;
        }
    }
    close(connection.fd);
    connection.fd = -1;
}

// Takes in what `connection` sent since the last look. True when its request is ready to be
// judged; a connection that failed or closed without sending is closed (fd -1).
bool readMore(Connection& connection) {
    size_t had = connection.bytes.size();
    connection.bytes.resize(KVLoopback::kMaxRequestBytes);
    ssize_t n = recv(connection.fd, connection.bytes.data() + had,
                     KVLoopback::kMaxRequestBytes - had, MSG_DONTWAIT);
    int code = errno;
    connection.bytes.resize(had + static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (n > 0) {
        connection.lastHeard = Clock::now();
        return KVLoopbackRequestComplete(connection.bytes);
    }
    if (n < 0 && (code == EAGAIN || code == EWOULDBLOCK || code == EINTR)) {
        return false;
    }
    if (n == 0 && had > 0) {
        return true; // the peer finished sending: judge what it sent
    }
    close(connection.fd);
    connection.fd = -1;
    return false;
}

// Errors accept() may report for one failed connection; the listening socket is still fine.
bool transientAcceptError(int code) {
    static constexpr int kTransient[] = {EINTR,        EAGAIN,      ECONNABORTED, EPROTO,
                                         ENETDOWN,     ENOPROTOOPT, EHOSTDOWN,    ENONET,
                                         EHOSTUNREACH, EOPNOTSUPP,  ENETUNREACH,  EPERM};
    return std::ranges::find(kTransient, code) != std::end(kTransient);
}

} // namespace

KVLoopback::KVLoopback(std::string expectedState, double idleTimeout)
    : expectedState_(std::move(expectedState)), idleTimeout_(idleTimeout) {}

KVLoopback::~KVLoopback() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool KVLoopback::listenOnLoopback(KVError* error) {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        return true;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto fail = [&](const char* what) {
        int code = errno;
        if (fd >= 0) {
            close(fd);
        }
        KVSetError(error, KVLoopbackErrorDomain, code, std::string(what) + ": " + strerror(code));
        return false;
    };
    if (fd < 0) {
        return fail("Could not open a socket for the sign-in");
    }
    int one = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
        return fail("Could not set up the sign-in socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return fail("Could not bind the sign-in socket to 127.0.0.1");
    }
    if (listen(fd, 4) != 0) {
        return fail("Could not listen for the sign-in");
    }
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return fail("Could not read the sign-in port");
    }
    port_ = ntohs(address.sin_port);
    fd_ = fd;
    return true;
}

std::string KVLoopback::redirectURI() const {
    return "http://127.0.0.1:" + std::to_string(port()) + "/callback";
}

void KVLoopback::serve() {
    int listener = -1;
    {
        std::lock_guard lock(mutex_);
        if (serving_) {
            return; // the call already serving signals done
        }
        if (!cancelled_ && fd_ >= 0) {
            serving_ = true;
            listener = fd_;
        }
    }
    const auto idle =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(idleTimeout_));
    std::vector<Connection> held; // oldest first
    std::vector<pollfd> watched;
    bool ended = listener < 0;
    while (!ended && !cancelled_) {
        // One poll over the listening socket and every held connection, so that a connection
        // that never sends (browsers open some ahead of time) delays nothing.
        watched.assign(1, pollfd{listener, POLLIN, 0});
        int timeout = -1;
        auto now = Clock::now();
        for (const auto& connection : held) {
            watched.push_back(pollfd{connection.fd, POLLIN, 0});
            auto left =
                std::chrono::ceil<std::chrono::milliseconds>(connection.lastHeard + idle - now);
            int ms = static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        }
        if (poll(watched.data(), watched.size(), timeout) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (cancelled_) {
            break;
        }
        for (size_t i = 0; i < held.size() && !ended; ++i) {
            if (watched[i + 1].revents != 0 && readMore(held[i])) {
                KVLoopbackVerdict verdict = KVJudgeLoopbackRequest(held[i].bytes, expectedState_);
                if (verdict.token) {
                    std::lock_guard lock(mutex_);
                    token_ = std::move(verdict.token);
                }
                reply(held[i], verdict);
                ended = verdict.ends;
            }
        }
        now = Clock::now();
        for (auto& connection : held) {
            if (connection.fd >= 0 && connection.lastHeard + idle <= now) {
                close(connection.fd);
                connection.fd = -1;
            }
        }
        std::erase_if(held, [](const Connection& connection) { return connection.fd < 0; });
        if (ended || (watched[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            break; // closeSocket() shut the listening socket down
        }
        if ((watched[0].revents & POLLIN) == 0) {
            continue;
        }
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (transientAcceptError(errno)) {
                continue;
            }
            break;
        }
        // Writes block (reads never do), but only so long: a client that stops reading must
        // not hold the sign-in up.
        timeval sendTimeout{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
        if (held.size() == kMaxConnections) {
            // Make room by dropping the oldest connection that has sent nothing (a browser's
            // speculative one, or a flood of idle ones), and only the oldest of all when
            // every one is mid-request: the callback may be among them.
            auto victim = std::ranges::find_if(
                held, [](const Connection& connection) { return connection.bytes.empty(); });
            if (victim == held.end()) {
                victim = held.begin();
            }
            close(victim->fd);
            held.erase(victim);
        }
        held.push_back(Connection{fd, {}, Clock::now()});
    }
    for (const auto& connection : held) {
        close(connection.fd);
    }
    {
        std::lock_guard lock(mutex_);
        if (listener >= 0) {
            serving_ = false;
        }
        if (fd_ >= 0 && !serving_) {
            close(fd_);
            fd_ = -1;
        }
    }
    finish();
}

void KVLoopback::closeSocket() {
    cancelled_ = true;
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        return;
    }
    if (serving_) {
        // close() would not wake the serving thread's poll on Linux; shutdown() does, and that
        // thread closes the socket itself.
        shutdown(fd_, SHUT_RDWR);
    } else {
        close(fd_);
        fd_ = -1;
    }
}

std::optional<std::string> KVLoopback::token() const {
    std::lock_guard lock(mutex_);
    return token_;
}

int KVLoopback::fd() const {
    std::lock_guard lock(mutex_);
    return fd_;
}

void KVLoopback::finish() {
    {
        std::lock_guard lock(mutex_);
        if (finished_) {
            return;
        }
        finished_ = true;
    }
    done_.signal();
}
