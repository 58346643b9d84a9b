#pragma once

#include "ui/canvas.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The drawing vocabulary of every overlay window: colours from hex text, the fixed colour
// tables, the two fonts, text measured and set in a box, rounded fills and the grade badge.
// Main thread only. The tables are built once, on first use, and never change.

// The number in the longest run of hex digits after one optional "#", as 0xRRGGBB (saturating
// past 32 bits); text without digits is black.
KVColor KVHex(std::string_view text);

// A grade's colour; a grade outside the table (the empty one included) is grey-blue.
KVColor KVGradeColor(std::string_view grade);
// One bar colour per mana colour present, always in the order W, U, B, R, G; a slate bar when
// none of the five is there.
std::vector<KVColor> KVBarColors(const std::vector<std::string>& letters);
// A table lane's colour by its state word ("wide", "open", "some", "thin", "cut", "unknown").
KVColor TierColor(std::string_view state);
// A mana-cost pip's colour by its symbol.
KVColor PipColor(std::string_view symbol);

KVFontSpec KVFont(double size, bool bold);
// The title face: Georgia Bold where the system has it, else the bold system face.
KVFontSpec KVSerif(double size);

KVTextAttrs Attrs(const KVFontSpec& font, const KVColor& color, int alignment, bool wrap);

// Measured sizes, rounded up to whole pixels; 0 for an empty text.
double KVTextWidth(KVCanvas& canvas, std::string_view text, const KVFontSpec& font);
double KVTextHeight(KVCanvas& canvas, std::string_view text, const KVFontSpec& font, bool wrap,
                    double width);

// Sets `text` in `rect`, centred vertically when the rect is taller than the text, and returns
// the text's measured height (not the rect's), so callers stack blocks by adding the results.
double KVDrawText(KVCanvas& canvas, std::string_view text, const KVFontSpec& font,
                  const KVColor& color, int alignment, bool wrap, const KVRect& rect);

void KVFillRounded(KVCanvas& canvas, std::optional<KVColor> fill, std::optional<KVColor> stroke,
                   const KVRect& rect, double radius, double lineWidth);

// A grade in its colour on a dark rounded plate ("?" for an empty grade).
void KVDrawGradeBadge(KVCanvas& canvas, std::string_view grade, const KVRect& rect,
                      double fontSize);

// While on, the overlay windows stay visible to screenshots (the user asked for one of them).
bool KVScreenshotMode();
void KVSetScreenshotMode(bool on);
