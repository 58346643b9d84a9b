#pragma once

#include "demo_draft/demo_art.hpp"
#include "demo_draft/demo_steps.hpp"
#include "support/test_environment.hpp"
#include "x11_harness/x11_screen.hpp"
#include "x11_harness/xvfb.hpp"

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One user's machine for the end-to-end scenarios: a private X server with a window manager,
// the reference service on loopback with its own database, Arena's stand-in playing the demo
// draft into a Player.log under a Wine prefix in a fresh home, and the real korvane.
class KVE2EWorld {
public:
    static constexpr int kArenaWidth = 1280;
    static constexpr int kArenaHeight = 720;

    // `shotPrefix` names this scenario's screenshots.
    explicit KVE2EWorld(std::string shotPrefix);
    ~KVE2EWorld();

    // Why the world could not be built, or "".
    const std::string& failure() const { return failure_; }
    KVX11Screen& screen() { return *screen_; }
    // The demo draft cut into steps that each end with a pack shown.
    const std::vector<KVDemoStep>& steps() const { return steps_; }
    // The demo set's art, and the draft screens of its packs at the window's size.
    KVDemoArt& art() { return art_; }

    // The service with the demo set on `port` (0: any free one), on the world's database,
    // `extra` added to its arguments.
    bool startService(int port = 0, const std::vector<std::string>& extra = {});
    void stopService();
    int servicePort() const { return port_; }
    std::string serviceBase() const { return "http://127.0.0.1:" + std::to_string(port_); }
    const std::string& serviceDatabase() const { return database_; }

    // Arena's stand-in, showing its start pattern, with an empty Player.log (Arena starts a new
    // log at each launch).
    bool startArena();
    // The window's client rectangle on the root.
    QRect arenaFrame() const { return arenaFrame_; }
    // Shows step `index`'s pack and appends its log lines; the screen shown is kept.
    bool playStep(size_t index);
    const KVArenaScreen& shownScreen() const { return shown_; }
    // The Arena ids of the cards shown, slot by slot.
    const std::vector<int64_t>& shownPack() const { return shownPack_; }
    // Arena's pattern without a pack, as between drafts.
    bool showNoPack();

    // korvane as a user starts it: this build's, or `program` (a copy elsewhere), with
    // `environment` added to the world's.
    bool startKorvane(const std::string& program = KV_KORVANE_PROGRAM,
                      const std::vector<std::string>& environment = {});
    pid_t korvanePid() const { return korvane_ ? korvane_->pid() : -1; }
    // Sends `signal` (0: waits for it to quit by itself) and returns the exit status, -1 when
    // it did not end within `seconds`.
    int stopKorvane(int signal = SIGTERM, double seconds = 20);

    // korvane.log as it is now, and its size, for waits on lines written after a point.
    std::string korvaneLog() const;
    size_t korvaneLogSize() const { return korvaneLog().size(); }
    bool waitForLog(const std::string& text, size_t from, double seconds) const;

    std::string authFile() const { return home_.file("data/Korvane/auth.json"); }

    // Saves what the screen shows as the scenario's next numbered screenshot.
    void shot(const std::string& name);

private:
    std::string prefix_;
    std::string failure_;
    KVTempDir home_;
    std::unique_ptr<KVXvfb> x_;
    std::unique_ptr<KVX11Screen> screen_;
    std::unique_ptr<KVChildProcess> service_;
    std::unique_ptr<KVFakeArena> arena_;
    std::unique_ptr<KVChildProcess> korvane_;
    std::vector<KVDemoStep> steps_;
    KVDemoArt art_;
    std::string database_;
    std::string demoLog_;
    std::string playerLog_;
    int port_ = 0;
    QRect arenaFrame_;
    KVArenaScreen shown_;
    std::vector<int64_t> shownPack_;
    int shots_ = 0;
};

// Whether `ready` comes to hold within `seconds`, asked ten times a second: what it asks of
// other processes (a screenshot, a file) costs more than a glance.
inline bool KVE2EWait(const std::function<bool()>& ready, double seconds) {
    return KVEventually(ready, seconds, 0.1);
}
