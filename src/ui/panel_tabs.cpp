// The TABLE and DECK tabs of the panel's draft body: the read of the other drafters and of the
// pool so far.
#include "base/utf8.hpp"
#include "draft/draft_session.hpp"
#include "ui/drawing.hpp"
#include "ui/panel_text.hpp"
#include "ui/panel_view.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

using kv_panel::joined;
using kv_panel::printed;
using kv_panel::replaceAll;
using kv_panel::white;

double KVPanelView::drawTableAt(double top, double left, double width, bool draw) {
    KVCanvas& canvas = *canvas_;
    const KVFontSpec lf = KVFont(9, true);
    const KVFontSpec tf = KVFont(10, false);
    const KVJson& table = shown().table;
    const KVJson& colorsValue = KVJsonAt(table, "colours");
    const KVJson colors = colorsValue.is_array() ? colorsValue : KVJson::array();
    double y = top;

    if (colors.empty()) {
        if (draw) {
            KVDrawText(canvas, "NOTHING SEEN YET", lf, KVHex("#6f7b8b"), 0, false,
                       {left, y, width, 12});
        }
        const std::string text =
            "The read builds as packs come round. Nothing to say on the first few picks.";
        const double h = KVTextHeight(canvas, text, tf, true, width);
        if (draw) {
            KVDrawText(canvas, text, tf, KVHex("#8a94a3"), 0, true, {left, y + 18, width, h});
        }
        return y + 18 + h + 12;
    }

    std::vector<std::string> header;
    const std::string pack = KVS(KVJsonAt(table, "pack"));
    header.push_back("PACK " + (pack.empty() ? std::string("?") : pack));
    const KVJson& from = KVJsonAt(table, "from");
    if (from.is_string() && !from.get<std::string>().empty()) {
        header.push_back("FROM THE " + from.get<std::string>());
    }
    const KVJson& wheelsAt = KVJsonAt(table, "wheelsAt");
    const int64_t wheel = wheelsAt.is_number() ? KVJsonInt64(wheelsAt, 0) : 0;
    header.push_back(wheel != 0 ? printed("WHEELS AT P%" PRId64, wheel) : "NO WHEEL");
    const KVJson& bots = KVJsonAt(table, "bots");
    if (bots.is_boolean() && bots.get<bool>()) {
        header.emplace_back("BOTS — WEAK EVIDENCE");
    }
    const std::string headerText = joined(header, "  ·  ");
    const double hh = KVTextHeight(canvas, headerText, lf, true, width);
    if (draw) {
        KVDrawText(canvas, headerText, lf, KVHex("#6f7b8b"), 0, true, {left, y, width, hh});
    }
    y += hh + 8;

    double scale = 1.0;
    for (const KVJson& entry : colors) {
        scale = std::max(scale, KVJsonDouble(KVJsonAt(entry, "score"), 0));
    }
    const double bx = left + 22;
    const double bw = width - 108;
    for (const KVJson& entry : colors) {
        if (draw) {
            std::string colour = KVS(KVJsonAt(entry, "colour"));
            colour = colour.empty() ? "?" : colour;
            const double score = KVJsonDouble(KVJsonAt(entry, "score"), 0);
            const KVJson& tierValue = KVJsonAt(entry, "tier");
            const std::string tier = tierValue.is_string() ? tierValue.get<std::string>() : "";
            KVDrawText(canvas, colour, KVFont(12, true), KVBarColors({colour}).front(), 0, false,
                       {left, y, 14, 16});
            KVFillRounded(canvas, white().withAlpha(0.06), std::nullopt, {bx, y + 5, bw, 6}, 3, 0);
            KVFillRounded(canvas, TierColor(tier), std::nullopt,
                          {bx, y + 5, std::clamp(score / scale * bw, 2.0, std::max(2.0, bw)), 6}, 3,
                          0);
            char number[32];
            std::snprintf(number, sizeof number, "%.1f", score);
            KVDrawText(canvas, number, KVFont(11, true), KVHex("#d7dee8"), 2, false,
                       {bx + bw + 4, y, 26, 16});
            std::string upper = tier;
            std::transform(upper.begin(), upper.end(), upper.begin(),
                           [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; });
            KVDrawText(canvas, upper, KVFont(9, true), TierColor(tier), 0, false,
                       {bx + bw + 34, y, 52, 16});
        }
        y += 21;
    }

    std::vector<const KVJson*> ranked;
    for (const KVJson& entry : colors) {
        ranked.push_back(&entry);
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const KVJson* a, const KVJson* b) {
        return KVJsonDouble(KVJsonAt(*a, "score"), 0) > KVJsonDouble(KVJsonAt(*b, "score"), 0);
    });
    std::vector<std::string> notes;
    for (size_t i = 0; i < std::min<size_t>(2, ranked.size()); ++i) {
        const KVJson& entry = *ranked[i];
        std::vector<std::string> items;
        const KVJson& late = KVJsonAt(entry, "late");
        if (late.is_array()) {
            for (size_t j = 0; j < std::min<size_t>(2, late.size()); ++j) {
                items.push_back(KVS(late[j]));
            }
        }
        const KVJson& wheeled = KVJsonAt(entry, "wheeled");
        if (wheeled.is_array() && !wheeled.empty()) {
            items.push_back(KVS(wheeled[0]) + " wheeled");
        }
        if (!items.empty()) {
            notes.push_back(KVS(KVJsonAt(entry, "colour")) + ": " + joined(items, ", "));
        }
    }
    const KVJson& cutsValue = KVJsonAt(table, "cuts");
    if (cutsValue.is_string() && !KVTrimmed(cutsValue.get<std::string>()).empty()) {
        std::string cuts = cutsValue.get<std::string>();
        replaceAll(cuts, "P1 cuts:", "Your pack 1 cuts:");
        notes.push_back(cuts);
    }
    const std::string noteText = joined(notes, "  ·  ");
    if (!noteText.empty()) {
        const double h = KVTextHeight(canvas, noteText, tf, true, width);
        if (draw) {
            KVDrawText(canvas, noteText, tf, KVHex("#8a94a3"), 0, true, {left, y + 2, width, h});
        }
        y += h;
    }
    return y + 12;
}

double KVPanelView::drawDeckAt(double top, double left, double width, bool draw) {
    KVCanvas& canvas = *canvas_;
    const KVFontSpec f = KVFont(10, false);
    const KVJson& read = shown().poolRead;
    double y = top;
    if (!read.is_object() || read.empty()) {
        if (draw) {
            KVDrawText(canvas, "Nothing drafted yet.", f, KVHex("#8a94a3"), 0, false,
                       {left, y, width, 14});
        }
        return y + 20;
    }
    const auto figure = [&read](std::string_view key, std::string_view missing) {
        const std::string text = KVS(KVJsonAt(read, key));
        return text.empty() ? std::string(missing) : text;
    };
    const std::pair<std::string_view, std::string> figures[] = {
        {"PLAYABLES", figure("playables", "0") + "/" + figure("target", "23")},
        {"CREATURES", figure("creatures", "0")},
        {"REMOVAL", figure("removal", "0")},
        {"LEFT TO TAKE", figure("cardsLeft", "0")},
        {"TRICKS", figure("tricks", "0")},
        {"FIXING", figure("fixing", "0")}};
    const double cw = (width - 16) / 3;
    if (draw) {
        for (size_t i = 0; i < 6; ++i) {
            const double cx = left + double(i % 3) * (cw + 8);
            const size_t row = i / 3;
            const double cy = y + double(row) * 34;
            KVDrawText(canvas, figures[i].first, KVFont(9, true), KVHex("#6f7b8b"), 0, false,
                       {cx, cy, cw, 12});
            KVDrawText(canvas, figures[i].second, KVFont(12, true), KVHex("#dfe5ee"), 0, false,
                       {cx, cy + 13, cw, 16});
        }
    }
    y += 70;

    std::string curve = "Curve";
    const KVJson& curveMap = KVJsonAt(read, "curve");
    for (const char* key : {"1", "2", "3", "4", "5", "6+"}) {
        const std::string value = KVS(KVJsonAt(curveMap, key));
        curve += std::string("   ") + key + ":" + (value.empty() ? "0" : value);
    }
    if (draw) {
        KVDrawText(canvas, curve, KVFont(11, false), KVHex("#c7d0dc"), 0, false,
                   {left, y, width, 14});
    }
    y += 20;

    const KVJson& shortOn = KVJsonAt(read, "shortOn");
    const std::string shortfall = shortOn.is_array() && !shortOn.empty()
                                      ? "Short on " + joined(shortOn, ", ") + "."
                                      : "Nothing glaring missing.";
    const double h = KVTextHeight(canvas, shortfall, f, true, width);
    if (draw) {
        KVDrawText(canvas, shortfall, f, KVHex("#8a94a3"), 0, true, {left, y, width, h});
    }
    return y + h + 12;
}
