#pragma once

#include "platform/geometry.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the overlay windows draw with: a colour, a font choice, text attributes and the canvas
// that measures and paints them. Layout code is plain C++ over KVCanvas, so it runs the same on
// a QPainter and on the recording canvas of the tests.

struct KVPoint {
    double x = 0;
    double y = 0;
    bool operator==(const KVPoint&) const = default;
};

// sRGB components and alpha, each 0…1.
struct KVColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    bool operator==(const KVColor&) const = default;
    KVColor withAlpha(double value) const { return {red, green, blue, value}; }
};

// A font by what it is for: the system sans-serif face, or the serif title face. Sizes are
// logical pixels.
struct KVFontSpec {
    double size = 12;
    bool bold = false;
    bool serif = false;
    bool operator==(const KVFontSpec&) const = default;
};

// How a text is set: alignment 0 = left, 1 = centre, 2 = right (anything else is left); wrapped
// at words, or one line cut at its end with an ellipsis.
struct KVTextAttrs {
    KVFontSpec font;
    KVColor color;
    int alignment = 0;
    bool wrap = false;
};

class KVCanvas {
public:
    virtual ~KVCanvas() = default;

    // The width of `text` set on one line, unrounded.
    virtual double textWidth(std::string_view text, const KVFontSpec& font) = 0;
    // The height of `text` laid out in a box `width` wide, lines stacked from the top,
    // unrounded. Measuring and drawing share one layout, so this is the height drawText takes.
    virtual double textHeight(std::string_view text, const KVTextAttrs& attrs, double width) = 0;
    // Sets `text` in `box`, from its top edge.
    virtual void drawText(std::string_view text, const KVTextAttrs& attrs, const KVRect& box) = 0;
    // One rounded rectangle: filled when `fill` is given, then stroked when `stroke` is.
    virtual void roundedRect(const KVRect& rect, double radius, std::optional<KVColor> fill,
                             std::optional<KVColor> stroke, double lineWidth) = 0;
    // Fills `rect` with the colours spread evenly from its top edge (the first) to its bottom.
    virtual void gradient(const KVRect& rect, const std::vector<KVColor>& colors) = 0;
};

// A canvas with metrics any machine reproduces, remembering every draw: for layout tests.
// A UTF-16 code unit is 0.6 × the font size wide; a line is 1.25 × the size high; wrapping
// breaks at spaces and line ends, and inside a word longer than the box.
class KVRecordingCanvas : public KVCanvas {
public:
    struct Draw {
        enum Kind { textKind, roundedKind, gradientKind } kind = textKind;
        KVRect rect;
        std::string text;
        KVTextAttrs attrs;
        double radius = 0;
        std::optional<KVColor> fill;
        std::optional<KVColor> stroke;
        double lineWidth = 0;
        std::vector<KVColor> colors;
    };
    std::vector<Draw> draws;

    double textWidth(std::string_view text, const KVFontSpec& font) override;
    double textHeight(std::string_view text, const KVTextAttrs& attrs, double width) override;
    void drawText(std::string_view text, const KVTextAttrs& attrs, const KVRect& box) override;
    void roundedRect(const KVRect& rect, double radius, std::optional<KVColor> fill,
                     std::optional<KVColor> stroke, double lineWidth) override;
    void gradient(const KVRect& rect, const std::vector<KVColor>& colors) override;

    // The first text drawn that contains `part`, or none.
    const Draw* findText(std::string_view part) const;
    // Every text drawn, in order.
    std::vector<std::string> texts() const;
    // How many lines `text` takes in a box `width` wide.
    static int lineCount(std::string_view text, double size, double width);
};
