#pragma once

#include "base/error.hpp"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

// Our own connection to the X server, apart from the GUI's: a failed or stuck request here can
// only cost us this connection, which is dropped and opened again on the next use.
class KVX11Connection {
public:
    using Clock = std::chrono::steady_clock;

    KVX11Connection() = default;
    ~KVX11Connection();
    KVX11Connection(const KVX11Connection&) = delete;
    KVX11Connection& operator=(const KVX11Connection&) = delete;

    // The open connection, opening it first when needed; null with the reason when the server
    // cannot be reached.
    xcb_connection_t* get(KVError* error);
    xcb_window_t root() const { return root_; }
    xcb_screen_t* screen() const { return screen_; }
    int screenNumber() const { return screenNumber_; }

    // Closes the connection (after a time-out or a broken pipe); the next `get` reconnects.
    void drop();

    // Interns `name` on an open connection; XCB_ATOM_NONE when the server would not answer.
    xcb_atom_t atom(const char* name);

    // How long a request may take before the connection is given up.
    static constexpr std::chrono::seconds kReplyBound{5};

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    xcb_window_t root_ = 0;
    int screenNumber_ = 0;
};

// Frees what xcb hands back with malloc.
struct KVFreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T> using KVXReply = std::unique_ptr<T, KVFreeDeleter>;

// The outcome of waiting for one reply.
enum class KVXWait { reply, error, timedOut, broken };

// Waits for the reply to request `sequence` until `deadline`, reading the socket only when it
// has something: X replies come in order, so no other request's reply is lost while waiting.
KVXWait KVXAwait(xcb_connection_t* connection, unsigned int sequence,
                 KVX11Connection::Clock::time_point deadline, void** reply,
                 xcb_generic_error_t** error);

// The reply to a cookie, or null (with the X error's code in `errorCode` when it was an error).
template <typename Reply, typename Cookie>
KVXReply<Reply> KVXReplyOf(xcb_connection_t* connection, Cookie cookie,
                           KVX11Connection::Clock::time_point deadline, KVXWait* outcome = nullptr,
                           int* errorCode = nullptr) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    const KVXWait wait = KVXAwait(connection, cookie.sequence, deadline, &reply, &error);
    if (outcome != nullptr) {
        *outcome = wait;
    }
    if (error != nullptr) {
        if (errorCode != nullptr) {
            *errorCode = error->error_code;
        }
        std::free(error);
    }
    return KVXReply<Reply>(static_cast<Reply*>(reply));
}

// Waits until the server has handled every request sent so far, so that the checked ones among
// them can be asked for their errors without blocking.
KVXWait KVXSync(xcb_connection_t* connection, KVX11Connection::Clock::time_point deadline);

// The X protocol's name of an error code ("BadMatch", "BadWindow", …).
std::string KVXErrorName(int code);
