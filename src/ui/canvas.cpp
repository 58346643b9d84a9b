#include "ui/canvas.hpp"

#include "base/utf8.hpp"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kUnitWidth = 0.6;
constexpr double kLineHeight = 1.25;

} // namespace

int KVRecordingCanvas::lineCount(std::string_view text, double size, double width) {
    const double unit = kUnitWidth * size;
    const size_t perLine = unit > 0 ? std::max<size_t>(1, size_t(std::floor(width / unit))) : 1;
    int lines = 0;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view paragraph = text.substr(start, end - start);
        // Greedy filling by words; a word longer than a line takes whole lines of its own.
        size_t used = 0;
        int paragraphLines = 1;
        size_t at = 0;
        while (at < paragraph.size()) {
            size_t next = paragraph.find(' ', at);
            next = next == std::string_view::npos ? paragraph.size() : next;
            const size_t word = KVUtf16Length(paragraph.substr(at, next - at));
            const size_t needed = used == 0 ? word : used + 1 + word;
            if (needed <= perLine) {
                used = needed;
            } else {
                if (used > 0) {
                    ++paragraphLines;
                }
                paragraphLines += int((word > 0 ? word - 1 : 0) / perLine);
                used = word % perLine == 0 && word > 0 ? perLine : word % perLine;
            }
            at = next + 1;
        }
        lines += paragraphLines;
        start = end + 1;
    }
    return lines;
}

double KVRecordingCanvas::textWidth(std::string_view text, const KVFontSpec& font) {
    return double(KVUtf16Length(text)) * kUnitWidth * font.size;
}

double KVRecordingCanvas::textHeight(std::string_view text, const KVTextAttrs& attrs,
                                     double width) {
    if (text.empty()) {
        return 0;
    }
    const int lines = attrs.wrap ? lineCount(text, attrs.font.size, width) : 1;
    return lines * kLineHeight * attrs.font.size;
}

void KVRecordingCanvas::drawText(std::string_view text, const KVTextAttrs& attrs,
                                 const KVRect& box) {
    Draw draw;
    draw.kind = Draw::textKind;
    draw.rect = box;
    draw.text = std::string(text);
    draw.attrs = attrs;
    draws.push_back(std::move(draw));
}

void KVRecordingCanvas::roundedRect(const KVRect& rect, double radius, std::optional<KVColor> fill,
                                    std::optional<KVColor> stroke, double lineWidth) {
    Draw draw;
    draw.kind = Draw::roundedKind;
    draw.rect = rect;
    draw.radius = radius;
    draw.fill = fill;
    draw.stroke = stroke;
    draw.lineWidth = lineWidth;
    draws.push_back(std::move(draw));
}

void KVRecordingCanvas::gradient(const KVRect& rect, const std::vector<KVColor>& colors) {
    Draw draw;
    draw.kind = Draw::gradientKind;
    draw.rect = rect;
    draw.colors = colors;
    draws.push_back(std::move(draw));
}

const KVRecordingCanvas::Draw* KVRecordingCanvas::findText(std::string_view part) const {
    for (const Draw& draw : draws) {
        if (draw.kind == Draw::textKind && draw.text.find(part) != std::string::npos) {
            return &draw;
        }
    }
    return nullptr;
}

std::vector<std::string> KVRecordingCanvas::texts() const {
    std::vector<std::string> all;
    for (const Draw& draw : draws) {
        if (draw.kind == Draw::textKind) {
            all.push_back(draw.text);
        }
    }
    return all;
}
