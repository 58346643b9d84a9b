#include "app/hotkeys.hpp"

#include "base/ascii.hpp"
#include "base/log.hpp"
#include "base/utf8.hpp"

#include <set>
#include <vector>

namespace {

std::string orDefault(std::string letter, const char* fallback) {
    return letter.empty() ? fallback : letter;
}

} // namespace

KVHotkeys::KVHotkeys(std::shared_ptr<KVHotKeyService> service, std::string settingsKey,
                     std::string draftKey, std::string screenshotKey)
    : service_(std::move(service)), settingsKey_(orDefault(std::move(settingsKey), "S")),
      draftKey_(orDefault(std::move(draftKey), "D")),
      screenshotKey_(orDefault(std::move(screenshotKey), "P")) {}

KVHotkeys::~KVHotkeys() {
    stop();
}

std::optional<char> KVHotkeys::keyLetter(std::string_view text) {
    const std::string_view trimmed = KVTrimmed(text);
    if (trimmed.size() != 1 || !KVIsAsciiAlpha(trimmed[0])) {
        return std::nullopt;
    }
    return KVAsciiUpper(trimmed[0]);
}

void KVHotkeys::registerAction(int action, std::string_view letter, uint32_t modifiers) {
    const auto key = keyLetter(letter);
    if (!service_ || isRegistered(action) || !key) {
        return;
    }
    if (service_->registerKey(kSignature, action, *key, modifiers)) {
        refs_[action] = *key;
    }
}

void KVHotkeys::unregisterAction(int action) {
    if (refs_.erase(action) > 0 && service_) {
        service_->unregisterKey(kSignature, action);
    }
}

void KVHotkeys::start() {
    if (running_ || !service_) {
        return;
    }
    running_ = true;
    service_->setHandler([this](uint32_t signature, int action) {
        if (signature == kSignature && handler) {
            handler(action);
        }
    });
    registerAction(1, "O", kKVHotKeyControl | kKVHotKeyOption);
    registerAction(2, "H", kKVHotKeyControl | kKVHotKeyOption);
    if (arenaKeysWanted_) {
        registerArenaKeys();
    }
}

void KVHotkeys::registerArenaKeys() {
    // Two actions never share a key: a taken letter falls back to the row's default, and a
    // taken default leaves the later action without a key.
    const struct {
        int action;
        const std::string& chosen;
        const char* fallback;
    } rows[] = {{3, settingsKey_, "S"}, {4, draftKey_, "D"}, {5, screenshotKey_, "P"}};
    std::set<char> taken;
    for (const auto& row : rows) {
        std::optional<char> letter = keyLetter(row.chosen);
        if (!letter || taken.count(*letter) > 0) {
            letter = row.fallback[0];
        }
        if (taken.insert(*letter).second) {
            registerAction(row.action, std::string(1, *letter), kKVHotKeyOption);
        }
    }
}

void KVHotkeys::setArenaPresent(bool present) {
    if (present == arenaKeysWanted_) {
        return;
    }
    arenaKeysWanted_ = present;
    if (!running_) {
        return;
    }
    if (present) {
        registerArenaKeys();
    } else {
        for (const int action : {3, 4, 5}) {
            unregisterAction(action);
        }
    }
}

void KVHotkeys::stop() {
    if (!running_) {
        return;
    }
    std::vector<int> actions;
    for (const auto& [action, letter] : refs_) {
        actions.push_back(action);
    }
    for (const int action : actions) {
        unregisterAction(action);
    }
    service_->setHandler({});
    running_ = false;
}
