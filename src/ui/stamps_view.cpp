#include "ui/stamps_view.hpp"

#include "base/utf8.hpp"
#include "ui/drawing.hpp"

#include <algorithm>

namespace {

const char* const kPendingDots[3] = {"·  ", " · ", "  ·"};

} // namespace

KVRect KVStampsView::badgeRect(const KVRect& card) {
    return {card.x + std::max(0.04 * card.width, 4.0), card.y + 0.115 * card.height,
            std::max(0.4 * card.width, 40.0), std::max(0.11 * card.height, 20.0)};
}

KVRect KVStampsView::tagRect(const KVRect& card) {
    const double tw = std::max(0.36 * card.width, 44.0);
    const double th = std::max(0.085 * card.height, 16.0);
    return {card.x + (card.width - tw) * 0.5,
            card.y + card.height - th - std::max(0.03 * card.height, 6.0), tw, th};
}

std::vector<KVStampsView::Stamp> KVStampsView::stamps() const {
    std::vector<Stamp> all;
    if (advice.empty() || slots.empty()) {
        return all;
    }
    // The runner-up is named as the service spells it: matched ignoring case, as the panel's
    // "Next:" line is.
    const std::string next = nextName ? KVLowercase(*nextName) : std::string();
    for (size_t i = 0; i < advice.size(); ++i) {
        const KVAdvice& row = advice[i];
        if (row.slot < 0 || row.slot >= int64_t(slots.size())) {
            continue;
        }
        const KVNormRect& slot = slots[size_t(row.slot)];
        Stamp stamp;
        stamp.row = i;
        stamp.card = {width * slot.x, height * slot.y, width * slot.width, height * slot.height};
        stamp.badge = badgeRect(stamp.card);
        const std::string name = row.card ? row.card->name : std::string();
        if (bestNames.count(name) > 0) {
            stamp.ring = Stamp::take;
        } else if (!next.empty() && KVLowercase(name) == next) {
            stamp.ring = Stamp::next;
        }
        all.push_back(stamp);
    }
    return all;
}

void KVStampsView::drawBadge(KVCanvas& canvas, const KVAdvice& row, const KVRect& badge) {
    std::string text;
    KVColor color;
    if (pending) {
        text = kPendingDots[((tick % 3) + 3) % 3];
        color = KVHex("#8FA3BF");
    } else {
        text = row.grade.empty() ? "?" : row.grade;
        color = KVGradeColor(text);
    }
    KVFillRounded(canvas, KVColor{10 / 255.0, 14 / 255.0, 22 / 255.0, 210 / 255.0}, color, badge, 4,
                  2);
    KVDrawText(canvas, text, KVFont(std::max(0.42 * badge.height, 8.0), true), color, 1, false,
               badge);
}

void KVStampsView::drawBadges(KVCanvas& canvas) {
    for (const Stamp& stamp : stamps()) {
        drawBadge(canvas, advice[stamp.row], stamp.badge);
    }
}

void KVStampsView::drawRect(KVCanvas& canvas) {
    for (const Stamp& stamp : stamps()) {
        drawBadge(canvas, advice[stamp.row], stamp.badge);
        if (stamp.ring == Stamp::take) {
            ring(canvas, stamp.card, KVHex("#3DDC84"), 3, "TAKE", KVHex("#07110b"));
        } else if (stamp.ring == Stamp::next) {
            ring(canvas, stamp.card, KVHex("#E8D5A3"), 2, "NEXT", KVHex("#1b1608"));
        }
    }
}

void KVStampsView::ring(KVCanvas& canvas, const KVRect& card, const KVColor& color,
                        double lineWidth, std::string_view word, const KVColor& ink) {
    KVFillRounded(canvas, std::nullopt, color,
                  {card.x + 2, card.y + 2, card.width - 4, card.height - 4}, 6, lineWidth);
    const KVRect tag = tagRect(card);
    KVFillRounded(canvas, color, std::nullopt, tag, tag.height * 0.5, 0);
    KVDrawText(canvas, word, KVFont(std::max(0.5 * tag.height, 7.0), true), ink, 1, false, tag);
}
