#pragma once

#include "base/error.hpp"
#include "base/json.hpp"
#include "service/update_bundle.hpp"
#include "service/update_download.hpp"
#include "service/update_zip.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class KVAPI;

// How an update ended, for the controller.
struct KVUpdateOutcome {
    enum class Kind {
        installed,        // the new copy is in place and started: quit now
        failed,           // `error` says why; the installed program is unchanged
        openDownloadPage, // this installation can't replace itself: open `downloadPage`
    };
    Kind kind = Kind::failed;
    KVError error;
    std::string downloadPage;
};

// What the updater works on and how far it goes. Tests put their own bundle, limits and
// rename in; the program uses standard().
struct KVUpdaterOptions {
    std::string bundle; // the running bundle, "" when the program runs from none
    KVDownloadLimits download;
    KVZipLimits zip;
    KVRenameFunction rename;
    // Starts the new bin/korvane; KVStartDetached with our pid unless replaced.
    std::function<bool(const std::string& executable, KVError* error)> start;

    // The bundle of /proc/self/exe; plain http from the loopback in development builds only.
    static KVUpdaterOptions standard();
};

// Finds, fetches and installs new versions of the program. The check and the download run on
// background queues; every callback arrives on the main thread. One download at a time.
class KVUpdater {
public:
    // Errors of the updater are the service client's ("KorvaneAPI"): 1 "The update could not
    // be unpacked.", 2 "The update held no app.", 3 "The update could not be verified.";
    // others are the download's or the file system's own.
    using Handler = std::function<void(const KVJson& answer)>;
    using Progress = KVDownloadProgress;
    using Completion = std::function<void(const KVUpdateOutcome&)>;

    explicit KVUpdater(std::shared_ptr<KVAPI> api,
                       KVUpdaterOptions options = KVUpdaterOptions::standard());
    KVUpdater(const KVUpdater&) = delete;
    KVUpdater& operator=(const KVUpdater&) = delete;

    // The decimal numbers of a version text, at most four; [0] when it has none.
    static std::vector<int64_t> parts(std::string_view version);
    // Whether version `a` is strictly newer than `b` (missing numbers count as 0).
    static bool isNewer(std::string_view a, std::string_view b);

    // Asks the service for the latest version; calls `handler` with the whole answer on the
    // main thread only when it is newer than this program and names a download "url".
    void checkWithHandler(Handler handler);

    // Downloads the archive at `url`, checks it against `sha256` (the version answer's
    // "sha256"; "" when it gave none), unpacks it and swaps it in. When this installation can't
    // replace itself nothing is downloaded and the outcome is openDownloadPage. Ignored while a
    // download runs.
    void installFromURL(const std::string& url, const std::string& sha256, Progress progress,
                        Completion completion);

    // Stops the running download; its completion reports "The download was cancelled.". An
    // install already unpacking goes on.
    void cancel();

    // Whether accepting an offer will install it here (else the download page opens).
    bool canReplaceItself() const;
    // The service's download page.
    std::string downloadPage() const;

    // Removes the ".old" bundle a previous update left beside `bundle` (the running one by
    // default), only a real bundle and never what a link leads to, and the private
    // directories of updates that were cut short.
    static void removeOldBundle(const std::string& bundle = KVUpdaterOptions::standard().bundle);

    // Unpacks the archive at `archivePath` beside the running bundle, takes its app (the last
    // top-level bundle by name), swaps it in and starts it. Blocks; never on the main thread.
    bool installZip(const std::string& archivePath, KVError* error) const;

private:
    static bool installZipWith(const KVUpdaterOptions& options, const std::string& archivePath,
                               KVError* error);
    static KVUpdateOutcome download(const KVUpdaterOptions& options, const std::string& url,
                                    const std::string& sha256, const Progress& progress,
                                    const std::atomic<bool>& cancelled);

    struct Job {
        std::atomic<bool> cancelled{false};
        std::atomic<bool> running{true};
    };

    std::shared_ptr<KVAPI> api_;
    KVUpdaterOptions options_;
    mutable std::mutex mutex_;
    std::shared_ptr<Job> job_; // the download in progress, if any
};
