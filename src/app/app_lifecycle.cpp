#include "app/app.hpp"

#include "app/hotkeys.hpp"
#include "app/vision_runner.hpp"
#include "app/watchdog.hpp"

#include "arenalog/log_tail.hpp"
#include "base/config.hpp"
#include "base/dispatch/queue.hpp"
#include "base/dispatch/timer.hpp"
#include "base/log.hpp"
#include "base/platform_texts.hpp"
#include "draft/catalog.hpp"
#include "draft/draft_session.hpp"
#include "service/api.hpp"
#include "service/telemetry.hpp"
#include "ui/deck_window.hpp"
#include "ui/login.hpp"
#include "ui/panel.hpp"
#include "ui/settings.hpp"
#include "ui/stamps.hpp"
#include "vision/art_hashes.hpp"
#include "vision/capture.hpp"

#include <algorithm>
#include <cmath>

namespace {

// The service refused the stored token itself; anything else (no connection, a time-out, a
// failing server) says nothing about it.
bool refusesToken(const KVError& error) {
    return error.domain == KVAPIErrorDomain && (error.code == 401 || error.code == 403);
}

} // namespace

std::shared_ptr<KVApp> KVApp::create(KVAppServices services, std::shared_ptr<KVAppViews> views) {
    std::shared_ptr<KVApp> app(new KVApp(std::move(services), std::move(views)));
    app->construct();
    return app;
}

KVApp::KVApp(KVAppServices services, std::shared_ptr<KVAppViews> views)
    : services_(std::move(services)), views_(std::move(views)) {}

KVApp::~KVApp() {
    applicationWillTerminate();
}

void KVApp::construct() {
    KVConfig::ensureDirs();
    cfg = KVConfig::load();
    const KVJson auth = KVConfig::loadAuth();
    api = std::make_shared<KVAPI>(KVJsonString(KVJsonAt(cfg, "api_base_url"), ""),
                                  KVJsonString(KVJsonAt(auth, "token"), ""));
    std::string buffer =
        services_.telemetryBuffer.empty() ? KVTelemetry::bufferPath() : services_.telemetryBuffer;
    if (!services_.telemetry) {
        buffer.clear();
    }
    telemetry = KVTelemetry::create(
        api, services_.telemetry && KVJsonBool(KVJsonAt(cfg, "telemetry_enabled"), false),
        services_.telemetryLimits, buffer);
    catalog = std::make_shared<KVCatalog>();
    artHashes = std::make_shared<KVArtHashes>(catalog);
    session = std::make_shared<KVDraftSession>(catalog);
    snapshots.clear();
    screenSlots.clear();
    analyzedKey.clear();
    catalogLoading.clear();
    logBacklog = true;
}

void KVApp::applicationDidFinishLaunching() {
    // (The self-updater's clean-up of a replaced version goes first, once it exists.)
    KVLog("Korvane %s (native) starting", kVersion);
    buildWindows();
    startWatchdog();
    checkForUpdates();
    const bool hadToken = !api->token().empty();
    showLogin();
    if (!hadToken) {
        return;
    }
    login->beginRestore();
    const std::string email = KVJsonString(KVJsonAt(KVConfig::loadAuth(), "email"), "");
    ++meRequests;
    services_.userInitiated->async([weak = weak(), api = api, main = services_.main, email] {
        KVError error;
        auto account = api->me(&error);
        main->async([weak, account = std::move(account), error, email] {
            auto self = weak.lock();
            if (!self || self->shutDown) {
                return;
            }
            if (account) {
                self->enterOverlay(*account);
            } else {
                self->restoreFailed(error, email);
            }
        });
    });
}

void KVApp::restoreFailed(const KVError& error, const std::string& email) {
    if (refusesToken(error)) {
        KVConfig::clearAuth();
        api->setToken("");
        if (login) {
            login->endRestore();
        }
        return;
    }
    // The service could not say: keep the sign-in, work offline, and ask again later.
    KVLog("account check failed, keeping the stored sign-in: %s", error.message.c_str());
    accountUnchecked = true;
    enterOverlay(KVJson{{"email", email}});
    meRetryDelay = services_.meRetryFirst;
    scheduleAccountCheck();
}

void KVApp::scheduleAccountCheck() {
    services_.main->after(meRetryDelay, [weak = weak(), generation = accountCheckGeneration_] {
        auto self = weak.lock();
        if (self && !self->shutDown && generation == self->accountCheckGeneration_) {
            self->checkAccount();
        }
    });
}

void KVApp::checkAccount() {
    ++meRequests;
    services_.userInitiated->async(
        [weak = weak(), api = api, main = services_.main, generation = accountCheckGeneration_] {
            KVError error;
            auto account = api->me(&error);
            main->async([weak, account = std::move(account), error, generation] {
                auto self = weak.lock();
                if (self && !self->shutDown && generation == self->accountCheckGeneration_) {
                    self->accountAnswered(account, error);
                }
            });
        });
}

void KVApp::accountAnswered(const std::optional<KVJson>& account, const KVError& error) {
    if (account) {
        accountUnchecked = false;
        applyAccount(*account);
        refreshUI();
        return;
    }
    if (refusesToken(error)) {
        logout();
        return;
    }
    if (accountUnchecked) {
        meRetryDelay = std::min(meRetryDelay * 2, services_.meRetryCap);
        scheduleAccountCheck();
    }
}

void KVApp::buildWindows() {
    panel = views_->makePanel();
    stamps = views_->makeStamps();
    settings = views_->makeSettings();
    panel->onHide = bound(&KVApp::hideToTray);
    panel->onBuild = bound(&KVApp::buildDeck);
    panel->onLaunchArena = bound(&KVApp::launchArena);
    panel->onMoved = bound(&KVApp::panelMoved);
    settings->onClose = bound(&KVApp::closeSettings);
    settings->onSignOut = bound(&KVApp::logout);
    settings->onBuildDeck = bound(&KVApp::buildDeck);
    settings->onOpacity = [weak = weak()](int percent) {
        if (auto self = weak.lock()) {
            self->cfg["panel_opacity"] = double(percent) / 100.0;
            self->panel->setOpacity(double(percent) / 100.0);
            KVConfig::save(self->cfg);
        }
    };
    settings->onClickThrough = [weak = weak()](bool on) {
        if (auto self = weak.lock()) {
            self->setClickThrough(on);
        }
    };
    settings->onHotkeys = [weak = weak()](const std::string& key, const std::string& draft) {
        if (auto self = weak.lock()) {
            self->cfg["key_settings"] = key.empty() ? "S" : key;
            self->cfg["key_draft_data"] = draft.empty() ? "D" : draft;
            KVConfig::save(self->cfg);
        }
    };
}

std::function<void()> KVApp::bound(void (KVApp::*method)()) {
    return [weak = weak(), method] {
        if (auto self = weak.lock()) {
            ((*self).*method)();
        }
    };
}

void KVApp::showLogin() {
    login = views_->makeLogin(KVJsonString(KVJsonAt(cfg, "api_base_url"), ""));
    login->onSignedIn = [weak = weak()](const std::string& token, const KVJson& account) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        KVConfig::saveAuth(
            KVJson{{"token", token}, {"email", KVJsonString(KVJsonAt(account, "email"), "")}});
        self->api->setToken(token);
        self->accountUnchecked = false;
        self->enterOverlay(account);
    };
    login->onCancelled = [weak = weak()] {
        if (auto self = weak.lock()) {
            self->services_.quit();
        }
    };
    login->show();
}

void KVApp::enterOverlay(const KVJson& account) {
    if (login) {
        login->dismiss();
        // The sign-in window may be calling us: it goes once its call has returned.
        services_.main->async([done = std::move(login)] {});
        login.reset();
    }
    active = true;
    const KVJson& credits = KVJsonAt(account, "credits");
    telemetry->record("session_start",
                      KVJson{{"email", KVJsonString(KVJsonAt(account, "email"), "")},
                             {"credits", credits.is_number() ? credits : KVJson()},
                             {"localHour", services_.localHour()},
                             {"platform", std::string(KVPlatformTexts::kTelemetryPlatform)},
                             {"native", true}});
    panelWanted = true;
    ensureTray();
    double opacity = KVJsonDouble(KVJsonAt(cfg, "panel_opacity"), 1.0);
    if (opacity == 0) {
        opacity = 1.0;
    }
    const bool clickThrough = KVJsonBool(KVJsonAt(cfg, "click_through"), false);
    panel->setOpacity(opacity);
    panel->setClickThrough(clickThrough);
    settings->setOpacityPercent(std::lround(opacity * 100), clickThrough);
    settings->setHotkeys(KVJsonString(KVJsonAt(cfg, "key_settings"), "S"),
                         KVJsonString(KVJsonAt(cfg, "key_draft_data"), "D"));
    applyAccount(account);
    panel->setArenaRunning(true, KVCapture::arenaInstalled());
    panel->show();
    startHotkeys();
    if (!tracker) {
        tracker = KVTimer::start(*services_.main, 0.25, 0.25, 0.05, [weak = weak()] {
            if (auto self = weak.lock()) {
                self->tickArena();
            }
        });
    }
    if (!logTail) {
        startLog();
        startVision();
    }
    refreshUI();
}

void KVApp::applyAccount(const KVJson& account) {
    std::string label = "signed in";
    if (auto email = KVJsonString(KVJsonAt(account, "email"))) {
        label = *email;
    } else if (auto name = KVJsonString(KVJsonAt(account, "name"))) {
        label = *name;
    }
    const KVJson& credits = KVJsonAt(account, "credits");
    KVJson count = credits.is_number() ? credits : KVJson(0);
    if (!credits.is_number() && accountUnchecked) {
        count = KVJson(); // not known until the service answers
    }
    session->accountEmail = label;
    session->credits = count;
    settings->setAccount(label, count);
    // Credits again lift a lock left by a refusal.
    if (session->locked && count.is_number() && count.get<double>() > 0) {
        session->locked = false;
        session->lockedReason.clear();
        analyzedKey.clear();
    }
}

void KVApp::hideOverlay() {
    active = false;
    panelWanted = false;
    closeSettings();
    teardownTray();
    if (tracker) {
        tracker->cancel();
        tracker.reset();
    }
    panel->hide();
    stamps->hide();
    if (deckWindow) {
        deckWindow->hide();
    }
}

void KVApp::logout() {
    ++accountCheckGeneration_;
    accountUnchecked = false;
    KVConfig::clearAuth();
    api->setToken("");
    session->accountEmail = "";
    session->credits = KVJson();
    hideOverlay();
    showLogin();
}

void KVApp::handOver() {
    if (active) {
        showFromTray();
    } else if (login) {
        login->show();
    }
}

void KVApp::applicationWillTerminate() {
    if (shutDown) {
        return;
    }
    shutDown = true;
    *visionStop = true;
    if (logTail) {
        logTail->stop();
    }
    if (tracker) {
        tracker->cancel();
    }
    if (vision) {
        // A tick stuck in an art download holds only shared owners: it is left to finish.
        vision->stop(1.0);
    }
    if (hotkeys) {
        hotkeys->stop();
    }
    if (watchdog) {
        watchdog->stop();
    }
    if (telemetry) {
        telemetry->shutdown();
    }
    KVLog("Korvane stopped");
}
