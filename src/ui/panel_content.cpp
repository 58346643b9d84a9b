// The draft body of the panel: locked, draft complete, waiting, the tab row and the PACK tab.
#include "base/utf8.hpp"
#include "draft/draft_session.hpp"
#include "ui/drawing.hpp"
#include "ui/panel_text.hpp"
#include "ui/panel_view.hpp"

#include <algorithm>
#include <cinttypes>

namespace {

using kv_panel::joined;
using kv_panel::printed;
using kv_panel::white;

// A value of the service's answer as text: a list's letters joined, else the value's text.
std::string lettersOf(const KVJson& value) {
    return value.is_array() ? joined(value, "") : KVS(value);
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
