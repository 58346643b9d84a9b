#pragma once

#include "base/dispatch/semaphore.hpp"
#include "base/error.hpp"
#include "service/loopback_request.hpp"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

// Errors of setting up the receiver carry errno as their code.
inline constexpr const char* KVLoopbackErrorDomain = "KorvaneLoopback";

// Receives the end of a browser sign-in. The browser is sent to Google with redirectURI() as
// the place to come back to and a fresh random state (KVRandomHex) as "&state=", which the
// service hands back on the callback. The receiver listens on a port of 127.0.0.1 the system
// chose and waits, speaking just enough HTTP/1.0, for the one request whose query carries that
// state and an access token ("token=kor_..." or "token=dk_..."): it gets the signed-in page and
// ends the wait. Every other request (a browser's favicon, a callback without the state or
// without a token) gets the 404 page and the wait goes on, so a local process or web page that
// finds the port can neither end the sign-in nor plant its own account.
//
// One thread calls serve(); any thread may call closeSocket() to give up waiting.
class KVLoopback {
public:
    static constexpr size_t kMaxRequestBytes = kKVLoopbackMaxRequestBytes;
    // Connections held at once; a new one drops the oldest that sent nothing, else the oldest.
    static constexpr size_t kMaxConnections = 8;

    // `expectedState`: the state this sign-in sent the browser off with; "" accepts no
    // callback. `idleTimeout`: seconds a connection may stay silent before it is closed.
    explicit KVLoopback(std::string expectedState, double idleTimeout = 10.0);
    ~KVLoopback(); // closes the listening socket if serve() never took it over

    KVLoopback(const KVLoopback&) = delete;
    KVLoopback& operator=(const KVLoopback&) = delete;

    // Listens on 127.0.0.1 (never on other interfaces) at a port the system picks. On failure
    // nothing stays open and fd() is -1.
    bool listenOnLoopback(KVError* error = nullptr);

    // "http://127.0.0.1:<port>/callback".
    std::string redirectURI() const;

    // Answers requests until the signed-in callback arrived, the socket was closed or serving was
    // cancelled; closes every connection and the listening socket before returning. done() is
    // signalled once, by the first call that returns (even one without a listening socket).
    void serve();

    // Gives up waiting: serve() returns soon after. Safe from any thread, any number of times,
    // before, during or after serve().
    void closeSocket();

    // The accepted token; read it once done() was signalled.
    std::optional<std::string> token() const;
    KVSemaphore& done() { return done_; }
    int port() const { return port_.load(); }
    int fd() const;
    bool cancelled() const { return cancelled_.load(); }

private:
    void finish(); // signals done_ the first time only

    const std::string expectedState_;
    const double idleTimeout_;
    std::atomic<bool> cancelled_{false};
    std::atomic<int> port_{0};
    KVSemaphore done_;

    mutable std::mutex mutex_;
    int fd_ = -1;           // the listening socket
    bool serving_ = false;  // serve() owns fd_: closeSocket() only shuts it down
    bool finished_ = false; // done_ was signalled
    std::optional<std::string> token_;
};
