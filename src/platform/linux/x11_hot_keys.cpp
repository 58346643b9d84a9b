#include "platform/linux/x11_hot_keys.hpp"

#include "base/log.hpp"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {

constexpr xcb_keysym_t kNumLock = 0xff7f;
constexpr xcb_keysym_t kScrollLock = 0xff14;

// The letters' keys on a US layout (evdev key codes), for layouts without the letter.
constexpr xcb_keycode_t kUsLetterKeys[26] = {38, 56, 54, 40, 26, 41, 42, 43, 31, 44, 45, 46, 58,
                                             57, 32, 33, 24, 27, 39, 28, 30, 55, 25, 53, 29, 52};

// The modifiers that matter to a chord: Shift, Control and Mod1 to Mod5.
constexpr uint16_t kModifierBits = 0xff;

struct Chord {
    uint32_t signature = 0;
    int id = 0;
    char letter = 0;
    uint32_t modifiers = 0;
    uint16_t mask = 0; // the X modifier mask
    std::vector<xcb_keycode_t> keycodes;
    bool down = false;
};

class X11HotKeys : public KVHotKeyService, public QAbstractNativeEventFilter {
public:
    X11HotKeys(xcb_connection_t* connection, xcb_window_t root);
    ~X11HotKeys() override;

    bool registerKey(uint32_t signature, int id, char letter, uint32_t modifiers) override;
    void unregisterKey(uint32_t signature, int id) override;
    void setHandler(Handler handler) override { handler_ = std::move(handler); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void readKeyboard();
    std::vector<uint16_t> lockCombinations() const;
    bool grab(Chord& chord);
    void ungrab(const Chord& chord);
    void remap();

    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_key_symbols_t* symbols_ = nullptr;
    uint16_t numLock_ = 0;
    uint16_t scrollLock_ = 0;
    uint8_t xkbEvent_ = 0; // the keyboard extension's event number, 0 without it
    std::vector<Chord> chords_;
    Handler handler_;
};

X11HotKeys::X11HotKeys(xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root) {
    const char name[] = "XKEYBOARD";
    auto* extension = xcb_query_extension_reply(
        connection_, xcb_query_extension(connection_, sizeof name - 1, name), nullptr);
    if (extension != nullptr && extension->present != 0) {
        xkbEvent_ = extension->first_event;
    }
    std::free(extension);
    readKeyboard();
    qApp->installNativeEventFilter(this);
}

X11HotKeys::~X11HotKeys() {
    if (qApp != nullptr) {
        qApp->removeNativeEventFilter(this);
    }
    for (const Chord& chord : chords_) {
        ungrab(chord);
    }
    xcb_flush(connection_);
    if (symbols_ != nullptr) {
        xcb_key_symbols_free(symbols_);
    }
}

void X11HotKeys::readKeyboard() {
    if (symbols_ != nullptr) {
        xcb_key_symbols_free(symbols_);
    }
    symbols_ = xcb_key_symbols_alloc(connection_);
    // Which modifier bits NumLock and ScrollLock set on this keyboard.
    numLock_ = 0;
    scrollLock_ = 0;
    auto* map =
        xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr);
    if (map == nullptr) {
        return;
    }
    const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(map);
    const int perModifier = map->keycodes_per_modifier;
    auto keysOf = [this](xcb_keysym_t symbol) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, symbol);
        std::vector<xcb_keycode_t> list;
        for (xcb_keycode_t* c = codes; c != nullptr && *c != XCB_NO_SYMBOL; ++c) {
            list.push_back(*c);
        }
        std::free(codes);
        return list;
    };
    const auto numLockKeys = keysOf(kNumLock);
    const auto scrollLockKeys = keysOf(kScrollLock);
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t key = keys[modifier * perModifier + i];
            if (key == 0) {
                continue;
            }
            const auto bit = static_cast<uint16_t>(1u << modifier);
            if (std::count(numLockKeys.begin(), numLockKeys.end(), key) != 0) {
                numLock_ = bit;
            }
            if (std::count(scrollLockKeys.begin(), scrollLockKeys.end(), key) != 0) {
                scrollLock_ = bit;
            }
        }
    }
    std::free(map);
}

// Every state of the lock keys a press may come with: the grab must hold in each.
std::vector<uint16_t> X11HotKeys::lockCombinations() const {
    std::vector<uint16_t> locks = {0};
    for (const uint16_t bit : {uint16_t(XCB_MOD_MASK_LOCK), numLock_, scrollLock_}) {
        if (bit == 0 || std::count(locks.begin(), locks.end(), bit) != 0) {
            continue;
        }
        const size_t count = locks.size();
        for (size_t i = 0; i < count; ++i) {
            locks.push_back(static_cast<uint16_t>(locks[i] | bit));
        }
    }
    return locks;
}

bool X11HotKeys::grab(Chord& chord) {
    const xcb_keysym_t symbol = static_cast<xcb_keysym_t>('a' + (chord.letter - 'A'));
    chord.keycodes.clear();
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, symbol);
    for (xcb_keycode_t* c = codes; c != nullptr && *c != XCB_NO_SYMBOL; ++c) {
        chord.keycodes.push_back(*c);
    }
    std::free(codes);
    if (chord.keycodes.empty()) {
        chord.keycodes.push_back(kUsLetterKeys[chord.letter - 'A']);
    }
    std::vector<xcb_void_cookie_t> cookies;
    for (const xcb_keycode_t key : chord.keycodes) {
        for (const uint16_t locks : lockCombinations()) {
            cookies.push_back(xcb_grab_key_checked(connection_, 1, root_, chord.mask | locks, key,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        }
    }
    bool refused = false;
    for (const xcb_void_cookie_t cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
            refused = true;
            std::free(error);
        }
    }
    if (refused) {
        ungrab(chord); // ours only: the other program's grab stays
        KVLog("hot key %s is taken by another program",
              KVHotKeyChordName(chord.letter, chord.modifiers).c_str());
    }
    return !refused;
}

void X11HotKeys::ungrab(const Chord& chord) {
    for (const xcb_keycode_t key : chord.keycodes) {
        for (const uint16_t locks : lockCombinations()) {
            xcb_ungrab_key(connection_, key, root_, chord.mask | locks);
        }
    }
}

bool X11HotKeys::registerKey(uint32_t signature, int id, char letter, uint32_t modifiers) {
    if (letter < 'A' || letter > 'Z') {
        return false;
    }
    unregisterKey(signature, id);
    Chord chord;
    chord.signature = signature;
    chord.id = id;
    chord.letter = letter;
    chord.modifiers = modifiers;
    chord.mask =
        static_cast<uint16_t>(((modifiers & kKVHotKeyControl) != 0 ? XCB_MOD_MASK_CONTROL : 0) |
                              ((modifiers & kKVHotKeyOption) != 0 ? XCB_MOD_MASK_1 : 0));
    if (!grab(chord)) {
        return false;
    }
    chords_.push_back(std::move(chord));
    return true;
}

void X11HotKeys::unregisterKey(uint32_t signature, int id) {
    auto it = std::find_if(chords_.begin(), chords_.end(), [&](const Chord& chord) {
        return chord.signature == signature && chord.id == id;
    });
    if (it != chords_.end()) {
        ungrab(*it);
        xcb_flush(connection_);
        chords_.erase(it);
    }
}

// The keyboard changed (another layout, keys moved): the letters may sit on other keys now.
void X11HotKeys::remap() {
    for (const Chord& chord : chords_) {
        ungrab(chord);
    }
    readKeyboard();
    for (Chord& chord : chords_) {
        grab(chord);
    }
    xcb_flush(connection_);
}

bool X11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_MAPPING_NOTIFY) {
        auto* mapping = const_cast<xcb_mapping_notify_event_t*>(
            reinterpret_cast<const xcb_mapping_notify_event_t*>(event));
        xcb_refresh_keyboard_mapping(symbols_, mapping);
        remap();
        return false;
    }
    // The keyboard extension's new-keyboard and map notifications (its event subtypes 0 and 1).
    if (xkbEvent_ != 0 && type == xkbEvent_) {
        const uint8_t subtype = reinterpret_cast<const uint8_t*>(event)[1];
        if (subtype == 0 || subtype == 1) {
            remap();
        }
        return false;
    }
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) {
        return false;
    }
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    const auto locks = static_cast<uint16_t>(XCB_MOD_MASK_LOCK | numLock_ | scrollLock_);
    const auto state = static_cast<uint16_t>(key->state & kModifierBits & ~locks);
    for (Chord& chord : chords_) {
        if (chord.mask != state ||
            std::count(chord.keycodes.begin(), chord.keycodes.end(), key->detail) == 0) {
            continue;
        }
        if (type == XCB_KEY_RELEASE) {
            chord.down = false;
        } else if (!chord.down) {
            chord.down = true; // a held key repeats its press: report the first only
            if (handler_) {
                handler_(chord.signature, chord.id);
            }
        }
        return true;
    }
    // A release comes with the chord's modifiers possibly let go first.
    if (type == XCB_KEY_RELEASE) {
        for (Chord& chord : chords_) {
            if (std::count(chord.keycodes.begin(), chord.keycodes.end(), key->detail) != 0) {
                chord.down = false;
            }
        }
    }
    return false;
}

} // namespace

std::shared_ptr<KVHotKeyService> KVMakeX11HotKeys() {
    auto* x11 =
        qApp != nullptr ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) {
        return nullptr;
    }
    xcb_connection_t* connection = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    return std::make_shared<X11HotKeys>(connection, screen->root);
}
