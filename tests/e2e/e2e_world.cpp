#include "e2e/e2e_world.hpp"

#include "base/files.hpp"
#include "vision/image_codec.hpp"

#include <csignal>
#include <cstdio>
#include <filesystem>

namespace {

// Where Wine keeps Arena's log for a user of the prefix in ~/.wine.
constexpr const char* kPlayerLog =
    "/.wine/drive_c/users/player/AppData/LocalLow/Wizards Of The Coast/MTGA/Player.log";

bool writePng(const KVImage& image, const std::string& path) {
    const auto bytes = KVEncodePNG(image);
    return bytes && KVWriteFileAtomically(path, *bytes);
}

} // namespace

KVE2EWorld::KVE2EWorld(std::string shotPrefix) : prefix_(std::move(shotPrefix)) {
    // This scenario's pictures from an earlier run would pass for this run's.
    std::filesystem::create_directories(KV_E2E_ARTIFACTS);
    for (const auto& entry : std::filesystem::directory_iterator(KV_E2E_ARTIFACTS)) {
        if (entry.path().filename().string().rfind(prefix_ + "-", 0) == 0) {
            std::filesystem::remove(entry.path());
        }
    }
    database_ = home_.file("service.db");
    demoLog_ = home_.file("demo-draft.log");
    playerLog_ = home_.path() + kPlayerLog;
    std::filesystem::create_directories(std::filesystem::path(playerLog_).parent_path());

    KVChildProcess writer({KV_SERVICE_PROGRAM, "--write-demo-log", demoLog_}, {});
    if (writer.stop(0, 30) != 0) {
        failure_ = "korvane-service --write-demo-log failed";
        return;
    }
    KVError error;
    const auto log = KVReadFile(demoLog_, &error);
    if (!log) {
        failure_ = demoLog_ + ": " + error.message;
        return;
    }
    steps_ = KVDemoSteps(*log);
    if (steps_.empty() || steps_.front().pack.empty()) {
        failure_ = demoLog_ + " shows no pack";
        return;
    }
    x_ = std::make_unique<KVXvfb>(KVXvfb::Options{.windowManager = true});
    if (x_->display().empty()) {
        failure_ = x_->failure();
        return;
    }
    screen_ = std::make_unique<KVX11Screen>(x_->display());
    if (!screen_->connected()) {
        failure_ = "cannot connect to " + x_->display();
    }
}

// The members go in reverse order: korvane before the game and the service it talks to.
KVE2EWorld::~KVE2EWorld() {
    if (korvane_) {
        korvane_->stop(SIGTERM, 10);
    }
}

bool KVE2EWorld::startService(int port, const std::vector<std::string>& extra) {
    std::vector<std::string> argv{KV_SERVICE_PROGRAM, "--demo", "--offline", "--db", database_};
    argv.insert(argv.end(), {"--listen", "127.0.0.1:" + std::to_string(port)});
    argv.insert(argv.end(), extra.begin(), extra.end());
    service_ = std::make_unique<KVChildProcess>(argv, std::vector<std::string>{});
    const std::string marker = "listening on http://127.0.0.1:";
    for (std::string line; !(line = service_->readLine(30)).empty();) {
        if (const size_t at = line.find(marker); at != std::string::npos) {
            port_ = std::stoi(line.substr(at + marker.size()));
            return true;
        }
    }
    return false;
}

void KVE2EWorld::stopService() {
    if (service_) {
        service_->stop(SIGTERM, 10);
        service_.reset();
    }
}

bool KVE2EWorld::startArena() {
    arena_.reset();
    KVWriteFileAtomically(playerLog_, "");
    arena_ = std::make_unique<KVFakeArena>(
        x_->display(), std::vector<std::string>{"--width", std::to_string(kArenaWidth), "--height",
                                                std::to_string(kArenaHeight), "--log", playerLog_,
                                                "--script", demoLog_, "--interval", "0"});
    if (arena_->window == 0) {
        return false;
    }
    // Placed by the window manager: read back where its picture landed.
    return KVE2EWait(
        [this] {
            const auto frame = screen_->findWindow("MTGA");
            arenaFrame_ = frame.value_or(QRect());
            return frame.has_value();
        },
        10);
}

bool KVE2EWorld::playStep(size_t index) {
    const KVDemoStep& step = steps_.at(index);
    if (!step.pack.empty()) {
        auto screen = art_.screen(step.pack, kArenaWidth, kArenaHeight);
        if (!screen) {
            return false;
        }
        shown_ = std::move(*screen);
        shownPack_ = step.pack;
        const std::string path = home_.file("screen-" + step.name + ".png");
        if (!writePng(shown_.image, path) || arena_->process.command("image " + path) != "ok") {
            return false;
        }
    }
    return arena_->process.command("log " + std::to_string(step.lines())) == "ok";
}

bool KVE2EWorld::showNoPack() {
    // Plain, so that nothing in it looks like the panel's own colours.
    shown_ = {KVUniformImage(kArenaWidth, kArenaHeight, 24, 28, 36), {}};
    shownPack_.clear();
    const std::string path = home_.file("screen-menu.png");
    return writePng(shown_.image, path) && arena_->process.command("image " + path) == "ok";
}

bool KVE2EWorld::startKorvane(const std::string& program,
                              const std::vector<std::string>& environment) {
    std::vector<std::string> variables{"DISPLAY=" + x_->display(),
                                       "HOME=" + home_.path(),
                                       "XDG_DATA_HOME=" + home_.file("data"),
                                       "XDG_CONFIG_HOME=" + home_.file("config"),
                                       "KORVANE_API_BASE=" + serviceBase(),
                                       "KORVANE_SCRYFALL_BASE=" + serviceBase() + "/scryfall",
                                       "KORVANE_DRAFT_DEBUG=1",
                                       "QT_QPA_PLATFORM=xcb"};
    variables.insert(variables.end(), environment.begin(), environment.end());
    korvane_ = std::make_unique<KVChildProcess>(std::vector<std::string>{program}, variables);
    return korvane_->pid() > 0;
}

int KVE2EWorld::stopKorvane(int signal, double seconds) {
    const int status = korvane_ ? korvane_->stop(signal, seconds) : -1;
    korvane_.reset();
    return status;
}

std::string KVE2EWorld::korvaneLog() const {
    return KVReadFile(home_.file("data/Korvane/korvane.log")).value_or("");
}

bool KVE2EWorld::waitForLog(const std::string& text, size_t from, double seconds) const {
    return KVE2EWait(
        [&] {
            const std::string log = korvaneLog();
            return log.size() > from && log.find(text, from) != std::string::npos;
        },
        seconds);
}

void KVE2EWorld::shot(const std::string& name) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", ++shots_);
    screen_->shot().save(QString::fromStdString(std::string(KV_E2E_ARTIFACTS) + "/" + prefix_ +
                                                "-" + number + "-" + name + ".png"),
                         "PNG");
}
