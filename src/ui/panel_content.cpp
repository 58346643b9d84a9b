// The draft body of the panel: locked, draft complete, waiting, and the three tabs of a draft.
#include "base/utf8.hpp"
#include "draft/draft_session.hpp"
#include "ui/drawing.hpp"
#include "ui/panel_view.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace {

const KVColor& white() {
    static const KVColor color{1, 1, 1, 1};
    return color;
}

// The texts of a list's entries joined by `separator`; nothing for what is not a list.
std::string joined(const KVJson& list, std::string_view separator, size_t limit = SIZE_MAX) {
    std::string text;
    if (!list.is_array()) {
        return text;
    }
    size_t count = 0;
    for (const KVJson& entry : list) {
        if (count++ == limit) {
            break;
        }
        if (count > 1) {
            text += separator;
        }
        text += KVS(entry);
    }
    return text;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) {
            text += separator;
        }
        text += part;
    }
    return text;
}

// A value of the service's answer as text: a list's letters joined, else the value's text.
std::string lettersOf(const KVJson& value) {
    return value.is_array() ? joined(value, "") : KVS(value);
}

std::string printed(const char* format, int64_t value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

const KVGrade* gradeOf(const KVDraftSession& session, std::string_view name) {
    const auto found = session.grades.find(KVLowercase(name));
    return found == session.grades.end() ? nullptr : &found->second;
}

} // namespace

const KVDraftSession& KVPanelView::shown() const {
    // No session reads as an empty one.
    static const KVDraftSession empty(nullptr);
    return session ? *session : empty;
}

double KVPanelView::drawStatus(std::string_view text, double top, double left, double width,
                               bool draw) {
    if (draw) {
        KVDrawText(*canvas_, text, KVFont(11, false), KVHex("#8a94a3"), 0, false,
                   {left, top, width, 14});
    }
    return top;
}

double KVPanelView::drawCallLabel(std::string_view label, std::string_view text, double top,
                                  double left, double width, bool draw, std::string_view) {
    KVCanvas& canvas = *canvas_;
    const KVFontSpec font = KVFont(12, false);
    const double th = KVTextHeight(canvas, text, font, true, width - 24);
    const double bh = (label.empty() ? 9 : 23) + th + 10;
    if (draw) {
        KVFillRounded(canvas, white().withAlpha(0.03), white().withAlpha(0.08),
                      {left, top, width, bh}, 12, 1);
        double ty = top + 9;
        if (!label.empty()) {
            KVDrawText(canvas, label, KVFont(9, true), KVHex("#6f7b8b"), 0, false,
                       {left + 12, ty, width - 24, 12});
            ty += 14;
        }
        KVDrawText(canvas, text, font, KVHex("#c7d0dc"), 0, true, {left + 12, ty, width - 24, th});
    }
    return top + bh + 10;
}

double KVPanelView::drawCall(std::string_view label, std::string_view name, std::string_view grade,
                             std::string_view explain, std::string_view next, double top,
                             double left, double width, bool draw) {
    KVCanvas& canvas = *canvas_;
    const double inner = width - 24;
    const double nameW = inner - 46;
    const double nh = KVTextHeight(canvas, name, KVSerif(16), true, nameW);
    const double eh = KVTextHeight(canvas, explain, KVFont(12, false), true, inner);
    const double xh = KVTextHeight(canvas, next, KVFont(11, false), true, inner);
    const double bh = 23 + nh + (eh > 0 ? eh + 4 : 0) + (xh > 0 ? xh + 4 : 0) + 10;
    if (draw) {
        const KVColor green = KVHex("#3ddc84");
        KVFillRounded(canvas, green.withAlpha(0.05), green.withAlpha(0.28), {left, top, width, bh},
                      12, 1);
        KVDrawText(canvas, label, KVFont(9, true), green, 0, false,
                   {left + 12, top + 9, inner, 12});
        KVDrawText(canvas, name, KVSerif(16), KVHex("#f4e4b3"), 0, true,
                   {left + 12, top + 23, nameW, nh});
        KVDrawGradeBadge(canvas, grade, {left + width - 48, top + 23, 36, 24}, 13);
        double cy = top + 23 + nh;
        if (eh > 0) {
            KVDrawText(canvas, explain, KVFont(12, false), KVHex("#c7d0dc"), 0, true,
                       {left + 12, cy + 4, inner, eh});
            cy += 4 + eh;
        }
        if (xh > 0) {
            KVDrawText(canvas, next, KVFont(11, false), KVHex("#8a94a3"), 0, true,
                       {left + 12, cy + 4, inner, xh});
        }
    }
    return top + bh + 10;
}

double KVPanelView::chip(std::string_view text, const KVColor& color, const KVPoint& at, bool draw,
                         double maxWidth) {
    const KVFontSpec font = KVFont(10, true);
    const double cw = std::min(KVTextWidth(*canvas_, text, font) + 16, std::max(maxWidth, 16.0));
    if (draw) {
        KVFillRounded(*canvas_, color.withAlpha(0.07), color.withAlpha(0.45), {at.x, at.y, cw, 18},
                      9, 1);
        KVDrawText(*canvas_, text, font, color, 1, false, {at.x + 8, at.y, cw - 16, 18});
    }
    return cw;
}

double KVPanelView::drawBodyAt(double top, double left, double width, bool draw) {
    KVCanvas& canvas = *canvas_;
    const KVDraftSession& s = shown();
    double y = top;

    if (s.locked) {
        drawStatus("Locked", y, left, width, draw);
        y += 20;
        return drawCallLabel("LOCKED",
                             s.lockedReason.empty()
                                 ? "Sign in and keep draft credits to see grades."
                                 : s.lockedReason,
                             y, left, width, draw, "warn");
    }
    if (s.completed && s.pool.size() >= 20) {
        drawStatus("Draft complete", y, left, width, draw);
        y += 20;
        y = drawCallLabel(
            "DRAFT COMPLETE",
            printed("%" PRId64 " cards drafted. Build the 40 to register.", int64_t(s.pool.size())),
            y, left, width, draw, "good");
        const KVRect button{left, y, width, 34};
        if (draw) {
            KVFillRounded(canvas, KVHex("#d4af6a"), std::nullopt, button, 8, 0);
            KVDrawText(canvas, "Build my deck", KVFont(13, true), KVHex("#14181f"), 1, false,
                       button);
        }
        hit(button, "build");
        return y + 44;
    }
    if (!inDraft) {
        drawStatus("Waiting for a draft", y, left, width, draw);
        y += 20;
        return drawCallLabel("", "", y, left, width, draw, "");
    }

    const bool graded = !(s.analyzing && s.grades.empty());
    std::string status = "Waiting for a draft";
    if (!graded) {
        status = "Reading the pack…";
    } else if (!s.pack.empty()) {
        status = printed("Pack %" PRId64, std::max<int64_t>(1, s.packNumber)) +
                 printed(" · Pick %" PRId64, std::max<int64_t>(1, s.pickNumber));
    }
    drawStatus(status, y, left, width, draw);
    y += 18;

    std::vector<std::pair<KVColor, std::string>> chips;
    const std::string commitment = KVS(KVJsonAt(s.lane, "commitment"));
    if (!commitment.empty() && commitment != "open") {
        const std::string text = commitment + " " + lettersOf(KVJsonAt(s.lane, "colors"));
        chips.emplace_back(KVHex("#e8d5a3"), std::string(KVTrimmed(text)));
    }
    if (!s.colorsOpen.empty()) {
        chips.emplace_back(KVHex("#3ddc84"), joined(s.colorsOpen, "") + " open");
    }
    const KVJson& contested = KVJsonAt(s.lane, "contested");
    if (contested.is_array() && !contested.empty()) {
        chips.emplace_back(KVHex("#f5c542"), joined(contested, "") + " contested");
    }
    const KVJson& cut = KVJsonAt(s.lane, "cut");
    if (cut.is_array() && !cut.empty()) {
        chips.emplace_back(KVHex("#ff8a65"), joined(cut, "") + " cut");
    }
    if (!chips.empty()) {
        double cx = left;
        for (const auto& [color, text] : chips) {
            const double cw = chip(text, color, {cx, y}, false, width);
            // A chip that does not fit opens a new row, unless it would be alone in the one it
            // leaves: then it stays, capped to the body's width.
            if (cx > left && cx + cw > left + width) {
                cx = left;
                y += 23;
            }
            cx += chip(text, color, {cx, y}, draw, width) + 5;
        }
        y += 26;
    }

    double tx = left;
    for (const auto& [name, title] : {std::pair<std::string_view, std::string_view>{"pack", "PACK"},
                                      {"table", "TABLE"},
                                      {"deck", "DECK"}}) {
        const double tw = KVTextWidth(canvas, title, KVFont(10, true)) + 18;
        const KVRect box{tx, y, tw, 18};
        if (draw) {
            const KVColor gold = KVHex("#e8d5a3");
            const bool selected = view == name;
            if (selected) {
                KVFillRounded(canvas, gold.withAlpha(0.1), gold.withAlpha(0.35), box, 9, 1);
            }
            KVDrawText(canvas, title, KVFont(10, true), selected ? gold : KVHex("#6f7b8b"), 1,
                       false, box);
        }
        hit(box, "tab:" + std::string(name));
        tx += tw + 4;
    }
    y += 26;

    if (view == "table") {
        return drawTableAt(y, left, width, draw);
    }
    if (view == "deck") {
        return drawDeckAt(y, left, width, draw);
    }
    return drawPackAt(y, left, width, draw, graded);
}

double KVPanelView::drawPackAt(double top, double left, double width, bool draw, bool graded) {
    KVCanvas& canvas = *canvas_;
    const KVDraftSession& s = shown();
    double y = top;

    const KVGrade* best = s.bestPick.empty() ? nullptr : gradeOf(s, s.bestPick);
    if (!graded) {
        y = drawCallLabel("READING THE PACK", "Korvane is grading these cards…", y, left, width,
                          draw, "");
    } else if (!s.analyzeError.empty()) {
        y = drawCallLabel("NO GRADES",
                          "Korvane couldn't grade this pack: " + s.analyzeError +
                              ". It will try again on the next pack.",
                          y, left, width, draw, "warn");
    } else if (best == nullptr) {
        y = drawCallLabel("WAITING",
                          "Grades appear here when a pack opens. Seeing nothing? Turn on Detailed "
                          "Logs (Plugin Support) in Arena → Settings → Account, then restart "
                          "Arena.",
                          y, left, width, draw, "");
    } else {
        const bool two = s.numToPick >= 2 && !s.secondPick.empty();
        const std::string name = two ? s.bestPick + " + " + s.secondPick : s.bestPick;
        std::string next;
        if (!s.runnerUp.empty() && KVLowercase(s.runnerUp) != KVLowercase(s.bestPick)) {
            const KVGrade* runner = gradeOf(s, s.runnerUp);
            next = runner != nullptr && !runner->reason.empty()
                       ? "Next: " + s.runnerUp + " — " + runner->reason
                       : "Next: " + s.runnerUp;
        }
        y = drawCall(two ? "TAKE TWO" : "TAKE", name, best->grade, s.summary, next, y, left, width,
                     draw);
    }

    const std::vector<KVAdvice> rows = s.advice();
    const int64_t picks = std::max<int64_t>(1, s.numToPick);
    const double rx = left + 2;
    const double rw = width - 4;
    for (size_t i = 0; i < rows.size(); ++i) {
        const KVAdvice& row = rows[i];
        if (draw) {
            const std::vector<std::string>& colors =
                row.card && !row.card->colors.empty()
                    ? row.card->colors
                    : (row.card ? row.card->colorIdentity : std::vector<std::string>{});
            canvas.gradient({rx, y + 3, 3, 16}, KVBarColors(colors));
            const bool highlighted = int64_t(i) < picks && graded;
            KVDrawText(canvas, row.card ? row.card->name : "", KVFont(12, highlighted),
                       KVHex(highlighted ? "#f4e4b3" : "#e6ebf2"), 0, false,
                       {rx + 12, y, rw - 52, 22});
            KVDrawGradeBadge(canvas, graded ? row.grade : "…", {rx + rw - 32, y + 1, 32, 20}, 11);
        }
        y += 24;
    }
    if (rows.empty()) {
        y += 4;
    }

    if (graded && !s.warning.empty()) {
        const std::string text = "⚠ " + s.warning;
        const double h = KVTextHeight(canvas, text, KVFont(11, false), true, width);
        if (draw) {
            KVDrawText(canvas, text, KVFont(11, false), KVHex("#f5c542"), 0, true,
                       {left, y + 6, width, h});
        }
        y += h + 10;
    }

    const std::string hole = graded ? KVS(KVJsonAt(s.lane, "hole")) : "";
    const std::string watch = graded ? KVS(KVJsonAt(s.lane, "watch")) : "";
    if (!hole.empty() || !watch.empty()) {
        y += 6;
        const double cw = (width - 8) * 0.5;
        const double tw = cw - 20;
        const double bh = std::max(KVTextHeight(canvas, hole, KVFont(11, false), true, tw),
                                   KVTextHeight(canvas, watch, KVFont(11, false), true, tw)) +
                          30;
        const std::pair<std::string_view, const std::string*> boxes[] = {{"HOLE", &hole},
                                                                         {"WATCH", &watch}};
        for (size_t i = 0; i < 2; ++i) {
            const auto& [title, text] = boxes[i];
            const double bx = i == 0 ? left : left + cw + 8;
            if (draw && !text->empty()) {
                KVFillRounded(canvas, white().withAlpha(0.03), white().withAlpha(0.07),
                              {bx, y, cw, bh}, 10, 1);
                KVDrawText(canvas, title, KVFont(9, true), KVHex("#6f7b8b"), 0, false,
                           {bx + 10, y + 7, tw, 12});
                KVDrawText(canvas, *text, KVFont(11, false), KVHex("#c7d0dc"), 0, true,
                           {bx + 10, y + 21, tw, bh - 28});
            }
        }
        y += bh + 10;
    }
    return y + 4;
}

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
