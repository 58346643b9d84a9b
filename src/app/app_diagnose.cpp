#include "app/app.hpp"

#include "base/config.hpp"
#include "base/files.hpp"
#include "base/platform_texts.hpp"
#include "platform/platform.hpp"
#include "vision/capture.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
    return text;
}

// A setting as it is stored: true and false as 1 and 0, text as it stands.
std::string storedValue(const KVJson& value) {
    if (value.is_boolean()) {
        return value.get<bool>() ? "1" : "0";
    }
    if (value.is_string()) {
        return value.get<std::string>();
    }
    return value.is_null() ? "(null)" : KVJsonDump(value);
}

std::string logLine(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        return "log path : " + path + "  MISSING -- is Arena installed, and has it run once?";
    }
    const double modified = double(info.st_mtim.tv_sec) + double(info.st_mtim.tv_nsec) / 1e9;
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    char ago[64];
    std::snprintf(ago, sizeof ago, "%.0fs ago", now - modified);
    return "log path : " + path + "  size=" + std::to_string(info.st_size) + "  last written " +
           ago;
}

// The name the kernel keeps for a process ("bash", "systemd"), or "" when it has gone.
std::string processName(long pid) {
    auto name = KVReadFile("/proc/" + std::to_string(pid) + "/comm", nullptr, 4096);
    if (!name) {
        return {};
    }
    while (!name->empty() && (name->back() == '\n' || name->back() == '\r')) {
        name->pop_back();
    }
    return *name;
}

// The owner of the window that has the keyboard, from the same window list Arena is found in.
std::string frontmostOwner() {
    const auto snapshot = KVPlatform::current()->windows->snapshot();
    if (!snapshot || snapshot->frontmostPid == 0) {
        return "?";
    }
    for (const KVWindowInfo& window : snapshot->windows) {
        if (window.pid == snapshot->frontmostPid && !window.owner.empty()) {
            return window.owner;
        }
    }
    return "?";
}

void addMemoryLines(std::vector<std::string>& lines) {
    const std::string text =
        KVReadFile(KVJoinPath(KVConfig::dataDir(), "memory.log"), nullptr, size_t{16} << 20)
            .value_or("");
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        pieces.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    size_t samples = 0;
    for (const std::string& piece : pieces) {
        samples += piece.empty() ? 0 : 1;
    }
    lines.push_back("memory   : " + std::to_string(samples) + " samples in memory.log");
    // The file ends with a newline, so the last piece is empty: the last three samples show.
    for (size_t i = pieces.size() > 4 ? pieces.size() - 4 : 0; i < pieces.size(); ++i) {
        if (!pieces[i].empty()) {
            lines.push_back(std::string(11, ' ') + pieces[i]);
        }
    }
}

} // namespace

int KVApp::diagnose() {
    std::vector<std::string> lines;
    lines.push_back("Korvane " + std::string(kVersion) + " native on " +
                    KVPlatformTexts::operatingSystemName() + "  " + utcNow());
    lines.push_back("data dir : " + KVConfig::dataDir());
    KVConfig::ensureDirs();
    const KVJson cfg = KVConfig::load();
    lines.push_back("config   : vision_enabled=" + storedValue(KVJsonAt(cfg, "vision_enabled")) +
                    " click_through=" + storedValue(KVJsonAt(cfg, "click_through")));
    lines.push_back(logLine(KVJsonString(KVJsonAt(cfg, "log_path"), "")));
    const long parent = static_cast<long>(::getppid());
    lines.push_back(KVPlatformTexts::launchedLine(parent, processName(parent)));
    lines.push_back("capture  : " + (KVCapture::hasCapturePermission()
                                         ? std::string("granted")
                                         : std::string(KVPlatformTexts::kCaptureNotGranted)));
    lines.push_back("frontmost: " + frontmostOwner());
    const auto arena = KVCapture::findArena();
    lines.push_back("arena    : " + (arena ? arena->description() : std::string("NOT FOUND")));
    lines.push_back("arena app: " +
                    std::string(KVCapture::arenaInstalled() ? "installed" : "not found"));
    addMemoryLines(lines);

    std::string report;
    for (const std::string& line : lines) {
        report += (report.empty() ? "" : "\n") + line;
    }
    std::printf("%s\n", report.c_str());
    std::fflush(stdout);
    // The same report stays on disk for support to ask for; a failure to save changes nothing.
    KVWriteFileAtomically(KVJoinPath(KVConfig::dataDir(), "diagnose.txt"), report + "\n");
    return 0;
}
