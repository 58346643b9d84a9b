#include "platform/fake/fake_platform.hpp"

std::optional<KVWindowSnapshot> KVFakeWindowList::snapshot(KVError* error) {
    ++snapshots;
    if (!next) {
        KVSetError(error, "KVWindowList", 1, failure);
    }
    return next;
}

std::optional<KVShareableContent> KVFakeScreenCapture::shareableContent(KVError* error) {
    ++contentQueries;
    if (!content) {
        KVSetError(error, "KVScreenCapture", 1, contentFailure);
    }
    return content;
}

std::optional<KVWindowFrame> KVFakeScreenCapture::captureWindow(uint32_t windowId, KVError* error) {
    capturedWindows.push_back(windowId);
    const auto found = windowFrames.find(windowId);
    if (found == windowFrames.end()) {
        KVSetError(error, "KVScreenCapture", 2, captureFailure);
        return std::nullopt;
    }
    return found->second;
}

std::optional<KVImage> KVFakeScreenCapture::captureRegion(const KVRect& region, KVError* error) {
    capturedRegions.push_back(region);
    if (!regionImage) {
        KVSetError(error, "KVScreenCapture", 2, captureFailure);
    }
    return regionImage;
}

bool KVFakeLauncher::launch(const std::vector<std::string>& argv,
                            const std::vector<std::pair<std::string, std::string>>& environment) {
    if (succeeds) {
        launches.push_back({argv, environment});
    }
    return succeeds;
}

bool KVFakeLauncher::openUrl(const std::string& url) {
    if (succeeds) {
        urls.push_back(url);
    }
    return succeeds;
}

bool KVFakeHotKeys::registerKey(uint32_t signature, int id, char letter, uint32_t modifiers) {
    if (letter < 'A' || letter > 'Z' || takenElsewhere.count({letter, modifiers}) != 0) {
        return false;
    }
    registered[{signature, id}] = {letter, modifiers};
    return true;
}

void KVFakeHotKeys::unregisterKey(uint32_t signature, int id) {
    registered.erase({signature, id});
}

bool KVFakeHotKeys::press(char letter, uint32_t modifiers) {
    for (const auto& [key, chord] : registered) {
        if (chord.letter == letter && chord.modifiers == modifiers) {
            if (handler_) {
                handler_(key.first, key.second);
            }
            return true;
        }
    }
    return false;
}

void KVFakeDesktopShell::showTray(Tray item) {
    tray = std::move(item);
    ++traysShown;
}

void KVFakeDesktopShell::notify(const std::string& title, const std::string& text) {
    notes.push_back({title, text});
}

int KVFakeDesktopShell::alert(const std::string& title, const std::string& text,
                              const std::vector<std::string>& buttons) {
    alerts.push_back({title, text, buttons});
    const size_t asked = alerts.size() - 1;
    return asked < answers.size() ? answers[asked] : -1;
}

void KVFakeDesktopShell::showProgress(const std::string& title, const std::string& label,
                                      std::optional<double> fraction) {
    progressSteps.push_back({title, label, fraction});
    progressLabel = label;
    progressFraction = fraction;
    progressShown = true;
}

bool KVFakeDesktopShell::choose(const std::string& title) {
    if (!tray) {
        return false;
    }
    for (const auto& item : tray->menu) {
        if (item.title == title && item.action) {
            // The action may replace the tray (sign-out removes it): run a copy.
            const auto action = item.action;
            action();
            return true;
        }
    }
    return false;
}
