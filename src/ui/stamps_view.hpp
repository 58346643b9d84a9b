#pragma once

#include "draft/card.hpp"
#include "platform/geometry.hpp"
#include "ui/canvas.hpp"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The grade stamps drawn over the pack's cards in Arena's window: a badge with each card's
// grade (three moving dots while grading), a TAKE ring around the cards to pick and a NEXT
// ring around the runner-up. Plain C++ over a canvas; top-left origin, y down.
class KVStampsView {
public:
    std::vector<KVAdvice> advice;
    std::vector<KVNormRect> slots;
    std::set<std::string> bestNames;
    std::optional<std::string> nextName;
    bool pending = false;
    int64_t tick = 0;
    double width = 400;
    double height = 300;

    void drawRect(KVCanvas& canvas);
    // The badges alone: what a pulse step changes.
    void drawBadges(KVCanvas& canvas);
    void ring(KVCanvas& canvas, const KVRect& card, const KVColor& color, double lineWidth,
              std::string_view word, const KVColor& ink);

    // Where the stamps go, for shaping the window and repainting after a pulse step.
    struct Stamp {
        size_t row = 0; // into `advice`
        KVRect card;
        KVRect badge;
        enum Ring { none, take, next } ring = none;
    };
    std::vector<Stamp> stamps() const;
    static KVRect badgeRect(const KVRect& card);
    static KVRect tagRect(const KVRect& card);

private:
    void drawBadge(KVCanvas& canvas, const KVAdvice& row, const KVRect& badge);
};
