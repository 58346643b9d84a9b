#include "app/app.hpp"

#include "base/config.hpp"
#include "base/environment.hpp"
#include "base/platform_texts.hpp"
#include "draft/draft_session.hpp"
#include "platform/app_icon.hpp"
#include "ui/panel.hpp"
#include "ui/settings.hpp"
#include "ui/stamps.hpp"
#include "vision/capture.hpp"

#include <cmath>

void KVApp::ensureTray() {
    const auto shell = services_.platform()->shell;
    if (!shell || shell->trayShown()) {
        return;
    }
    KVDesktopShell::Tray tray;
    tray.toolTip = "Korvane";
    tray.iconFiles = KVAppIconFiles(KVEnvironment::current()->executablePath);
    tray.iconTitle = "\u25C6";
    tray.menu = {
        {"Show Korvane", bound(&KVApp::showFromTray), ""},
        {"Launch MTG Arena", bound(&KVApp::launchArenaFromMenu), ""},
        {"", {}, ""},
        {"Sign out", bound(&KVApp::signOutFromMenu), ""},
        {"Quit Korvane",
         [weak = weak()] {
             if (auto self = weak.lock()) {
                 self->services_.quit();
             }
         },
         "q"},
    };
    tray.onActivated = bound(&KVApp::showFromTray);
    shell->showTray(std::move(tray));
}

void KVApp::teardownTray() {
    if (const auto shell = services_.platform()->shell) {
        shell->removeTray();
    }
}

void KVApp::showFromTray() {
    panelWanted = true;
    forcedVisible = true;
    panel->setAlwaysOnTop(false);
    panel->show();
}

void KVApp::launchArenaFromMenu() {
    launchArena();
}

void KVApp::signOutFromMenu() {
    logout();
}

void KVApp::hideToTray() {
    panelWanted = false;
    forcedVisible = false;
    panel->hide();
    stamps->hide();
    if (trayHintShown) {
        return;
    }
    trayHintShown = true;
    if (const auto shell = services_.platform()->shell) {
        const bool tray = shell->trayAvailable() && shell->trayShown();
        shell->notify(
            "Korvane is still running",
            std::string(tray ? KVPlatformTexts::kTrayHint : KVPlatformTexts::kTrayHintNoTray));
    }
}

void KVApp::toggleSettings() {
    if (settingsOpen) {
        closeSettings();
        return;
    }
    settingsOpen = true;
    settings->setSealed(session->format == "Sealed" || session->format == "TradSealed");
    if (session->accountEmail && !session->accountEmail->empty()) {
        settings->setAccount(*session->accountEmail, session->credits);
    }
    settings->showOver(arena ? KVCapture::cocoaRectFromQuartz(arena->bounds) : KVRect{},
                       arena.has_value());
}

void KVApp::closeSettings() {
    settingsOpen = false;
    settings->hide();
}

void KVApp::setClickThrough(bool flag) {
    cfg["click_through"] = flag;
    panel->setClickThrough(flag);
    settings->setOpacityPercent(
        std::lround(KVJsonDouble(KVJsonAt(cfg, "panel_opacity"), 1.0) * 100), flag);
    KVConfig::save(cfg);
}
