#include "app/app.hpp"

#include "app/vision_runner.hpp"
#include "base/dispatch/queue.hpp"
#include "base/log.hpp"
#include "draft/draft_session.hpp"
#include "ui/deck_window.hpp"
#include "ui/drawing.hpp"
#include "ui/overlay_window.hpp"
#include "ui/panel.hpp"
#include "ui/settings.hpp"
#include "ui/stamps.hpp"
#include "vision/capture.hpp"

#include <cstdlib>

namespace {

// Frames smaller than this are a window caught mid-resize, not somewhere to put stamps.
constexpr double kSmallestFrame = 64;

std::string describeMatches(const std::vector<KVSlotMatch>& matches) {
    std::string out;
    char buffer[64];
    for (const KVSlotMatch& match : matches) {
        if (!out.empty()) {
            out += ' ';
        }
        out += std::to_string(match.index) + ':' + (match.card ? match.card->name : "?") + '(' +
               (match.method.empty() ? "-" : match.method);
        std::snprintf(buffer, sizeof buffer, ",x=%.3f,y=%.3f)", match.normRect.x, match.normRect.y);
        out += buffer;
    }
    return out;
}

} // namespace

void KVApp::startVision() {
    if (vision) {
        return;
    }
    capture = std::make_shared<KVCapture>();
    KVVisionRunner::Callbacks callbacks;
    callbacks.onVision = [weak = weak()](const KVVisionReport& report) {
        if (auto self = weak.lock(); self && !self->shutDown) {
            self->onVision(report);
        }
    };
    callbacks.onLost = [weak = weak()] {
        if (auto self = weak.lock(); self && !self->shutDown) {
            self->visionLost();
        }
    };
    vision = KVVisionRunner::create(std::make_unique<KVVisionLoop>(capture, artHashes),
                                    std::move(callbacks), *services_.main);
    vision->start();
}

void KVApp::onVision(const KVVisionReport& report) {
    if (std::getenv("KORVANE_DRAFT_DEBUG")) {
        KVLog("[draft] vision %lu slots in frame (%.0f,%.0f,%.0fx%.0f): %s",
              static_cast<unsigned long>(report.matches.size()), report.frame.x, report.frame.y,
              report.frame.width, report.frame.height, describeMatches(report.matches).c_str());
    }
    screenSlots.clear();
    // A pack read off the screen region may have our own stamps in it: the session learns
    // where its cards are, but no stamps go over them.
    if (!report.regionOnly) {
        for (const KVSlotMatch& match : report.matches) {
            screenSlots.push_back(match.normRect);
        }
    }
    packOnScreen = true;
    session->applyVision(report.matches);
    if (!report.regionOnly && report.frame.width >= kSmallestFrame &&
        report.frame.height >= kSmallestFrame) {
        stamps->setFrame(KVCapture::cocoaRectFromQuartz(report.frame));
    }
    refreshUI();
}

void KVApp::visionLost() {
    packOnScreen = false;
    screenSlots.clear();
    refreshUI();
}

void KVApp::allowScreenshot() {
    if (screenshotAllowed) {
        return;
    }
    screenshotAllowed = true;
    // The windows are taken afresh each time: the deck window may come or go meanwhile.
    const auto overlays = [this] {
        QWidget* deck = deckWindow ? deckWindow->window() : nullptr;
        return std::vector<QWidget*>{panel->window(), stamps->window(), settings->window(),
                                     deck ? deck : panel->window()};
    };
    KVSetScreenshotMode(true);
    for (QWidget* window : overlays()) {
        if (window) {
            KVShowInCapture(*window);
        }
    }
    services_.main->after(services_.screenshotHold, [weak = weak(), overlays] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        self->screenshotAllowed = false;
        KVSetScreenshotMode(false);
        for (QWidget* window : overlays()) {
            if (window) {
                KVHideFromCapture(*window);
            }
        }
    });
}
