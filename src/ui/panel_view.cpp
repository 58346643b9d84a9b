#include "ui/panel_view.hpp"

#include "base/platform_texts.hpp"
#include "draft/draft_session.hpp"
#include "ui/drawing.hpp"
#include "ui/panel.hpp"

namespace {

std::string footerText() {
    const std::string modifier(KVPlatformTexts::kModifierName);
    return modifier + "+S settings · " + modifier + "+D draft data";
}

std::string notInstalledText() {
    return "Korvane couldn't find Arena " + std::string(KVPlatformTexts::kOnThisComputer) +
           ". Start it yourself and Korvane will pick it up.";
}

bool contains(const KVRect& rect, const KVPoint& point) {
    return point.x >= rect.x && point.x < rect.x + rect.width && point.y >= rect.y &&
           point.y < rect.y + rect.height;
}

} // namespace

void KVPanelView::hit(const KVRect& rect, std::string_view action) {
    hits.push_back({rect, std::string(action)});
}

void KVPanelView::drawRect(KVCanvas& canvas) {
    layout(canvas, false);
    layout(canvas, true);
}

void KVPanelView::measure(KVCanvas& canvas) {
    layout(canvas, false);
}

void KVPanelView::layout(KVCanvas& canvas, bool draw) {
    canvas_ = &canvas;
    hits.clear();
    const double W = kWidth;
    if (draw) {
        KVFillRounded(canvas, KVHex("#0b0f16"), KVHex("#d4af6a").withAlpha(0.2),
                      {0.5, 0.5, W - 1, contentHeight - 1}, 14, 1);
        KVDrawText(canvas, "Korvane", KVSerif(18), KVHex("#e8d5a3"), 0, false, {16, 12, 120, 24});
        if (session && !session->credits.is_null()) {
            const std::string credits = KVS(session->credits);
            if (!credits.empty()) {
                KVDrawText(canvas, credits + " credits", KVFont(12, false), KVHex("#7f8a99"), 2,
                           false, {136, 16, W - 208, 18});
            }
        }
        KVDrawText(canvas, minimized ? "▸" : "▾", KVFont(15, false), KVHex("#8a94a3"), 1, false,
                   {W - 68, 12, 24, 24});
        KVDrawText(canvas, "✕", KVFont(14, false), KVHex("#8a94a3"), 1, false,
                   {W - 40, 12, 24, 24});
    }
    hit({W - 68, 12, 24, 24}, "min");
    hit({W - 40, 12, 24, 24}, "close");

    double y = 48;
    if (!minimized) {
        if (arenaRunning) {
            y = drawBodyAt(46, 16, W - 32, draw);
        } else {
            if (draw) {
                KVDrawText(canvas, "MTG Arena isn't running", KVFont(14, true), KVHex("#e6ebf2"), 0,
                           false, {16, 46, W - 32, 20});
            }
            const std::string message =
                arenaInstalled
                    ? "Start Arena and queue a draft — grades appear as each pack opens.\n\n"
                      "Arena only writes the pack data Korvane reads when Detailed Logs (Plugin "
                      "Support) is on: Arena → Settings → Account. Restart Arena after turning "
                      "it on."
                    : notInstalledText();
            const double h = KVTextHeight(canvas, message, KVFont(12, false), true, W - 32);
            if (draw) {
                KVDrawText(canvas, message, KVFont(12, false), KVHex("#8a94a3"), 0, true,
                           {16, 72, W - 32, h});
            }
            y = 72 + h + 12;
            if (arenaInstalled) {
                const KVRect button{16, y, W - 32, 34};
                if (draw) {
                    KVFillRounded(canvas, KVHex("#d4af6a"), std::nullopt, button, 8, 0);
                    KVDrawText(canvas, "Launch MTG Arena", KVFont(13, true), KVHex("#14181f"), 1,
                               false, button);
                }
                hit(button, "launch");
                y += 44;
            }
        }
        if (draw) {
            KVDrawText(canvas, footerText(), KVFont(10, false), KVHex("#5b6674"), 0, false,
                       {16, y, W - 32, 14});
        }
        y += 16;
    }
    contentHeight = y + 8;
    canvas_ = nullptr;
}

void KVPanelView::mouseDragged(const KVPoint& screenPoint) {
    const auto delta = drag.moveTo(screenPoint);
    if (auto panel = owner.lock(); panel && delta) {
        panel->dragBy(*delta);
    }
}

void KVPanelView::mouseUp(const KVPoint& viewPoint) {
    auto panel = owner.lock();
    if (drag.dragged) {
        if (panel) {
            panel->dragEnded();
        }
        return;
    }
    for (const KVHit& region : hits) {
        if (contains(region.rect, viewPoint)) {
            // The tap may re-render and so rebuild the hits: act on a copy of the action.
            const std::string action = region.action;
            if (panel) {
                panel->tapped(action);
            }
            return;
        }
    }
}
