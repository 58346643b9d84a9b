#pragma once

#include <QImage>
#include <QRect>

#include <string>

// A private X connection for the pictures of live windows: the root's pixels, windows' frames
// and whether a compositing manager has taken its selection.
class X11Shot {
public:
    explicit X11Shot(const std::string& display);
    ~X11Shot();
    X11Shot(const X11Shot&) = delete;
    X11Shot& operator=(const X11Shot&) = delete;

    bool connected() const;
    QImage root();
    // The window's frame on the root; empty when it is gone.
    QRect frame(unsigned window);
    bool compositing();
    // The root's picture once it stops changing (two equal pictures 250 ms apart, at most
    // `seconds`), after it first differs from `before` when that is given.
    QImage settled(const QImage& before, double seconds = 10);

private:
    struct Connection;
    Connection* c_;
};
