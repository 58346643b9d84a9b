// Places a Qt window at a rectangle given in screen coordinates (pixels, bottom-left origin) on
// $DISPLAY, the way the overlay places its windows, and prints where the X server put it:
// "x y width height" in desktop pixels. Run by the tests under several QT_SCALE_FACTORs.
#include "platform/screens.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <xcb/xcb.h>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: qt_place_window X Y WIDTH HEIGHT\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const KVRect wanted{std::atof(argv[1]), std::atof(argv[2]), std::atof(argv[3]),
                        std::atof(argv[4])};
    QScreen* screen = QGuiApplication::primaryScreen();
    const double ratio = screen->devicePixelRatio();
    const double primaryHeight = screen->geometry().height() * ratio;
    const KVRect qt =
        KVScreenRectToQt(wanted, primaryHeight,
                         {double(screen->geometry().x()), double(screen->geometry().y()), ratio});

    QWindow window;
    window.setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    window.setGeometry(QRect(int(qt.x), int(qt.y), int(qt.width), int(qt.height)));
    window.show();
    while (!window.isExposed()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr);
    auto* origin =
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, id, root, 0, 0), nullptr);
    if (geometry == nullptr || origin == nullptr) {
        return 1;
    }
    std::printf("%d %d %d %d\n", origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    std::free(geometry);
    std::free(origin);
    return 0;
}
