#include "base/files.hpp"
#include "base/log.hpp"
#include "platform/linux/x11_hot_keys.hpp"

#include "support/test_environment.hpp"
#include "x11_harness/fake_input.hpp"
#include "x11_harness/xvfb.hpp"

#include <gtest/gtest.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {

constexpr uint32_t kSignature = 0x4b6f7276; // "Korv"
constexpr uint32_t kControlOption = kKVHotKeyControl | kKVHotKeyOption;
constexpr xcb_keysym_t kControlL = 0xffe3;
constexpr xcb_keysym_t kAltL = 0xffe9;
constexpr xcb_keysym_t kNumLock = 0xff7f;

// One X server and one Qt application for the whole suite: Qt binds to a display for life.
class HotKeysIntegrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new KVXvfb();
        ::setenv("DISPLAY", server->display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "platform_tests";
        static char* argv[] = {name, nullptr};
        app = new QGuiApplication(argc, argv);
    }

    static void TearDownTestSuite() {
        delete app;
        delete server;
    }

    void SetUp() override {
        ASSERT_FALSE(server->display().empty()) << server->failure();
        hotKeys = KVMakeX11HotKeys();
        ASSERT_NE(hotKeys, nullptr);
        hotKeys->setHandler([this](uint32_t signature, int id) {
            EXPECT_EQ(signature, kSignature);
            reports.push_back(id);
        });
        x = xcb_connect(server->display().c_str(), nullptr);
        root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
        input = std::make_unique<KVFakeInput>(x, root);
    }

    void TearDown() override {
        hotKeys.reset();
        input.reset();
        xcb_disconnect(x);
    }

    // Control+Alt held around `keys` pressed in turn.
    void chord(const std::vector<xcb_keycode_t>& keys) {
        input->send(XCB_KEY_PRESS, input->keyOf(kControlL));
        input->send(XCB_KEY_PRESS, input->keyOf(kAltL));
        for (const xcb_keycode_t key : keys) {
            input->send(XCB_KEY_PRESS, key);
            input->send(XCB_KEY_RELEASE, key);
        }
        input->send(XCB_KEY_RELEASE, input->keyOf(kAltL));
        input->send(XCB_KEY_RELEASE, input->keyOf(kControlL));
        input->sync();
    }

    static bool runUntil(const std::function<bool()>& done) {
        return KVEventually([&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return done();
        });
    }

    // Whether another client could take the chord now (false: someone holds it).
    bool freeElsewhere(xcb_keycode_t key, uint16_t mask) {
        xcb_generic_error_t* error =
            xcb_request_check(x, xcb_grab_key_checked(x, 1, root, mask, key, XCB_GRAB_MODE_ASYNC,
                                                      XCB_GRAB_MODE_ASYNC));
        const bool free = error == nullptr;
        std::free(error);
        if (free) {
            xcb_ungrab_key(x, key, root, mask);
            xcb_flush(x);
        }
        return free;
    }

    static inline KVXvfb* server = nullptr;
    static inline QGuiApplication* app = nullptr;
    std::shared_ptr<KVHotKeyService> hotKeys;
    std::vector<int> reports;
    xcb_connection_t* x = nullptr;
    xcb_window_t root = 0;
    std::unique_ptr<KVFakeInput> input;
};

TEST_F(HotKeysIntegrationTest, AChordReportsOncePerPressWhateverTheLocks) {
    ASSERT_TRUE(hotKeys->registerKey(kSignature, 1, 'O', kControlOption));
    ASSERT_TRUE(hotKeys->registerKey(kSignature, 2, 'H', kControlOption));
    const xcb_keycode_t o = input->keyOf('o');
    const xcb_keycode_t h = input->keyOf('h');

    // O, then H: H's report shows every earlier event was seen.
    chord({o, h});
    ASSERT_TRUE(runUntil([&] { return reports.size() >= 2; }));
    EXPECT_EQ(reports, (std::vector<int>{1, 2}));

    // NumLock on: the same chord still arrives.
    input->tap(input->keyOf(kNumLock));
    chord({o});
    EXPECT_TRUE(runUntil([&] { return reports.size() >= 3; }));
    input->tap(input->keyOf(kNumLock));
    EXPECT_EQ(reports.back(), 1);

    // Unregistered, the chord is free for others again.
    EXPECT_FALSE(freeElsewhere(o, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
    hotKeys->unregisterKey(kSignature, 1);
    EXPECT_TRUE(freeElsewhere(o, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
}

TEST_F(HotKeysIntegrationTest, AHeldKeyReportsOnce) {
    ASSERT_TRUE(hotKeys->registerKey(kSignature, 4, 'D', kKVHotKeyOption));
    // The server's own repeats come as presses without releases between them; they are
    // handed to the filter as the server would send them.
    auto* filter = dynamic_cast<QAbstractNativeEventFilter*>(hotKeys.get());
    ASSERT_NE(filter, nullptr);
    auto send = [&](uint8_t type, uint16_t state) {
        xcb_key_press_event_t event{};
        event.response_type = type;
        event.detail = input->keyOf('d');
        event.state = state;
        return filter->nativeEventFilter("xcb_generic_event_t", &event, nullptr);
    };
    const uint16_t alt = XCB_MOD_MASK_1;
    EXPECT_TRUE(send(XCB_KEY_PRESS, alt));
    EXPECT_TRUE(send(XCB_KEY_PRESS, alt));
    EXPECT_TRUE(send(XCB_KEY_PRESS, alt | XCB_MOD_MASK_LOCK));
    EXPECT_EQ(reports, (std::vector<int>{4}));
    send(XCB_KEY_RELEASE, 0); // Alt let go first
    EXPECT_TRUE(send(XCB_KEY_PRESS, alt));
    EXPECT_EQ(reports, (std::vector<int>{4, 4}));
    EXPECT_FALSE(send(XCB_KEY_PRESS, alt | XCB_MOD_MASK_SHIFT)); // another chord: not ours
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(HotKeysIntegrationTest, AChordHeldElsewhereIsRefusedAndLogged) {
    KVScopedEnvironment environment; // the log goes to a fresh home
    const xcb_keycode_t p = input->keyOf('p');
    const uint16_t mask = XCB_MOD_MASK_1;
    ASSERT_TRUE(freeElsewhere(p, mask));
    xcb_grab_key(x, 1, root, mask, p, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));

    EXPECT_FALSE(hotKeys->registerKey(kSignature, 5, 'P', kKVHotKeyOption));
    EXPECT_TRUE(hotKeys->registerKey(kSignature, 3, 'S', kKVHotKeyOption));
    KVLogFlush();
    const std::string log = KVReadFile(KVLogPath()).value_or("");
    EXPECT_NE(log.find("hot key Alt+P is taken by another program"), std::string::npos) << log;
    // What we grabbed for the refused chord under the lock states was given back.
    xcb_ungrab_key(x, p, root, mask);
    EXPECT_TRUE(freeElsewhere(p, mask | XCB_MOD_MASK_LOCK));
}

TEST_F(HotKeysIntegrationTest, AChordFollowsItsLetterToAnotherKey) {
    ASSERT_TRUE(hotKeys->registerKey(kSignature, 1, 'O', kControlOption));
    const xcb_keycode_t old = input->keyOf('o');
    const xcb_keycode_t moved = 250;
    auto* mapping = xcb_get_keyboard_mapping_reply(x, xcb_get_keyboard_mapping(x, old, 1), nullptr);
    ASSERT_NE(mapping, nullptr);
    const uint8_t perKey = mapping->keysyms_per_keycode;
    std::free(mapping);
    std::vector<xcb_keysym_t> none(perKey, 0);
    std::vector<xcb_keysym_t> letter(perKey, 0);
    letter[0] = 'o';
    xcb_change_keyboard_mapping(x, 1, old, perKey, none.data());
    xcb_change_keyboard_mapping(x, 1, moved, perKey, letter.data());
    std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));

    const uint16_t mask = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    ASSERT_TRUE(runUntil([&] { return !freeElsewhere(moved, mask); }));
    chord({moved});
    EXPECT_TRUE(runUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(reports, (std::vector<int>{1}));
    EXPECT_TRUE(freeElsewhere(old, mask)); // the old key is let go
}

} // namespace
