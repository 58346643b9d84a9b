#pragma once

#include "platform/hot_key_service.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

// The overlay's system-wide keys, reported to the controller as action numbers:
// 1 Ctrl+Alt+O and 2 Ctrl+Alt+H whenever running; 3, 4 and 5 Alt+letter (settings, draft
// data, screenshot; the user picks the letters) only while Arena is present. Main thread only.
class KVHotkeys {
public:
    using Handler = std::function<void(int action)>;

    static constexpr uint32_t kSignature = 0x4B6F7276; // "Korv"

    // Empty letters take the defaults "S", "D" and "P".
    KVHotkeys(std::shared_ptr<KVHotKeyService> service, std::string settingsKey,
              std::string draftKey, std::string screenshotKey);
    ~KVHotkeys();

    KVHotkeys(const KVHotkeys&) = delete;
    KVHotkeys& operator=(const KVHotkeys&) = delete;

    Handler handler; // set before start()

    void start();
    void stop();
    // Follows Arena: its keys come when it appears and go when it leaves. A key another
    // program held is tried again only then.
    void setArenaPresent(bool present);
    void registerArenaKeys();
    void registerAction(int action, std::string_view letter, uint32_t modifiers);
    void unregisterAction(int action);

    bool isRegistered(int action) const { return refs_.count(action) > 0; }

    // The one letter A-Z that `text` names, trimmed and upper-cased, or none.
    static std::optional<char> keyLetter(std::string_view text);

private:
    const std::shared_ptr<KVHotKeyService> service_;
    bool arenaKeysWanted_ = false;
    bool running_ = false;
    std::map<int, char> refs_; // action → its letter while registered
    std::string settingsKey_;
    std::string draftKey_;
    std::string screenshotKey_;
};
