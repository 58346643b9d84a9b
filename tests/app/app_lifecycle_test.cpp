// Start-up, sign-in state, the tray and termination, on headless windows and fake desktop
// services.
#include "app_harness.hpp"

#include "../ui/offscreen_qt.hpp"
#include "app/hotkeys.hpp"
#include "app/signal_pipe.hpp"
#include "arenalog/log_tail.hpp"
#include "base/config.hpp"
#include "base/platform_texts.hpp"
#include "draft/draft_session.hpp"
#include "service/api.hpp"
#include "ui/login.hpp"
#include "ui/panel.hpp"
#include "ui/settings.hpp"

#include <QCoreApplication>
#include <QSlider>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using Reply = FakeService::Reply;

bool storedSignIn() {
    return !KVConfig::loadAuth().empty();
}

TEST(AppLifecycleIntegration, OnlyARefusedTokenClearsTheStoredSignIn) {
    // The statuses of /api/me, one per check; the last repeats.
    const std::vector<std::vector<int>> runs = {{401}, {403}, {503, 500, 200}, {503, 401}};
    for (const auto& statuses : runs) {
        SCOPED_TRACE(testing::PrintToString(statuses));
        const bool signedIn = statuses.back() == 200;
        AppHarness h;
        h.storeSignIn();
        auto calls = std::make_shared<std::atomic<size_t>>(0);
        h.service.on("/api/me", [statuses, calls](const KVJson&) {
            const int status = statuses[std::min((*calls)++, statuses.size() - 1)];
            return status == 200 ? Reply{200, {{"email", "ann@example.com"}, {"credits", 9}}}
                                 : Reply{status, {{"error", "no"}}};
        });
        h.launch([](KVAppServices& s) {
            s.meRetryFirst = 0.05;
            s.meRetryCap = 0.1;
        });
        ASSERT_TRUE(h.runUntil([&] { return *calls >= statuses.size(); }));
        h.settle(0.3);
        EXPECT_EQ(storedSignIn(), signedIn);
        EXPECT_EQ(h.app->active, signedIn);
        EXPECT_EQ(h.app->api->token().empty(), !signedIn);
        EXPECT_EQ(h.platform.shell->trayShown(), signedIn);
        if (signedIn) {
            EXPECT_EQ(h.app->session->credits, 9);
            EXPECT_EQ(*calls, statuses.size()) << "kept checking after the answer";
        } else {
            ASSERT_NE(h.app->login, nullptr);
            EXPECT_FALSE(h.app->login->busy) << "still shows the check under way";
        }
    }
}

// A sign-out and a sign-in again, twice: one tray item, one tailer, one set of hot keys, one
// vision loop, one panel; and hot-key letters changed meanwhile count only from the next run.
TEST(AppLifecycleIntegration, SigningOutAndInAgainKeepsOneOfEach) {
    AppHarness h;
    h.storeSignIn();
    h.launch();
    ASSERT_TRUE(h.runUntil([&] { return h.app->active; }));
    const KVLogTail* tailer = h.app->logTail.get();
    const KVHotkeys* hotkeys = h.app->hotkeys.get();
    const auto vision = h.app->vision;
    ASSERT_TRUE(tailer && hotkeys && vision);
    const auto& shell = h.platform.shell;
    ASSERT_TRUE(shell->tray.has_value());
    EXPECT_TRUE(shell->choose("Show Korvane"));
    EXPECT_TRUE(shell->choose("Launch MTG Arena"));
    h.app->cfg["key_settings"] = "K";

    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(shell->choose("Sign out"));
        EXPECT_FALSE(h.app->active);
        EXPECT_FALSE(shell->trayShown());
        EXPECT_FALSE(storedSignIn());
        EXPECT_EQ(h.app->tracker, nullptr);
        ASSERT_NE(h.app->login, nullptr);
        h.app->login->finish("tok2", {{"email", "ann@example.com"}, {"credits", 3}});
        h.settle(0.1);
        ASSERT_TRUE(h.app->active);
        EXPECT_EQ(KVConfig::loadAuth()["token"], "tok2");
        EXPECT_EQ(h.app->login, nullptr);
    }
    EXPECT_EQ(shell->traysShown, 3);
    EXPECT_TRUE(shell->trayShown());
    EXPECT_NE(h.app->tracker, nullptr);
    EXPECT_NE(h.app->watchdog, nullptr);
    EXPECT_EQ(h.app->logTail.get(), tailer) << "a second tailer was started";
    EXPECT_EQ(h.app->hotkeys.get(), hotkeys);
    EXPECT_EQ(h.app->vision, vision);
    EXPECT_EQ(h.views->panels.size(), 1u);
    EXPECT_EQ(h.platform.hotKeys->registered.size(), 2u);
    EXPECT_EQ(h.quits, 0) << "a sign-in closing its window quit the program";

    h.platform.screens->all = {{{0, 0, 1920, 1080}, true}};
    h.platform.windows->next =
        KVWindowSnapshot{{{7, 4242, "MTGA", 0, {100, 50, 1600, 900}, true}}, 4242};
    h.app->tickArena();
    EXPECT_TRUE(h.platform.hotKeys->press('S', kKVHotKeyOption));
    EXPECT_FALSE(h.platform.hotKeys->press('K', kKVHotKeyOption));

    ASSERT_TRUE(shell->choose("Quit Korvane"));
    EXPECT_EQ(h.quits, 1);
}

TEST(AppLifecycleIntegration, ClosingTheSignInWindowQuits) {
    AppHarness h;
    h.launch();
    ASSERT_EQ(h.views->logins.size(), 1u);
    h.views->logins.back()->window()->close();
    EXPECT_EQ(h.quits, 1);
}

TEST(AppLifecycle, TheTrayHintComesOnceAndNamesTheWayBack) {
    for (const bool trayHost : {true, false}) {
        SCOPED_TRACE(trayHost ? "tray host" : "no tray host");
        AppHarness h;
        h.platform.shell->hasTrayHost = trayHost;
        h.launch();
        h.app->enterOverlay({{"email", "ann@example.com"}, {"credits", 1}});
        h.app->hideToTray();
        h.app->showFromTray();
        h.app->hideToTray();
        EXPECT_FALSE(h.app->panelWanted);
        EXPECT_FALSE(h.app->panel->isVisible());
        ASSERT_EQ(h.platform.shell->notes.size(), 1u);
        EXPECT_EQ(h.platform.shell->notes[0].title, "Korvane is still running");
        EXPECT_EQ(h.platform.shell->notes[0].text,
                  trayHost ? KVPlatformTexts::kTrayHint : KVPlatformTexts::kTrayHintNoTray);
    }
}

TEST(AppLifecycle, SettingsReachThePanelAndTheFile) {
    AppHarness h;
    h.config["panel_opacity"] = 0;
    h.config["click_through"] = false;
    h.launch();
    h.app->enterOverlay({{"email", "ann@example.com"}});
    EXPECT_DOUBLE_EQ(h.app->panel->opacity(), 1.0) << "an opacity of 0 hid the panel";
    EXPECT_EQ(h.app->settings->opacity()->value(), 100);

    h.app->settings->onOpacity(55);
    EXPECT_NEAR(h.app->panel->opacity(), 0.55, 0.01);
    h.app->setClickThrough(true);
    h.app->settings->onHotkeys("", "K");
    const KVJson saved = KVConfig::load();
    EXPECT_DOUBLE_EQ(saved["panel_opacity"].get<double>(), 0.55);
    EXPECT_EQ(saved["click_through"], true);
    EXPECT_EQ(saved["key_settings"], "S");
    EXPECT_EQ(saved["key_draft_data"], "K");

    h.app->toggleSettings();
    EXPECT_TRUE(h.app->settingsOpen);
    h.app->toggleSettings();
    EXPECT_FALSE(h.app->settingsOpen);
    EXPECT_FALSE(h.app->settings->isVisible());
}

TEST(AppLifecycle, TerminationSignalsArriveOnTheEventLoop) {
    OffscreenQt();
    for (const int sent : {SIGTERM, SIGINT, SIGHUP}) {
        std::vector<int> received;
        {
            KVSignalPipe pipe([&](int signal) { received.push_back(signal); });
            std::raise(sent);
            for (int i = 0; i < 50 && received.empty(); ++i) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            }
        }
        EXPECT_EQ(received, std::vector<int>{sent});
    }
}

} // namespace
