#include "ui/drawing.hpp"

#include "base/ascii.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>

namespace {

using ColorTable = std::map<std::string, KVColor, std::less<>>;

ColorTable tableOf(std::initializer_list<std::pair<const char*, const char*>> entries) {
    ColorTable table;
    for (const auto& [key, hex] : entries) {
        table.emplace(key, KVHex(hex));
    }
    return table;
}

KVColor lookup(const ColorTable& table, std::string_view key, const KVColor& fallback) {
    const auto found = table.find(key);
    return found == table.end() ? fallback : found->second;
}

// Heights and widths come up to the next whole pixel; a hair above a whole number (the sum of
// fractional line heights) is that number.
double roundUp(double value) {
    return std::ceil(value - 1e-6);
}

bool screenshotMode = false;

} // namespace

KVColor KVHex(std::string_view text) {
    if (!text.empty() && text.front() == '#') {
        text.remove_prefix(1);
    }
    uint64_t value = 0;
    for (const char c : text) {
        const int digit = KVHexDigitValue(c);
        if (digit < 0) {
            break;
        }
        value = std::min<uint64_t>(value * 16 + uint64_t(digit), UINT32_MAX);
    }
    return {double((value >> 16) & 0xFF) / 255.0, double((value >> 8) & 0xFF) / 255.0,
            double(value & 0xFF) / 255.0, 1};
}

KVColor KVGradeColor(std::string_view grade) {
    static const ColorTable table = tableOf({{"A+", "#3DDC84"},
                                             {"A", "#3DDC84"},
                                             {"A-", "#7CDE6A"},
                                             {"B+", "#B4E645"},
                                             {"B", "#D4E157"},
                                             {"B-", "#F0E36A"},
                                             {"C+", "#F5C542"},
                                             {"C", "#FFB74D"},
                                             {"C-", "#FFA726"},
                                             {"D+", "#FF8A65"},
                                             {"D", "#FF7043"},
                                             {"D-", "#F4511E"},
                                             {"F", "#E53935"},
                                             {"?", "#90A4AE"}});
    static const KVColor unknown = KVHex("#90A4AE");
    return lookup(table, grade, unknown);
}

std::vector<KVColor> KVBarColors(const std::vector<std::string>& letters) {
    static const std::vector<std::pair<std::string, KVColor>> bars = {{"W", KVHex("#d8d0b4")},
                                                                      {"U", KVHex("#5f9bd6")},
                                                                      {"B", KVHex("#8c7aa3")},
                                                                      {"R", KVHex("#d3644a")},
                                                                      {"G", KVHex("#5cae72")}};
    static const KVColor none = KVHex("#3a4351");
    std::vector<KVColor> colors;
    for (const auto& [letter, color] : bars) {
        if (std::find(letters.begin(), letters.end(), letter) != letters.end()) {
            colors.push_back(color);
        }
    }
    if (colors.empty()) {
        colors.push_back(none);
    }
    return colors;
}

KVColor TierColor(std::string_view state) {
    static const ColorTable table = tableOf({{"wide", "#3ddc84"},
                                             {"open", "#b4e645"},
                                             {"some", "#f5c542"},
                                             {"thin", "#ff8a65"},
                                             {"cut", "#e53935"},
                                             {"unknown", "#3a4351"}});
    static const KVColor unknown = KVHex("#3a4351");
    return lookup(table, state, unknown);
}

KVColor PipColor(std::string_view symbol) {
    static const ColorTable table = tableOf({{"W", "#FFFBD5"},
                                             {"U", "#AAE0FA"},
                                             {"B", "#CBC2BF"},
                                             {"R", "#F9AA8F"},
                                             {"G", "#9BD3AE"},
                                             {"C", "#CAC5C0"}});
    static const KVColor colorless = KVHex("#CAC5C0");
    return lookup(table, symbol, colorless);
}

KVFontSpec KVFont(double size, bool bold) {
    return {size, bold, false};
}

KVFontSpec KVSerif(double size) {
    return {size, true, true};
}

KVTextAttrs Attrs(const KVFontSpec& font, const KVColor& color, int alignment, bool wrap) {
    return {font, color, alignment >= 0 && alignment <= 2 ? alignment : 0, wrap};
}

double KVTextWidth(KVCanvas& canvas, std::string_view text, const KVFontSpec& font) {
    return text.empty() ? 0 : roundUp(canvas.textWidth(text, font));
}

double KVTextHeight(KVCanvas& canvas, std::string_view text, const KVFontSpec& font, bool wrap,
                    double width) {
    if (text.empty()) {
        return 0;
    }
    return roundUp(canvas.textHeight(text, Attrs(font, {}, 0, wrap), width));
}

double KVDrawText(KVCanvas& canvas, std::string_view text, const KVFontSpec& font,
                  const KVColor& color, int alignment, bool wrap, const KVRect& rect) {
    if (text.empty()) {
        return 0;
    }
    // Measured with the attributes it is drawn with: a canvas lays the text out once for both.
    const KVTextAttrs attrs = Attrs(font, color, alignment, wrap);
    const double height = roundUp(canvas.textHeight(text, attrs, rect.width));
    if (rect.height > height) {
        canvas.drawText(text, attrs,
                        {rect.x, rect.y + (rect.height - height) * 0.5, rect.width, height});
    } else {
        canvas.drawText(text, attrs, rect);
    }
    return height;
}

void KVFillRounded(KVCanvas& canvas, std::optional<KVColor> fill, std::optional<KVColor> stroke,
                   const KVRect& rect, double radius, double lineWidth) {
    canvas.roundedRect(rect, radius, fill, stroke, lineWidth);
}

void KVDrawGradeBadge(KVCanvas& canvas, std::string_view grade, const KVRect& rect,
                      double fontSize) {
    const KVColor color = KVGradeColor(grade);
    KVFillRounded(canvas, KVColor{0, 0, 0, 0.28}, color, rect, 6, 1);
    KVDrawText(canvas, grade.empty() ? "?" : grade, KVFont(fontSize, true), color, 1, false, rect);
}

bool KVScreenshotMode() {
    return screenshotMode;
}

void KVSetScreenshotMode(bool on) {
    screenshotMode = on;
}
