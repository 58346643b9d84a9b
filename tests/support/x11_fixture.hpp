#pragma once

#include "platform/platform.hpp"

#include "support/test_environment.hpp"
#include "x11_harness/xvfb.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <poll.h>
#include <xcb/xcb.h>

// A private X server with the real X11 services pointed at it, for one test.
class X11Fixture : public ::testing::Test {
protected:
    void start(const KVXvfb::Options& options = {}) {
        xvfb_ = std::make_unique<KVXvfb>(options);
        ASSERT_FALSE(xvfb_->display().empty()) << xvfb_->failure();
        const std::string display = xvfb_->display();
        environment_ = std::make_unique<KVScopedEnvironment>(
            [&display](KVEnvironment& environment) { environment.display = display; });
        previous_ = KVPlatform::replace(KVPlatform::x11());
    }

    void TearDown() override {
        if (previous_) {
            KVPlatform::restore(previous_);
        }
    }

    const std::string& display() const { return xvfb_->display(); }

    // fake-arena on our display; fails the test unless it shows its window.
    std::unique_ptr<KVFakeArena> arena(const std::vector<std::string>& arguments) {
        auto fake = std::make_unique<KVFakeArena>(display(), arguments);
        EXPECT_NE(fake->window, 0u) << "fake-arena did not come up";
        return fake;
    }

    // Whether `done` comes to hold within 10 s, asked again whenever a property of the root
    // changes: how a window manager publishes the focus and its window list, after the fact.
    bool untilRootSays(const std::function<bool()>& done) {
        xcb_connection_t* c = xcb_connect(display().c_str(), nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool held = done();
        while (!held && std::chrono::steady_clock::now() < deadline) {
            pollfd in{xcb_get_file_descriptor(c), POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            ::poll(&in, 1, static_cast<int>(std::max<long long>(0, left.count())));
            while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
                std::free(event);
            }
            held = done();
        }
        xcb_disconnect(c);
        return held;
    }

    std::unique_ptr<KVXvfb> xvfb_;
    std::unique_ptr<KVScopedEnvironment> environment_;
    std::shared_ptr<const KVPlatform> previous_;
};
