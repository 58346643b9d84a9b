#include "platform/linux/x11_connection.hpp"
#include "platform/linux/x11_pixels.hpp"
#include "platform/linux/x11_platform.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <set>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <vector>
#include <xcb/composite.h>
#include <xcb/shm.h>

namespace {

using Clock = KVX11Connection::Clock;

class X11ScreenCapture : public KVScreenCapture {
public:
    ~X11ScreenCapture() override { release(); }

    std::optional<KVShareableContent> shareableContent(KVError* error) override;
    std::optional<KVWindowFrame> captureWindow(uint32_t windowId, KVError* error) override;
    std::optional<KVImage> captureRegion(const KVRect& region, KVError* error) override;
    void endWindowCapture() override;
    bool available() override;

private:
    xcb_connection_t* connect(KVError* error);
    void release();
    bool ensureSegment(xcb_connection_t* connection, size_t bytes, Clock::time_point deadline);
    // Reads a rectangle of `drawable` into `out` at (x, y); false with `failure` set.
    bool read(xcb_connection_t* connection, xcb_drawable_t drawable, int16_t sx, int16_t sy,
              uint16_t width, uint16_t height, KVImage& out, int x, int y,
              Clock::time_point deadline, std::string& failure, bool& timedOut);
    KVXPixelFormat formatOf(xcb_connection_t* connection, uint8_t depth) const;
    void fail(KVError* error, const std::string& message, bool timedOut);
    void forget(xcb_connection_t* connection, xcb_window_t window);

    KVX11Connection x_;
    std::shared_ptr<KVWindowList> windows_ = KVMakeX11WindowList();
    std::shared_ptr<KVScreens> screens_ = KVMakeX11Screens();
    xcb_connection_t* prepared_ = nullptr;
    bool composite_ = false;
    bool shm_ = false;
    int shmId_ = -1;
    uint8_t* shmAddress_ = nullptr;
    size_t shmSize_ = 0;
    xcb_shm_seg_t segment_ = 0;
    std::set<xcb_window_t> redirected_;
};

xcb_connection_t* X11ScreenCapture::connect(KVError* error) {
    xcb_connection_t* connection = x_.get(error);
    if (connection == nullptr || prepared_ == connection) {
        return connection;
    }
    release();
    const auto deadline = Clock::now() + KVX11Connection::kReplyBound;
    composite_ = false;
    const xcb_query_extension_reply_t* composite =
        xcb_get_extension_data(connection, &xcb_composite_id);
    if (composite != nullptr && composite->present != 0) {
        // Naming a window's pixmap came with version 0.2.
        auto version = KVXReplyOf<xcb_composite_query_version_reply_t>(
            connection, xcb_composite_query_version(connection, 0, 4), deadline);
        composite_ = version && (version->major_version > 0 || version->minor_version >= 2);
    }
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(connection, &xcb_shm_id);
    shm_ = shm != nullptr && shm->present != 0;
    prepared_ = connection;
    return connection;
}

void X11ScreenCapture::release() {
    if (shmAddress_ != nullptr) {
        shmdt(shmAddress_); // the server lets go of its side when the connection closes
    }
    shmAddress_ = nullptr;
    shmSize_ = 0;
    shmId_ = -1;
    segment_ = 0;
    redirected_.clear();
    prepared_ = nullptr;
}

void X11ScreenCapture::fail(KVError* error, const std::string& message, bool timedOut) {
    if (timedOut) {
        release();
        x_.drop();
        KVSetError(error, "KVScreenCapture", 3, "screenshot timed out");
        return;
    }
    KVSetError(error, "KVScreenCapture", 2, message);
}

// A window that failed to capture may be gone, and its id handed to a new window that we never
// redirected: let it go, so that the next capture starts afresh.
void X11ScreenCapture::forget(xcb_connection_t* connection, xcb_window_t window) {
    if (redirected_.erase(window) != 0) {
        const auto cookie = xcb_composite_unredirect_window_checked(
            connection, window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        xcb_discard_reply(connection, cookie.sequence); // BadWindow when it is gone: no matter
    }
}

bool X11ScreenCapture::ensureSegment(xcb_connection_t* connection, size_t bytes,
                                     Clock::time_point deadline) {
    if (shmAddress_ != nullptr && shmSize_ >= bytes) {
        return true;
    }
    if (shmAddress_ != nullptr) {
        xcb_shm_detach(connection, segment_);
        shmdt(shmAddress_);
        shmAddress_ = nullptr;
        shmSize_ = 0;
    }
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) {
        shm_ = false;
        return false;
    }
    void* address = shmat(id, nullptr, 0);
    if (address ==
        reinterpret_cast<void*>(-1)) { // NOLINT(performance-no-int-to-ptr): shmat's failure value
        shmctl(id, IPC_RMID, nullptr);
        shm_ = false;
        return false;
    }
    const xcb_shm_seg_t segment = xcb_generate_id(connection);
    const auto cookie = xcb_shm_attach_checked(connection, segment, static_cast<uint32_t>(id), 0);
    const KVXWait wait = KVXSync(connection, deadline);
    xcb_generic_error_t* error =
        wait == KVXWait::reply ? xcb_request_check(connection, cookie) : nullptr;
    // Both sides hold it now (or never will): it goes away with the last of them.
    shmctl(id, IPC_RMID, nullptr);
    if (wait != KVXWait::reply || error != nullptr) {
        std::free(error);
        shmdt(address);
        shm_ = false; // a server on another machine, say: plain requests from now on
        return false;
    }
    shmId_ = id;
    shmAddress_ = static_cast<uint8_t*>(address);
    shmSize_ = bytes;
    segment_ = segment;
    return true;
}

KVXPixelFormat X11ScreenCapture::formatOf(xcb_connection_t* connection, uint8_t depth) const {
    KVXPixelFormat format;
    format.depth = depth;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    format.mostSignificantFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->depth == depth) {
            format.bitsPerPixel = it.data->bits_per_pixel;
        }
    }
    for (auto d = xcb_screen_allowed_depths_iterator(x_.screen()); d.rem > 0; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == x_.screen()->root_visual) {
                format.redMask = v.data->red_mask;
                format.greenMask = v.data->green_mask;
                format.blueMask = v.data->blue_mask;
            }
        }
    }
    return format;
}

bool X11ScreenCapture::read(xcb_connection_t* connection, xcb_drawable_t drawable, int16_t sx,
                            int16_t sy, uint16_t width, uint16_t height, KVImage& out, int x, int y,
                            Clock::time_point deadline, std::string& failure, bool& timedOut) {
    const size_t bytes = static_cast<size_t>(width) * height * 4;
    KVXWait wait = KVXWait::reply;
    int code = 0;
    if (shm_ && ensureSegment(connection, bytes, deadline)) {
        auto reply = KVXReplyOf<xcb_shm_get_image_reply_t>(
            connection,
            xcb_shm_get_image(connection, drawable, sx, sy, width, height, ~0u,
                              XCB_IMAGE_FORMAT_Z_PIXMAP, segment_, 0),
            deadline, &wait, &code);
        if (reply) {
            return KVXPixelsToRGBA(shmAddress_, width, height, static_cast<size_t>(width) * 4,
                                   formatOf(connection, reply->depth), out, x, y, &failure);
        }
    } else {
        auto reply =
            KVXReplyOf<xcb_get_image_reply_t>(connection,
                                              xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                                            drawable, sx, sy, width, height, ~0u),
                                              deadline, &wait, &code);
        if (reply) {
            const size_t length = static_cast<size_t>(xcb_get_image_data_length(reply.get()));
            const size_t stride = height > 0 ? length / height : 0;
            return KVXPixelsToRGBA(xcb_get_image_data(reply.get()), width, height, stride,
                                   formatOf(connection, reply->depth), out, x, y, &failure);
        }
    }
    timedOut = wait == KVXWait::timedOut || wait == KVXWait::broken;
    failure = "reading the pixels failed: " + KVXErrorName(code);
    return false;
}

std::optional<KVShareableContent> X11ScreenCapture::shareableContent(KVError* error) {
    auto snapshot = windows_->snapshot(error);
    if (!snapshot) {
        return std::nullopt;
    }
    KVShareableContent content;
    for (const KVWindowInfo& window : snapshot->windows) {
        content.windows.push_back({window.id, window.bounds});
    }
    for (const KVMonitor& monitor : screens_->monitors()) {
        content.displays.push_back(monitor.frame);
    }
    return content;
}

std::optional<KVWindowFrame> X11ScreenCapture::captureWindow(uint32_t windowId, KVError* error) {
    xcb_connection_t* connection = connect(error);
    if (connection == nullptr) {
        return std::nullopt;
    }
    if (!composite_) {
        KVSetError(error, "KVScreenCapture", 2,
                   "the X server cannot capture windows (no Composite)");
        return std::nullopt;
    }
    const auto deadline = Clock::now() + KVX11Connection::kReplyBound;
    char what[64];
    std::snprintf(what, sizeof what, "capturing window 0x%" PRIx32 " failed: ", windowId);

    auto geometryCookie = xcb_get_geometry(connection, windowId);
    auto originCookie = xcb_translate_coordinates(connection, windowId, x_.root(), 0, 0);
    KVXWait wait = KVXWait::reply;
    int code = 0;
    auto geometry =
        KVXReplyOf<xcb_get_geometry_reply_t>(connection, geometryCookie, deadline, &wait, &code);
    auto origin = KVXReplyOf<xcb_translate_coordinates_reply_t>(connection, originCookie, deadline,
                                                                &wait, &code);
    if (!geometry || !origin) {
        forget(connection, windowId);
        fail(error, what + KVXErrorName(code),
             wait == KVXWait::timedOut || wait == KVXWait::broken);
        return std::nullopt;
    }

    // Compositors redirect only the frames around windows, and an unredirected window has no
    // pixmap of its own: we redirect the game's window ourselves, until vision idles.
    xcb_void_cookie_t redirect{};
    const bool redirecting = redirected_.count(windowId) == 0;
    if (redirecting) {
        redirect = xcb_composite_redirect_window_checked(connection, windowId,
                                                         XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    }
    const xcb_pixmap_t pixmap = xcb_generate_id(connection);
    const auto named = xcb_composite_name_window_pixmap_checked(connection, windowId, pixmap);
    wait = KVXSync(connection, deadline);
    if (wait != KVXWait::reply) {
        fail(error, "", true);
        return std::nullopt;
    }
    xcb_generic_error_t* redirectError =
        redirecting ? xcb_request_check(connection, redirect) : nullptr;
    xcb_generic_error_t* nameError = xcb_request_check(connection, named);
    if (redirecting && redirectError == nullptr) {
        redirected_.insert(windowId);
    }
    if (redirectError != nullptr || nameError != nullptr) {
        code = (redirectError != nullptr ? redirectError : nameError)->error_code;
        std::free(redirectError);
        std::free(nameError);
        if (nameError == nullptr) {
            xcb_free_pixmap(connection, pixmap);
        }
        forget(connection, windowId);
        fail(error, what + KVXErrorName(code), false);
        return std::nullopt;
    }

    KVWindowFrame result;
    result.frame = {static_cast<double>(origin->dst_x), static_cast<double>(origin->dst_y),
                    static_cast<double>(geometry->width), static_cast<double>(geometry->height)};
    result.image = KVImage::blank(geometry->width, geometry->height);
    std::string failure;
    bool timedOut = false;
    const bool ok = read(connection, pixmap, 0, 0, geometry->width, geometry->height, result.image,
                         0, 0, deadline, failure, timedOut);
    if (!timedOut) {
        xcb_free_pixmap(connection, pixmap);
        xcb_flush(connection);
    }
    if (!ok) {
        if (!timedOut) {
            forget(connection, windowId);
        }
        fail(error, what + failure, timedOut);
        return std::nullopt;
    }
    return result;
}

std::optional<KVImage> X11ScreenCapture::captureRegion(const KVRect& region, KVError* error) {
    xcb_connection_t* connection = connect(error);
    if (connection == nullptr) {
        return std::nullopt;
    }
    const double w = std::clamp(region.width, 0.0, 32767.0);
    const double h = std::clamp(region.height, 0.0, 32767.0);
    KVImage image = KVImage::blank(static_cast<int>(w), static_cast<int>(h));
    if (image.empty()) {
        KVSetError(error, "KVScreenCapture", 2, "the region to capture is empty");
        return std::nullopt;
    }
    for (size_t i = 3; i < image.rgba.size(); i += 4) {
        image.rgba[i] = 255; // opaque black wherever no display is
    }
    // The part of the region on the root window, in whole pixels.
    const double left = std::max(region.x, 0.0);
    const double top = std::max(region.y, 0.0);
    const double right = std::min(region.x + image.width, double(x_.screen()->width_in_pixels));
    const double bottom = std::min(region.y + image.height, double(x_.screen()->height_in_pixels));
    if (right <= left || bottom <= top) {
        return image;
    }
    const auto sx = static_cast<int16_t>(left);
    const auto sy = static_cast<int16_t>(top);
    const auto width = static_cast<uint16_t>(right - sx);
    const auto height = static_cast<uint16_t>(bottom - sy);
    std::string failure;
    bool timedOut = false;
    const auto deadline = Clock::now() + KVX11Connection::kReplyBound;
    if (!read(connection, x_.root(), sx, sy, width, height, image,
              static_cast<int>(sx - static_cast<int>(region.x)),
              static_cast<int>(sy - static_cast<int>(region.y)), deadline, failure, timedOut)) {
        fail(error, "capturing the screen failed: " + failure, timedOut);
        return std::nullopt;
    }
    return image;
}

void X11ScreenCapture::endWindowCapture() {
    if (redirected_.empty() || prepared_ == nullptr) {
        return;
    }
    xcb_connection_t* connection = x_.get(nullptr);
    if (connection != nullptr && connection == prepared_) {
        // A window closed since is no error worth reporting: the checked form keeps its error
        // off the event queue, and one bounded round trip settles them all.
        std::vector<xcb_void_cookie_t> cookies;
        for (const xcb_window_t window : redirected_) {
            cookies.push_back(xcb_composite_unredirect_window_checked(
                connection, window, XCB_COMPOSITE_REDIRECT_AUTOMATIC));
        }
        if (KVXSync(connection, Clock::now() + KVX11Connection::kReplyBound) == KVXWait::reply) {
            for (const xcb_void_cookie_t cookie : cookies) {
                std::free(xcb_request_check(connection, cookie));
            }
        } else {
            release();
            x_.drop();
        }
    }
    redirected_.clear();
}

bool X11ScreenCapture::available() {
    return connect(nullptr) != nullptr && composite_;
}

} // namespace

std::shared_ptr<KVScreenCapture> KVMakeX11ScreenCapture() {
    return std::make_shared<X11ScreenCapture>();
}
