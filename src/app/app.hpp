#pragma once

#include "app/app_services.hpp"
#include "app/app_views.hpp"
#include "arenalog/draft_event.hpp"
#include "arenalog/log_parser.hpp"
#include "base/error.hpp"
#include "base/json.hpp"
#include "draft/card.hpp"
#include "platform/geometry.hpp"
#include "vision/arena_window.hpp"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class KVAPI;
class KVArtHashes;
class KVCapture;
class KVCatalog;
class KVDeckWindow;
class KVDraftSession;
class KVHotkeys;
class KVLogTail;
class KVLogin;
class KVPanel;
class KVSettings;
class KVStamps;
class KVTelemetry;
class KVTimer;
class KVVisionRunner;
class KVWatchdog;
struct KVVisionReport;

// How long the capture test waits for Arena to come to the front: `tries` looks at the window
// list, `interval` seconds apart.
struct KVCaptureWait {
    int tries = 180;
    double interval = 0.5;
};

// The one controller of the GUI: owns every long-lived object, starts them in order, moves the
// program between signed out and signed in, keeps the tray item, follows the draft in Arena's
// log and asks the service about each pack. Main thread only; work sent elsewhere holds the
// controller weakly and comes back through the main queue.
//
// Its methods are spread over app_lifecycle.cpp (construction, launch, sign-in, termination),
// app_tray.cpp (tray, hiding, settings) and app_draft_flow.cpp (the log, analysis, the deck).
class KVApp : public std::enable_shared_from_this<KVApp> {
public:
    static constexpr const char* kVersion = "0.1.38";

    // Construction: loads the settings and the stored sign-in and creates the non-visual
    // objects. No window exists yet and nothing runs.
    static std::shared_ptr<KVApp> create(KVAppServices services, std::shared_ptr<KVAppViews> views);
    ~KVApp();
    KVApp(const KVApp&) = delete;
    KVApp& operator=(const KVApp&) = delete;

    // Application lifecycle.
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    static bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
    // A second launch of the program asked this one to show itself.
    void handOver();

    void buildWindows();
    void showLogin();
    void enterOverlay(const KVJson& account);
    void applyAccount(const KVJson& account);
    void hideOverlay();
    void logout();

    // Tray and hiding.
    void ensureTray();
    void teardownTray();
    void showFromTray();
    void launchArenaFromMenu();
    void signOutFromMenu();
    void hideToTray();

    // Settings, the controller's side.
    void toggleSettings();
    void closeSettings();
    void setClickThrough(bool flag);

    // Draft flow.
    void startLog();
    void onLogEvent(KVDraftEvent& event);
    bool firstSeen(const std::string& kind, const KVJson& payload);
    void loadCatalog(const std::string& setCode);
    bool draftInProgress() const;
    void refreshUI();
    void maybeAnalyze();
    void onAnalyzed(const KVJson& answer, const std::string& key,
                    const std::vector<std::string>& pack, const std::vector<std::string>& pool);
    void onAnalyzeFailed(const KVError& error, const std::string& key);
    void buildDeck();

    // The memory watchdog (launch) and the system-wide keys (first overlay entry).
    void startWatchdog();
    void startHotkeys();
    void hotkeyAction(int action);

    // Arena tracking: the tracker's tick, the panel's place over Arena's frame (screen
    // coordinates), and the offset a drag leaves.
    void tickArena();
    void placePanel(const KVRect& frame);
    void panelMoved();
    // Starts Arena, or says it could not be found.
    void launchArena();

    // Vision: started once with the log; what it sees goes to the session and the stamps.
    void startVision();
    void onVision(const KVVisionReport& report);
    void visionLost();
    // The screenshot key: for a while the overlay shows in screenshots; a second press does not
    // extend it.
    void allowScreenshot();

    // The reports run from the command line instead of the GUI (app_smoke_test.cpp,
    // app_diagnose.cpp, app_capture_test.cpp): each prints its lines and returns the exit status.
    static int smokeTest();
    static int diagnose();
    static int captureTest(const KVCaptureWait& wait = KVCaptureWait{});
    // Plays a Player.log through the draft flow without a display (app_replay.cpp): every pack
    // graded by the service in turn, one line per pick, then the deck; with `framesDir`, the
    // panel of each pick as a PNG there.
    static int replay(const std::string& logPath, const std::string& framesDir);

    // Hook point the update work plugs into; it does nothing in this build.
    void checkForUpdates() {}

    // Flags.
    bool active = false;
    bool panelWanted = false;
    bool forcedVisible = false;
    bool settingsOpen = false;
    bool arenaInFront = false;
    bool packOnScreen = false;
    bool logBacklog = true;
    bool shutDown = false;
    bool trayHintShown = false;
    bool deckInFlight = false;
    bool updatePrompted = false;
    bool screenshotAllowed = false;
    std::atomic<bool> visionInDraft{false};
    // Shared with background work (the art download asks it), so it outlives the controller.
    const std::shared_ptr<std::atomic<bool>> visionStop =
        std::make_shared<std::atomic<bool>>(false);

    // Owned objects.
    KVJson cfg;
    std::shared_ptr<KVAPI> api;
    std::shared_ptr<KVTelemetry> telemetry;
    std::shared_ptr<KVCatalog> catalog;
    std::shared_ptr<KVArtHashes> artHashes;
    std::shared_ptr<KVDraftSession> session;
    std::shared_ptr<KVPanel> panel;
    std::shared_ptr<KVStamps> stamps;
    std::shared_ptr<KVSettings> settings;
    std::shared_ptr<KVDeckWindow> deckWindow;
    std::shared_ptr<KVLogin> login;
    std::shared_ptr<KVTimer> tracker;
    std::shared_ptr<KVWatchdog> watchdog;
    std::unique_ptr<KVHotkeys> hotkeys;
    std::shared_ptr<KVCapture> capture;
    std::shared_ptr<KVVisionRunner> vision;
    std::optional<KVArenaWindow> arena; // as the last tick found it
    std::unique_ptr<KVLogTail> logTail;
    KVLogParser parser;
    std::set<std::string> snapshots;
    double logDraftUntil = 0;
    std::vector<KVNormRect> screenSlots;
    std::string analyzedKey;
    std::string catalogLoading;

    // Offline restore: the stored sign-in could not be checked; rechecked until the service
    // answers.
    bool accountUnchecked = false;
    double meRetryDelay = 0;
    double lastLockCheck = -1e18; // when a locked session last asked for the account
    int meRequests = 0;           // account checks sent since launch (restore included)
    int analyzeRequests = 0;      // analysis requests sent
    int deckRequests = 0;         // deck requests sent

    const KVAppServices& services() const { return services_; }
    const std::shared_ptr<KVAppViews>& views() const { return views_; }

private:
    KVApp(KVAppServices services, std::shared_ptr<KVAppViews> views);
    void construct();
    std::weak_ptr<KVApp> weak() { return weak_from_this(); }
    // A call of `method` for windows and menus to hold: it does nothing once the controller is
    // gone.
    std::function<void()> bound(void (KVApp::*method)());
    void restoreFailed(const KVError& error, const std::string& email);
    void scheduleAccountCheck();
    void checkAccount();
    void accountAnswered(const std::optional<KVJson>& account, const KVError& error);
    void recheckLockedAccount();

    KVAppServices services_;
    std::shared_ptr<KVAppViews> views_;
    uint64_t accountCheckGeneration_ = 0; // a sign-out makes pending checks stale
};
