#include "ui/deck_view.hpp"

#include "base/ascii.hpp"
#include "ui/deck_window.hpp"
#include "ui/drawing.hpp"

#include <algorithm>

namespace {

constexpr double kPip = 15;
constexpr double kPipStep = 17;

bool contains(const KVRect& rect, const KVPoint& point) {
    return point.x >= rect.x && point.x < rect.x + rect.width && point.y >= rect.y &&
           point.y < rect.y + rect.height;
}

// A pip's colour key and the letter it shows: a hybrid symbol is coloured by its last half;
// a long coloured symbol shows its first character only ({2/W} shows 2 on white).
struct Pip {
    KVColor color;
    std::string letter;
};

Pip pipFor(const std::string& symbol) {
    const bool allDigits = std::all_of(symbol.begin(), symbol.end(), KVIsAsciiDigit);
    if (allDigits) {
        return {KVHex("#CAC5C0"), symbol};
    }
    const size_t slash = symbol.rfind('/');
    const std::string key = slash == std::string::npos ? symbol : symbol.substr(slash + 1);
    return {PipColor(key), symbol.size() >= 3 ? symbol.substr(0, 1) : symbol};
}

} // namespace

void KVDeckView::drawRect(KVCanvas& canvas) {
    layout(canvas, false);
    layout(canvas, true);
}

void KVDeckView::layout(KVCanvas& canvas, bool draw) {
    const double W = kWidth;
    if (draw) {
        KVColor background{9 / 255.0, 12 / 255.0, 18 / 255.0, 246 / 255.0};
        KVFillRounded(canvas, background, KVHex("#d4af6a").withAlpha(0.22),
                      {0.5, 0.5, W - 1, contentHeight - 1}, 14, 1);
        KVDrawText(canvas, "Korvane \u00B7 Deck", KVSerif(16), KVHex("#e8d5a3"), 0, false,
                   {16, 12, W - 62, 22});
    }
    closeRect = {W - 40, 12, 24, 22};
    if (draw) {
        KVDrawText(canvas, "\u2715", KVFont(14, false), KVHex("#8a94a3"), 1, false, closeRect);
    }

    const double th = KVTextHeight(canvas, content.title, KVFont(14, true), true, W - 32);
    if (draw) {
        KVDrawText(canvas, content.title, KVFont(14, true), KVHex("#f2f5fa"), 0, true,
                   {16, 42, W - 32, th});
    }
    double y = 42 + th + 4;
    if (!content.sub.empty()) {
        const double sh = KVTextHeight(canvas, content.sub, KVFont(12, false), true, W - 32);
        if (draw) {
            KVDrawText(canvas, content.sub, KVFont(12, false), KVHex("#8a94a3"), 0, true,
                       {16, y, W - 32, sh});
        }
        y += sh + 8;
    }
    for (const auto& [heading, text] :
         {std::pair<const char*, const std::string&>{"WHY THIS BUILD", content.reasoning},
          {"HOW TO PLAY IT", content.howToPlay}}) {
        if (text.empty()) {
            continue;
        }
        const double t = KVTextHeight(canvas, text, KVFont(12, false), true, W - 56);
        if (draw) {
            KVFillRounded(canvas, KVColor{1, 1, 1, 0.03}, KVColor{1, 1, 1, 0.08},
                          {16, y, W - 32, t + 34}, 10, 1);
            KVDrawText(canvas, heading, KVFont(10, true), KVHex("#6f7b8b"), 0, false,
                       {28, y + 10, W - 56, 12});
            KVDrawText(canvas, text, KVFont(12, false), KVHex("#c7d0dc"), 0, true,
                       {28, y + 24, W - 56, t});
        }
        y += t + 44;
    }

    copyRect = {};
    if (content.maindeck.empty() && content.sideboard.empty()) {
        // Building or failed: no tabs.
        deckTab = {};
        sideTab = {};
        contentHeight = y + 12;
        return;
    }
    deckTab = {16, y, 80, 24};
    sideTab = {110, y, 90, 24};
    if (draw) {
        for (const auto& [box, name, label] :
             {std::tuple{deckTab, "deck", "DECKLIST"}, std::tuple{sideTab, "side", "SIDEBOARD"}}) {
            const bool selected = tab == name;
            KVDrawText(canvas, label, KVFont(12, true), KVHex(selected ? "#e8d5a3" : "#8a94a3"), 0,
                       false, box);
            if (selected) {
                const double width = KVTextWidth(canvas, label, KVFont(12, true));
                KVFillRounded(canvas, KVHex("#d4af6a"), std::nullopt, {box.x, box.y + 24, width, 2},
                              0, 0);
            }
        }
    }
    y += 34;
    y = drawRows(canvas, y, draw);

    if (tab == "deck" && !content.arenaText.empty()) {
        y += 8;
        copyRect = {16, y, W - 32, 30};
        if (draw) {
            KVFillRounded(canvas, KVHex("#d4af6a").withAlpha(0.08),
                          KVHex("#d4af6a").withAlpha(0.35), copyRect, 8, 1);
            KVDrawText(canvas, copied ? kCopiedTitle : kCopyTitle, KVFont(12, true),
                       KVHex("#e8d5a3"), 1, false, copyRect);
        }
        y += 30;
    }
    contentHeight = y + 12;
}

double KVDeckView::drawRows(KVCanvas& canvas, double y, bool draw) {
    const double W = kWidth;
    const std::vector<KVDeckRow>& rows = tab == "deck" ? content.maindeck : content.sideboard;
    if (rows.empty()) {
        if (draw) {
            KVDrawText(canvas,
                       tab == "side" ? "Every card in the pool made the deck." : "No cards yet.",
                       KVFont(12, false), KVHex("#9aa4b2"), 0, false, {16, y, W - 32, 16});
        }
        return y + 22;
    }
    for (const KVDeckRow& row : rows) {
        const bool head = row.kind == "Head";
        if (draw) {
            if (head) {
                KVDrawText(canvas, row.text, KVFont(10, true), KVHex("#6f7b8b"), 0, false,
                           {16, y + 6, W - 132, 18});
            } else {
                KVDrawText(canvas, row.text, KVFont(12, false),
                           KVHex(row.kind == "Land" ? "#9aa4b2" : "#e6ebf2"), 0, false,
                           {16, y, W - 132, 18});
            }
            if (row.cost && !row.cost->empty()) {
                drawPips(canvas, *row.cost, y);
            }
        }
        y += head ? 26 : 20;
    }
    return y;
}

void KVDeckView::drawPips(KVCanvas& canvas, const std::string& cost, double y) {
    const std::vector<std::string> symbols = ParseCost(cost);
    double x = kWidth - 16 - kPipStep * double(symbols.size());
    for (const std::string& symbol : symbols) {
        const Pip pip = pipFor(symbol);
        const KVRect circle{x, y + 1, kPip, kPip};
        KVFillRounded(canvas, pip.color, std::nullopt, circle, kPip / 2, 0);
        KVDrawText(canvas, pip.letter, KVFont(9, true), KVHex("#1A1512"), 1, false, circle);
        x += kPipStep;
    }
}

void KVDeckView::mouseDragged(const KVPoint& screenPoint) {
    const auto delta = drag.moveTo(screenPoint);
    if (auto window = owner.lock(); window && delta) {
        window->dragBy(*delta);
    }
}

void KVDeckView::mouseUp(const KVPoint& viewPoint) {
    if (drag.dragged) {
        return;
    }
    auto window = owner.lock();
    if (!window) {
        return;
    }
    if (contains(closeRect, viewPoint)) {
        window->hide();
    } else if (contains(deckTab, viewPoint)) {
        tab = "deck";
        window->refit();
    } else if (contains(sideTab, viewPoint)) {
        tab = "side";
        window->refit();
    } else if (contains(copyRect, viewPoint)) {
        window->copyForArena();
    }
}
