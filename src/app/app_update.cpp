// The controller's side of self-updating: the check at launch, the offer, the download with its
// progress window, and what happens when it ends.
#include "app/app.hpp"

#include "base/log.hpp"
#include "service/api.hpp"
#include "service/updater.hpp"

#include <algorithm>
#include <cstdio>

namespace {

constexpr double kBytesPerMB = 1048576.0;

std::string megabytes(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(bytes) / kBytesPerMB);
    return text;
}

} // namespace

void KVApp::checkForUpdates() {
    if (!updater) {
        updater = std::make_shared<KVUpdater>(api, services_.updater);
    }
    // The updater answers on the main thread, and only for a newer version with a download.
    updater->checkWithHandler([weak = weak()](const KVJson& info) {
        auto self = weak.lock();
        if (self && !self->shutDown) {
            self->offerUpdate(info);
        }
    });
}

void KVApp::offerUpdate(const KVJson& info) {
    if (updatePrompted) {
        return;
    }
    updatePrompted = true;
    const auto shell = services_.platform()->shell;
    if (!shell) {
        KVLog("Update: no desktop shell to offer it with");
        return;
    }
    const std::string version = KVJsonString(KVJsonAt(info, "version"), "");
    const std::string notes = KVJsonString(KVJsonAt(info, "notes"), "");
    const bool mandatory = KVJsonBool(KVJsonAt(info, "mandatory"), false);
    const std::string text =
        "Korvane " + version + " is available." + (notes.empty() ? "" : "\n\n") + notes;
    const int chosen = shell->alert("Update available", text,
                                    mandatory ? std::vector<std::string>{"Update"}
                                              : std::vector<std::string>{"Update now", "Later"});
    // A mandatory update has nothing to decline: closing its alert still updates.
    if (mandatory || chosen == 0) {
        downloadUpdate(KVJsonString(KVJsonAt(info, "url"), ""),
                       KVJsonString(KVJsonAt(info, "sha256"), ""));
    }
}

void KVApp::downloadUpdate(const std::string& url, const std::string& sha256) {
    if (!updater) {
        updater = std::make_shared<KVUpdater>(api, services_.updater);
    }
    if (!updater->canReplaceItself()) {
        // A system package, a read-only install or a build tree: the user fetches it.
        openDownloadPage(updater->downloadPage());
        return;
    }
    if (const auto shell = services_.platform()->shell) {
        shell->showProgress("Updating Korvane", "Contacting " + api->host() + "\u2026",
                            std::nullopt);
    }
    updater->installFromURL(
        url, sha256,
        [weak = weak()](int64_t received, int64_t expected) {
            auto self = weak.lock();
            if (self && !self->shutDown) {
                self->updateProgress(received, expected);
            }
        },
        [weak = weak()](const KVUpdateOutcome& outcome) {
            auto self = weak.lock();
            if (self && !self->shutDown) {
                self->updateFinished(outcome);
            }
        });
}

void KVApp::updateProgress(int64_t received, int64_t expected) {
    const auto shell = services_.platform()->shell;
    if (!shell) {
        return;
    }
    if (expected < 1) {
        shell->showProgress("Updating Korvane",
                            "Downloading Korvane\u2026 " + megabytes(received) + " MB",
                            std::nullopt);
        return;
    }
    shell->showProgress("Updating Korvane",
                        "Downloading Korvane\u2026 " + megabytes(received) + " MB of " +
                            megabytes(expected) + " MB",
                        std::clamp(double(received) / double(expected), 0.0, 1.0));
}

void KVApp::updateFinished(const KVUpdateOutcome& outcome) {
    if (const auto shell = services_.platform()->shell) {
        shell->hideProgress();
    }
    switch (outcome.kind) {
    case KVUpdateOutcome::Kind::installed:
        // The new copy is in place and waits for this one to go.
        KVLog("Update: installed; quitting for the new version");
        services_.quit();
        return;
    case KVUpdateOutcome::Kind::openDownloadPage:
        openDownloadPage(outcome.downloadPage);
        return;
    case KVUpdateOutcome::Kind::failed:
        updateFailed(outcome.error.message);
        return;
    }
}

void KVApp::openDownloadPage(const std::string& url) {
    KVLog("Update: opening %s", url.c_str());
    const auto launcher = services_.platform()->launcher;
    if (!launcher || !launcher->openUrl(url)) {
        // No browser to send the user to: at least tell them where to go.
        updateFailed("This installation can't replace itself.");
    }
}

void KVApp::updateFailed(const std::string& message) {
    KVLog("Update failed: %s", message.c_str());
    if (const auto shell = services_.platform()->shell) {
        shell->alert("Update failed",
                     "Could not install the update:\n" + message +
                         "\n\nYou can download it directly from " + api->host() + "/download.",
                     {"OK"});
    }
}
