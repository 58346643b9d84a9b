#pragma once

#include "platform/platform.hpp"

#include <map>
#include <set>
#include <string>
#include <utility>

// Stand-ins for the desktop services, for tests: they answer what the test put in them and
// remember what they were asked.

class KVFakeWindowList : public KVWindowList {
public:
    std::optional<KVWindowSnapshot> next; // none: the list cannot be had
    std::string failure = "no window list";
    int snapshots = 0;

    std::optional<KVWindowSnapshot> snapshot(KVError* error) override;
};

class KVFakeScreens : public KVScreens {
public:
    std::vector<KVMonitor> all;
    bool composited = false;

    std::vector<KVMonitor> monitors() override { return all; }
    bool compositing() override { return composited; }
};

class KVFakeScreenCapture : public KVScreenCapture {
public:
    std::optional<KVShareableContent> content; // none: the query fails with `contentFailure`
    std::string contentFailure;
    std::map<uint32_t, KVWindowFrame> windowFrames; // a window absent here fails to capture
    std::string captureFailure = "screenshot timed out";
    std::optional<KVImage> regionImage; // none: region capture fails with `captureFailure`
    bool composite = true;

    int contentQueries = 0;
    std::vector<uint32_t> capturedWindows;
    std::vector<KVRect> capturedRegions;
    int windowCaptureEnds = 0;

    std::optional<KVShareableContent> shareableContent(KVError* error) override;
    std::optional<KVWindowFrame> captureWindow(uint32_t windowId, KVError* error) override;
    std::optional<KVImage> captureRegion(const KVRect& region, KVError* error) override;
    void endWindowCapture() override { ++windowCaptureEnds; }
    bool available() override { return composite; }
};

class KVFakeLauncher : public KVLauncher {
public:
    struct Launch {
        std::vector<std::string> argv;
        std::vector<std::pair<std::string, std::string>> environment;
    };
    bool succeeds = true;
    std::vector<Launch> launches;
    std::vector<std::string> urls;

    bool launch(const std::vector<std::string>& argv,
                const std::vector<std::pair<std::string, std::string>>& environment) override;
    bool openUrl(const std::string& url) override;
};

class KVFakeHotKeys : public KVHotKeyService {
public:
    struct Chord {
        char letter = 0;
        uint32_t modifiers = 0;
    };
    std::set<std::pair<char, uint32_t>> takenElsewhere;
    std::map<std::pair<uint32_t, int>, Chord> registered;

    bool registerKey(uint32_t signature, int id, char letter, uint32_t modifiers) override;
    void unregisterKey(uint32_t signature, int id) override;
    void setHandler(Handler handler) override { handler_ = std::move(handler); }

    // A press of the chord, as the desktop would report it; false when nothing holds it.
    bool press(char letter, uint32_t modifiers);

private:
    Handler handler_;
};

// Remembers the tray item, notifications, alerts and progress; alerts are answered from
// `answers` in order (-1, closed without a choice, once it runs out).
class KVFakeDesktopShell : public KVDesktopShell {
public:
    struct Alert {
        std::string title;
        std::string text;
        std::vector<std::string> buttons;
    };
    struct Note {
        std::string title;
        std::string text;
    };
    bool hasTrayHost = true;
    std::optional<Tray> tray;  // the item shown now
    int traysShown = 0;        // every showTray
    std::vector<Note> notes;   // every notification
    std::vector<int> answers;  // the script for alerts
    std::vector<Alert> alerts; // every alert shown
    struct ProgressStep {
        std::string title;
        std::string label;
        std::optional<double> fraction;
    };
    std::optional<std::string> progressLabel;
    std::optional<double> progressFraction;
    bool progressShown = false;
    std::vector<ProgressStep> progressSteps; // every showProgress

    bool trayAvailable() override { return hasTrayHost; }
    void showTray(Tray item) override;
    void removeTray() override { tray.reset(); }
    bool trayShown() const override { return tray.has_value(); }
    void notify(const std::string& title, const std::string& text) override;
    int alert(const std::string& title, const std::string& text,
              const std::vector<std::string>& buttons) override;
    void showProgress(const std::string& title, const std::string& label,
                      std::optional<double> fraction) override;
    void hideProgress() override { progressShown = false; }

    // Chooses the menu item titled `title`, as a user would; false when there is none.
    bool choose(const std::string& title);
};

// A platform made of the fakes above, each reachable for the test to set up and inspect.
struct KVFakePlatform {
    std::shared_ptr<KVFakeWindowList> windows = std::make_shared<KVFakeWindowList>();
    std::shared_ptr<KVFakeScreens> screens = std::make_shared<KVFakeScreens>();
    std::shared_ptr<KVFakeScreenCapture> capture = std::make_shared<KVFakeScreenCapture>();
    std::shared_ptr<KVFakeLauncher> launcher = std::make_shared<KVFakeLauncher>();
    std::shared_ptr<KVFakeHotKeys> hotKeys = std::make_shared<KVFakeHotKeys>();
    std::shared_ptr<KVFakeDesktopShell> shell = std::make_shared<KVFakeDesktopShell>();

    KVPlatform platform() const { return {windows, screens, capture, launcher, hotKeys, shell}; }
};

// Puts a fake platform in force for a scope.
class KVScopedFakePlatform : public KVFakePlatform {
public:
    KVScopedFakePlatform() : previous_(KVPlatform::replace(platform())) {}
    ~KVScopedFakePlatform() { KVPlatform::restore(previous_); }
    KVScopedFakePlatform(const KVScopedFakePlatform&) = delete;
    KVScopedFakePlatform& operator=(const KVScopedFakePlatform&) = delete;

private:
    std::shared_ptr<const KVPlatform> previous_;
};
