#pragma once

#include "platform/desktop_shell.hpp"
#include "platform/hot_key_service.hpp"
#include "platform/launcher.hpp"
#include "platform/screen_capture.hpp"
#include "platform/screens.hpp"
#include "platform/window_list.hpp"
#include "platform/window_stacking.hpp"

#include <memory>

// The desktop services in force: the real ones, unless a test put fakes in their place.
struct KVPlatform {
    std::shared_ptr<KVWindowList> windows;
    std::shared_ptr<KVScreens> screens;
    std::shared_ptr<KVScreenCapture> capture;
    std::shared_ptr<KVLauncher> launcher;
    // Needs the GUI's own X connection, so the GUI installs it once Qt runs; none before.
    std::shared_ptr<KVHotKeyService> hotKeys;
    // Tray, notifications, alerts: needs the GUI's QApplication too; none before.
    std::shared_ptr<KVDesktopShell> shell;
    // What stands above what, for keeping the overlay over the game.
    std::shared_ptr<KVWindowStacking> stacking;

    // The X11 services, each on its own connection to $DISPLAY, opened at first use.
    static KVPlatform x11();

    static std::shared_ptr<const KVPlatform> current();

    // Puts `platform` in force and returns the one it replaced.
    static std::shared_ptr<const KVPlatform> replace(KVPlatform platform);
    static void restore(std::shared_ptr<const KVPlatform> previous);
};
