#include "app/app.hpp"

#include "app/hotkeys.hpp"
#include "app/vision_runner.hpp"
#include "base/config.hpp"
#include "base/platform_texts.hpp"
#include "draft/catalog.hpp"
#include "draft/draft_session.hpp"
#include "ui/deck_window.hpp"
#include "ui/overlay_window.hpp"
#include "ui/panel.hpp"
#include "ui/settings.hpp"
#include "ui/stamps.hpp"
#include "vision/capture.hpp"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <iterator>
#include <set>

namespace {

// Whether the session's pack is worth looking for on screen.
bool visionInDraftFor(const KVDraftSession& session) {
    if (!session.pack.empty()) {
        return true;
    }
    return !session.completed && session.packNumber >= 1;
}

// The window's id while it is on screen, else 0.
uint32_t shownId(const QWidget* window) {
    return window != nullptr && window->isVisible() ? uint32_t(window->winId()) : 0;
}

// Every window of this program on screen, as the root's children that hold them: the settings
// card's window-manager frame, and the menus and tooltips Qt opens, never count as covering
// the overlay.
std::set<uint32_t> ourTopLevels(KVWindowStacking& stacking) {
    std::set<uint32_t> ours;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible()) {
            continue;
        }
        const auto id = uint32_t(window->winId());
        const bool bypass = window->flags().testFlag(Qt::X11BypassWindowManagerHint) ||
                            window->type() == Qt::Popup || window->type() == Qt::ToolTip;
        ours.insert(bypass ? id : stacking.topLevelOf(id));
    }
    return ours;
}

// Whether a window that is not ours stands above `window` in `order` (bottom first). A window
// missing from the order is not mapped, so nothing covers it.
bool coveredIn(const std::vector<uint32_t>& order, uint32_t window,
               const std::set<uint32_t>& ours) {
    const auto at = std::find(order.begin(), order.end(), window);
    return at != order.end() && std::any_of(std::next(at), order.end(),
                                            [&](uint32_t above) { return ours.count(above) == 0; });
}

} // namespace

void KVApp::tickArena() {
    if (!active) {
        return;
    }
    arena = KVCapture::findArena();
    if (!arena && packOnScreen) {
        visionLost();
    }
    const bool found = arena.has_value();
    const bool front = found && (arena->focused || KVCapture::frontmostIsUs());

    visionInDraft = visionInDraftFor(*session);
    if (vision) {
        KVVisionInputs inputs;
        inputs.enabled = KVJsonBool(KVJsonAt(cfg, "vision_enabled"), true);
        inputs.inDraft = visionInDraft;
        inputs.arena = arena;
        inputs.packSize = int64_t(session->pack.size());
        inputs.candidates = std::make_shared<const std::vector<KVCardRef>>(session->pack);
        inputs.catalogCards = catalog->cards().size();
        inputs.stampsHidden = !front;
        vision->setInputs(std::move(inputs));
    }

    panel->setArenaRunning(found, KVCapture::arenaInstalled());
    if (hotkeys) {
        hotkeys->setArenaPresent(found);
    }
    if (!found) {
        stamps->hide();
        panel->setAlwaysOnTop(false);
        if (panelWanted && !panel->isVisible()) {
            panel->show();
        }
        return;
    }
    const KVRect frame = KVCapture::cocoaRectFromQuartz(arena->bounds);
    if (!front) {
        arenaInFront = false;
        stamps->hide();
        if (forcedVisible) {
            panel->setAlwaysOnTop(false);
        } else {
            panel->hide();
        }
        return;
    }
    forcedVisible = false;
    panel->setAlwaysOnTop(true);
    stamps->setFrame(frame);
    stamps->show();
    if (settingsOpen) {
        if (QWidget* scrim = settings->scrim()) {
            KVSetWindowScreenFrame(*scrim, frame);
            scrim->update();
        }
    }
    placePanel(frame);
    if (panelWanted) {
        panel->show();
    }
    if (!arenaInFront) {
        arenaInFront = true;
        panel->floatOver();
        if (QWidget* window = stamps->window()) {
            KVFloatOverEverything(*window);
        }
    } else {
        raiseCoveredOverlay();
    }
}

void KVApp::raiseCoveredOverlay() {
    const auto stacking = services_.platform()->stacking;
    if (!stacking) {
        return;
    }
    const auto order = stacking->order();
    if (!order) {
        return;
    }
    const uint32_t scrim = settingsOpen ? shownId(settings->scrim()) : 0;
    // Raised in this order, so the stamps end above the panel as on the first tick in front.
    const uint32_t watched[] = {shownId(panel->window()), shownId(stamps->window()),
                                deckWindow ? shownId(deckWindow->window()) : 0, scrim};
    const std::set<uint32_t> ours = ourTopLevels(*stacking);
    for (const uint32_t window : watched) {
        if (window == 0 || !coveredIn(*order, window, ours)) {
            continue;
        }
        stacking->raise(window);
        if (window == scrim) {
            settings->keepScrimUnderCard();
        }
    }
}

void KVApp::placePanel(const KVRect& frame) {
    panel->setArenaRect(frame);
    if (panel->dragging) {
        return;
    }
    const KVPoint size = panel->size();
    const KVJson& storedX = KVJsonAt(cfg, "panel_dx");
    const KVJson& storedY = KVJsonAt(cfg, "panel_dy");
    // A lone offset, or one of another type, says nothing about where the user put the panel.
    const bool stored = storedX.is_number() && storedY.is_number();
    const double dx = stored ? storedX.get<double>() : frame.width - size.x - 24;
    const double dy = stored ? storedY.get<double>() : 72;
    double left = frame.x + dx;
    double top = frame.y + frame.height - dy;
    // Inside Arena's window; a panel larger than it keeps to its left and top edges.
    left = std::max(std::min(left, frame.x + frame.width - size.x), frame.x);
    top = std::min(std::max(top, frame.y + size.y), frame.y + frame.height);
    panel->moveTo({left, top});
}

void KVApp::panelMoved() {
    // Without Arena there is nothing to keep the spot relative to.
    if (!arena) {
        return;
    }
    const KVRect frame = KVCapture::cocoaRectFromQuartz(arena->bounds);
    const KVPoint corner = panel->topLeft();
    cfg["panel_dx"] = corner.x - frame.x;
    cfg["panel_dy"] = frame.y + frame.height - corner.y;
    KVConfig::save(cfg);
}

void KVApp::launchArena() {
    if (!KVCapture::launchArena()) {
        if (const auto shell = services_.platform()->shell) {
            shell->alert(
                "MTG Arena not found",
                "Korvane couldn't find MTG Arena " + std::string(KVPlatformTexts::kOnThisComputer) +
                    ". Start Arena yourself and Korvane will pick it up automatically. If "
                    "Arena is installed somewhere unusual, set KORVANE_ARENA_EXE to " +
                    std::string(KVPlatformTexts::kArenaExecutable) + " and restart Korvane.",
                {"OK"});
        }
        return;
    }
    // The tracker finds the window once it appears.
    session->status = "Starting MTG Arena\u2026";
    refreshUI();
}
