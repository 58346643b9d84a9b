#include "platform/linux/x11_connection.hpp"

#include "base/environment.hpp"

#include <poll.h>

KVX11Connection::~KVX11Connection() {
    drop();
}

xcb_connection_t* KVX11Connection::get(KVError* error) {
    if (connection_ != nullptr && xcb_connection_has_error(connection_) != 0) {
        drop();
    }
    if (connection_ != nullptr) {
        // Errors of requests nobody checks queue up as events on a connection that selects none.
        while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
            std::free(event);
        }
        return connection_;
    }
    const std::string display = KVEnvironment::current()->display;
    if (display.empty()) {
        KVSetError(error, "KVX11", 1, "no X display (DISPLAY is not set)");
        return nullptr;
    }
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        KVSetError(error, "KVX11", 2, "cannot connect to the X display " + display);
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) {
        xcb_screen_next(&it);
    }
    if (it.rem == 0) {
        xcb_disconnect(connection);
        KVSetError(error, "KVX11", 2, "the X display " + display + " has no such screen");
        return nullptr;
    }
    connection_ = connection;
    screen_ = it.data;
    root_ = it.data->root;
    screenNumber_ = screenNumber;
    return connection_;
}

void KVX11Connection::drop() {
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
    connection_ = nullptr;
    screen_ = nullptr;
    root_ = 0;
}

xcb_atom_t KVX11Connection::atom(const char* name) {
    if (connection_ == nullptr) {
        return XCB_ATOM_NONE;
    }
    const auto cookie = xcb_intern_atom(
        connection_, 0, static_cast<uint16_t>(std::char_traits<char>::length(name)), name);
    auto reply =
        KVXReplyOf<xcb_intern_atom_reply_t>(connection_, cookie, Clock::now() + kReplyBound);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

KVXWait KVXAwait(xcb_connection_t* connection, unsigned int sequence,
                 KVX11Connection::Clock::time_point deadline, void** reply,
                 xcb_generic_error_t** error) {
    xcb_flush(connection);
    for (;;) {
        if (xcb_poll_for_reply(connection, sequence, reply, error) != 0) {
            if (*reply != nullptr) {
                return KVXWait::reply;
            }
            return *error != nullptr ? KVXWait::error : KVXWait::broken;
        }
        if (xcb_connection_has_error(connection) != 0) {
            return KVXWait::broken;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - KVX11Connection::Clock::now());
        if (left.count() <= 0) {
            return KVXWait::timedOut;
        }
        pollfd socket{xcb_get_file_descriptor(connection), POLLIN, 0};
        ::poll(&socket, 1, static_cast<int>(left.count()));
    }
}

KVXWait KVXSync(xcb_connection_t* connection, KVX11Connection::Clock::time_point deadline) {
    KVXWait outcome = KVXWait::broken;
    KVXReplyOf<xcb_get_input_focus_reply_t>(connection, xcb_get_input_focus(connection), deadline,
                                            &outcome);
    return outcome;
}

std::string KVXErrorName(int code) {
    static const char* const names[] = {
        "Success",   "BadRequest", "BadValue",    "BadWindow",   "BadPixmap", "BadAtom",
        "BadCursor", "BadFont",    "BadMatch",    "BadDrawable", "BadAccess", "BadAlloc",
        "BadColor",  "BadGC",      "BadIDChoice", "BadName",     "BadLength", "BadImplementation",
    };
    if (code >= 0 && code < static_cast<int>(sizeof names / sizeof names[0])) {
        return names[code];
    }
    return "X error " + std::to_string(code);
}
