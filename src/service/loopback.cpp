#include "service/loopback.hpp"

#include "base/utf8.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kSignedIn = "You're signed in. Close this tab and return to Korvane.";
constexpr std::string_view kNotSignedIn =
    "That sign-in did not complete. Return to Korvane and try again.";

bool acceptableToken(std::string_view value) {
    return value.starts_with("kor_") || value.starts_with("dk_");
}

// `text` with its %XX escapes decoded ("+" stays a plus); nothing when an escape is malformed
// or the result is not UTF-8, as a URL parser would refuse such an item.
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned byte = static_cast<unsigned char>(text[i]);
        if (byte == '%') {
            const char* digits = text.data() + i + 1;
            if (i + 2 >= text.size() ||
                std::from_chars(digits, digits + 2, byte, 16).ptr != digits + 2) {
                return std::nullopt;
            }
            i += 2;
        }
        out += static_cast<char>(byte);
    }
    if (!KVIsValidUtf8(out)) {
        return std::nullopt;
    }
    return out;
}

// The last acceptable "token" item of the query of http://127.0.0.1<target>.
std::optional<std::string> tokenIn(std::string_view target) {
    target = target.substr(0, target.find('#'));
    size_t mark = target.find('?');
    if (mark == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view query = target.substr(mark + 1);
    std::optional<std::string> token;
    while (true) {
        size_t amp = query.find('&');
        std::string_view item = query.substr(0, amp);
        size_t eq = item.find('=');
        if (eq != std::string_view::npos) {
            auto name = percentDecoded(item.substr(0, eq));
            auto value = percentDecoded(item.substr(eq + 1));
            if (name == "token" && value && acceptableToken(*value)) {
                token = std::move(value);
            }
        }
        if (amp == std::string_view::npos) {
            return token;
        }
        query.remove_prefix(amp + 1);
    }
}

std::string page(std::string_view message) {
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>Korvane</title>\n<style>\n"
                       "body{margin:0;background:#07090d;color:#e8d5a3;"
                       "font:16px/1.6 system-ui,sans-serif}\n"
                       "main{max-width:420px;margin:18vh auto 0;padding:0 24px;text-align:center}\n"
                       "h1{margin:0;font-family:Georgia,serif;font-weight:600;font-size:28px;"
                       "color:#d4af6a}\n"
                       "p{margin:18px 0 0;color:#9aa4b2}\n"
                       "</style>\n</head>\n<body>\n<main>\n<h1>Korvane</h1>\n<p>";
    html += message;
    html += "</p>\n</main>\n</body>\n</html>\n";
    return html;
}

bool hasWholeRequest(const std::string& bytes) {
    return bytes.size() >= KVLoopback::kMaxRequestBytes ||
           bytes.find("\r\n\r\n") != std::string::npos;
}

// What a request gets: the page's status and message, the token it carried, and whether
// serving ends with it.
struct Verdict {
    int status = 404;
    std::string_view message = kNotSignedIn;
    std::optional<std::string> token;
    bool ends = false;
};

Verdict judge(std::string_view request) {
    request = request.substr(0, KVLoopback::kMaxRequestBytes);
    if (!KVIsValidUtf8(request)) {
        request = {};
    }
    std::string_view line = request.substr(0, request.find("\r\n"));
    std::string_view target;
    if (size_t space = line.find(' '); space != std::string_view::npos) {
        target = line.substr(space + 1);
        target = target.substr(0, target.find(' '));
    }
    Verdict verdict;
    if (target.starts_with("/callback")) {
        verdict.status = 200;
        verdict.token = tokenIn(target);
        verdict.message = verdict.token ? kSignedIn : kNotSignedIn;
        verdict.ends = true;
    }
    return verdict;
}

// A connection accepted and not answered yet, with what it sent so far.
struct Connection {
    int fd = -1;
    std::string bytes;
    Clock::time_point lastHeard;
};

// Sends the page and closes the connection. Failures are ignored: the browser went away.
void reply(Connection& connection, const Verdict& verdict) {
    std::string body = page(verdict.message);
    std::string text = "HTTP/1.0 " + std::to_string(verdict.status) +
                       " OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
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
        return hasWholeRequest(connection.bytes);
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

KVLoopback::KVLoopback(double idleTimeout) : idleTimeout_(idleTimeout) {}

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
                Verdict verdict = judge(held[i].bytes);
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
            close(held.front().fd);
            held.erase(held.begin());
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
