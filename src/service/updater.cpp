#include "service/updater.hpp"

#include "base/config.hpp"
#include "base/crypto.hpp"
#include "base/dispatch/background.hpp"
#include "base/dispatch/run_loop.hpp"
#include "base/environment.hpp"
#include "base/log.hpp"
#include "base/platform_texts.hpp"
#include "service/api.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kPrivatePrefix = ".korvane-update-";

// A directory only we can enter (mkdtemp makes it 0700), beside the bundle so that moving
// the new app into place is one rename on one file system. "" on failure.
std::string makePrivateDirectory(const std::string& bundle, KVError* error) {
    std::string pattern = std::filesystem::path(bundle).parent_path().string() + "/" +
                          std::string(kPrivatePrefix) + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        KVSetError(error, "KorvaneFile", errno,
                   "Could not make a directory for the update beside " + bundle + ": " +
                       std::strerror(errno));
        return "";
    }
    return pattern;
}

// The last top-level bundle by name in `directory`, or "".
std::string lastBundleIn(const std::string& directory) {
    std::vector<std::string> names;
    if (DIR* list = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(list)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && KVIsBundle(KVJoinPath(directory, name))) {
                names.push_back(name);
            }
        }
        ::closedir(list);
    }
    if (names.empty()) {
        return "";
    }
    return KVJoinPath(directory, *std::max_element(names.begin(), names.end()));
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

KVUpdateOutcome failure(KVError error) {
    return KVUpdateOutcome{KVUpdateOutcome::Kind::failed, std::move(error), ""};
}

} // namespace

KVUpdaterOptions KVUpdaterOptions::standard() {
    KVUpdaterOptions options;
    options.bundle = KVBundleOfExecutable(KVEnvironment::current()->executablePath);
    options.download.allowLoopbackHTTP = !KVConfig::isPackaged();
    return options;
}

KVUpdater::KVUpdater(std::shared_ptr<KVAPI> api, KVUpdaterOptions options)
    : api_(std::move(api)), options_(std::move(options)) {
    if (!options_.rename) {
        options_.rename = [](const char* from, const char* to) { return ::rename(from, to); };
    }
    if (!options_.start) {
        options_.start = [](const std::string& executable, KVError* error) {
            return KVStartDetached(executable, ::getpid(), nullptr, error);
        };
    }
}

std::vector<int64_t> KVUpdater::parts(std::string_view version) {
    std::vector<int64_t> numbers;
    size_t at = 0;
    while (at < version.size() && numbers.size() < 4) {
        while (at < version.size() && std::isdigit(static_cast<unsigned char>(version[at])) == 0) {
            ++at;
        }
        if (at == version.size()) {
            break;
        }
        int64_t number = 0;
        for (; at < version.size() && std::isdigit(static_cast<unsigned char>(version[at])) != 0;
             ++at) {
            const int digit = version[at] - '0';
            constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
            number = number > (kMax - digit) / 10 ? kMax : number * 10 + digit;
        }
        numbers.push_back(number);
    }
    if (numbers.empty()) {
        numbers.push_back(0);
    }
    return numbers;
}

bool KVUpdater::isNewer(std::string_view a, std::string_view b) {
    const auto left = parts(a);
    const auto right = parts(b);
    for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const int64_t x = i < left.size() ? left[i] : 0;
        const int64_t y = i < right.size() ? right[i] : 0;
        if (x != y) {
            return x > y;
        }
    }
    return false;
}

void KVUpdater::checkWithHandler(Handler handler) {
    KVBackground(KVQoS::utility).async([api = api_, handler = std::move(handler)] {
        auto answer = api->latestVersion(nullptr);
        if (!answer) {
            return;
        }
        const std::string version = KVJsonString(KVJsonAt(*answer, "version"), "");
        if (version.empty() || !isNewer(version, KVPlatformTexts::kVersion) ||
            !KVJsonAt(*answer, "url").is_string()) {
            return;
        }
        KVMain().async([handler, answer = std::move(*answer)] { handler(answer); });
    });
}

bool KVUpdater::canReplaceItself() const {
    return KVMayReplaceBundle(options_.bundle);
}

std::string KVUpdater::downloadPage() const {
    return api_->baseURL() + "/download";
}

void KVUpdater::installFromURL(const std::string& url, const std::string& sha256, Progress progress,
                               Completion completion) {
    if (!canReplaceItself()) {
        KVLog("Update: %s can't replace itself; offering the download page",
              options_.bundle.empty() ? "this installation" : options_.bundle.c_str());
        KVUpdateOutcome outcome{KVUpdateOutcome::Kind::openDownloadPage, {}, downloadPage()};
        KVMain().async([completion = std::move(completion), outcome] {
            if (completion) {
                completion(outcome);
            }
        });
        return;
    }
    auto job = std::make_shared<Job>();
    {
        std::lock_guard lock(mutex_);
        if (job_ && job_->running.load()) {
            return;
        }
        job_ = job;
    }
    KVBackground(KVQoS::userInitiated)
        .async([options = options_, url, sha256, job, progress = std::move(progress),
                completion = std::move(completion)] {
            // Progress is handed to the main thread as it comes, at the download's pace.
            const Progress report = [progress](int64_t received, int64_t expected) {
                if (progress) {
                    KVMain().async(
                        [progress, received, expected] { progress(received, expected); });
                }
            };
            const KVUpdateOutcome outcome = download(options, url, sha256, report, job->cancelled);
            job->running = false;
            KVMain().async([completion, outcome] {
                if (completion) {
                    completion(outcome);
                }
            });
        });
}

KVUpdateOutcome KVUpdater::download(const KVUpdaterOptions& options, const std::string& url,
                                    const std::string& sha256, const Progress& progress,
                                    const std::atomic<bool>& cancelled) {
    KVError error;
    const std::string directory = makePrivateDirectory(options.bundle, &error);
    if (directory.empty()) {
        return failure(error);
    }
    const std::string archive = KVJoinPath(directory, "update.zip");
    bool done = KVDownloadToFile(url, archive, options.download, progress, cancelled, &error);
    if (done && !sha256.empty()) {
        const auto actual = KVSha256HexOfFile(archive, &error);
        done = actual.has_value();
        if (done && *actual != lowercase(sha256)) {
            KVLog("Update: the archive's SHA-256 is %s, the service announced %s", actual->c_str(),
                  sha256.c_str());
            KVSetError(&error, KVAPIErrorDomain, 3, "The update could not be verified.");
            done = false;
        }
    }
    done = done && installZipWith(options, archive, &error);
    KVRemoveTree(directory);
    if (!done) {
        KVLog("Update: failed (%s)", error.message.c_str());
        return failure(error);
    }
    return KVUpdateOutcome{KVUpdateOutcome::Kind::installed, {}, ""};
}

void KVUpdater::cancel() {
    std::lock_guard lock(mutex_);
    if (job_) {
        job_->cancelled = true;
    }
}

void KVUpdater::removeOldBundle(const std::string& bundle) {
    if (bundle.empty()) {
        return;
    }
    KVRemoveBundle(bundle + ".old");
    // An update cut short (a crash, a power loss) left its private directory: ours alone,
    // 0700 and named by mkdtemp. Nothing else beside the bundle is touched.
    const std::string parent = std::filesystem::path(bundle).parent_path().string();
    if (DIR* list = ::opendir(parent.c_str())) {
        std::vector<std::string> leftovers;
        while (const dirent* entry = ::readdir(list)) {
            const std::string_view name = entry->d_name;
            struct stat info {};
            const std::string path = KVJoinPath(parent, name);
            if (name.starts_with(kPrivatePrefix) && name.size() == kPrivatePrefix.size() + 6 &&
                ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                info.st_uid == ::geteuid() && (info.st_mode & 07777) == 0700) {
                leftovers.push_back(path);
            }
        }
        ::closedir(list);
        for (const auto& path : leftovers) {
            KVRemoveTree(path);
        }
    }
}

bool KVUpdater::installZip(const std::string& archivePath, KVError* error) const {
    return installZipWith(options_, archivePath, error);
}

bool KVUpdater::installZipWith(const KVUpdaterOptions& options, const std::string& archivePath,
                               KVError* error) {
    if (!KVMayReplaceBundle(options.bundle)) {
        KVSetError(error, "KorvaneFile", EACCES, "This installation can't replace itself.");
        return false;
    }
    const std::string directory = makePrivateDirectory(options.bundle, error);
    if (directory.empty()) {
        return false;
    }
    bool done = KVUnpackUpdateZip(archivePath, directory, options.zip, error);
    const std::string app = done ? lastBundleIn(directory) : "";
    if (done && app.empty()) {
        KVSetError(error, KVAPIErrorDomain, 2, "The update held no app.");
        done = false;
    }
    done = done && KVSwapBundle(options.bundle, app, options.rename, error);
    KVRemoveTree(directory);
    if (!done) {
        return false;
    }
    KVLog("Update: installed in %s", options.bundle.c_str());
    KVError started;
    if (!options.start(KVJoinPath(options.bundle, "bin/korvane"), &started)) {
        // The new version is in place: the next start runs it.
        KVLog("Update: could not start the new version (%s)", started.message.c_str());
    }
    return true;
}
