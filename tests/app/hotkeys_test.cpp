#include "app/hotkeys.hpp"

#include "platform/fake/fake_platform.hpp"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kAlt = kKVHotKeyOption;
constexpr uint32_t kCtrlAlt = kKVHotKeyControl | kKVHotKeyOption;

// Action → letter of what the fake desktop holds for us.
std::map<int, char> held(const KVFakeHotKeys& keys) {
    std::map<int, char> out;
    for (const auto& [key, chord] : keys.registered) {
        EXPECT_EQ(key.first, KVHotkeys::kSignature);
        EXPECT_EQ(chord.modifiers, key.second <= 2 ? kCtrlAlt : kAlt) << key.second;
        out[key.second] = chord.letter;
    }
    return out;
}

TEST(Hotkeys, ArenaLettersAreReadOnceAndNeverShared) {
    const struct {
        const char* settings;
        const char* draft;
        const char* screenshot;
        std::map<int, char> keys; // the Ctrl+Alt ones, 1 and 2, never change
    } cases[] = {
        {"", "", "", {{1, 'O'}, {2, 'H'}, {3, 'S'}, {4, 'D'}, {5, 'P'}}},
        {" s ", "d", "p", {{1, 'O'}, {2, 'H'}, {3, 'S'}, {4, 'D'}, {5, 'P'}}},
        // A duplicate takes its default.
        {"S", "S", "", {{1, 'O'}, {2, 'H'}, {3, 'S'}, {4, 'D'}, {5, 'P'}}},
        {"1", "é", "PP", {{1, 'O'}, {2, 'H'}, {3, 'S'}, {4, 'D'}, {5, 'P'}}},
        {"K", "D", "D", {{1, 'O'}, {2, 'H'}, {3, 'K'}, {4, 'D'}, {5, 'P'}}},
        // The draft key's default is taken too: no key.
        {"D", "D", "", {{1, 'O'}, {2, 'H'}, {3, 'D'}, {5, 'P'}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.settings) + "/" + c.draft + "/" + c.screenshot);
        auto keys = std::make_shared<KVFakeHotKeys>();
        KVHotkeys hotkeys(keys, c.settings, c.draft, c.screenshot);
        hotkeys.setArenaPresent(true);
        hotkeys.start();
        EXPECT_EQ(held(*keys), c.keys);
    }
}

TEST(Hotkeys, ArenaKeysFollowItsPresenceAndARefusedKeyWaitsForTheNextChange) {
    auto keys = std::make_shared<KVFakeHotKeys>();
    keys->takenElsewhere.insert({'S', kAlt});
    KVHotkeys hotkeys(keys, "", "", "");
    std::vector<int> actions;
    hotkeys.handler = [&](int action) { actions.push_back(action); };
    hotkeys.start();
    hotkeys.start(); // one handler, one set of keys
    EXPECT_EQ(held(*keys), (std::map<int, char>{{1, 'O'}, {2, 'H'}}));

    hotkeys.setArenaPresent(true);
    EXPECT_EQ(held(*keys), (std::map<int, char>{{1, 'O'}, {2, 'H'}, {4, 'D'}, {5, 'P'}}));
    keys->takenElsewhere.clear();
    hotkeys.setArenaPresent(true); // no change: the refused key is not retried
    EXPECT_FALSE(hotkeys.isRegistered(3));
    EXPECT_TRUE(keys->press('D', kAlt));
    EXPECT_TRUE(keys->press('H', kCtrlAlt));

    hotkeys.setArenaPresent(false); // Arena quits: only the Alt keys go
    EXPECT_EQ(held(*keys), (std::map<int, char>{{1, 'O'}, {2, 'H'}}));
    EXPECT_FALSE(keys->press('D', kAlt));
    hotkeys.setArenaPresent(true);
    EXPECT_TRUE(hotkeys.isRegistered(3));
    EXPECT_TRUE(keys->press('S', kAlt));
    EXPECT_EQ(actions, (std::vector<int>{4, 2, 3}));

    hotkeys.stop();
    EXPECT_TRUE(keys->registered.empty());
    EXPECT_FALSE(keys->press('H', kCtrlAlt));
}

} // namespace
