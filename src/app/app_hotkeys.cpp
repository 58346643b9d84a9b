#include "app/app.hpp"

#include "app/hotkeys.hpp"
#include "app/watchdog.hpp"
#include "base/dispatch/queue.hpp"
#include "ui/login.hpp"
#include "ui/panel.hpp"

void KVApp::startWatchdog() {
    if (watchdog) {
        return;
    }
    KVWatchdog::Sources sources = KVWatchdog::systemSources();
    if (services_.residentBytes) {
        sources.residentBytes = services_.residentBytes;
    }
    // At the ceiling the program quits the ordinary way, so termination still runs.
    watchdog = KVStartWatchdog(
        KVJsonDouble(KVJsonAt(cfg, "memory_limit_gb"), 8.0),
        [main = services_.main, weak = weak()] {
            main->async([weak] {
                if (auto self = weak.lock(); self && !self->shutDown) {
                    self->services_.quit();
                }
            });
        },
        std::move(sources));
}

void KVApp::startHotkeys() {
    if (hotkeys) {
        return;
    }
    // The letters are read once: a change in the settings window counts from the next start.
    hotkeys = std::make_unique<KVHotkeys>(services_.platform()->hotKeys,
                                          KVJsonString(KVJsonAt(cfg, "key_settings"), "S"),
                                          KVJsonString(KVJsonAt(cfg, "key_draft_data"), "D"),
                                          KVJsonString(KVJsonAt(cfg, "key_screenshot"), "P"));
    hotkeys->handler = [weak = weak(), main = services_.main](int action) {
        main->async([weak, action] {
            if (auto self = weak.lock(); self && !self->shutDown) {
                self->hotkeyAction(action);
            }
        });
    };
    hotkeys->start();
}

void KVApp::hotkeyAction(int action) {
    switch (action) {
    case 1:
        setClickThrough(!KVJsonBool(KVJsonAt(cfg, "click_through"), false));
        break;
    case 2:
        // Signed out, a panel would only offer to hide a session that does not exist.
        if (!active) {
            if (login) {
                login->show();
            }
        } else if (panel->isVisible()) {
            hideToTray();
        } else {
            showFromTray();
        }
        break;
    case 3:
        toggleSettings();
        break;
    case 4:
        panel->cycleView();
        break;
    case 5:
        allowScreenshot();
        break;
    default:
        break;
    }
}
