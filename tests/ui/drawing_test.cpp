#include "offscreen_qt.hpp"
#include "ui/drawing.hpp"
#include "ui/qt_canvas.hpp"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>
#include <QPainter>

#include <cmath>

namespace {

uint32_t rgbOf(const KVColor& color) {
    return uint32_t(std::lround(color.red * 255)) << 16 |
           uint32_t(std::lround(color.green * 255)) << 8 | uint32_t(std::lround(color.blue * 255));
}

TEST(DrawingTest, HexReadsTheLongestRunAfterOneHash) {
    const struct {
        const char* text;
        uint32_t rgb;
    } cases[] = {
        {"#3DDC84", 0x3DDC84},
        {"3DDC84", 0x3DDC84},
        {"#3ddc84", 0x3DDC84},
        {"#FFF", 0x000FFF},
        {"#12G456", 0x000012},
        {"##123456", 0x000000},
        {"zz", 0x000000},
        {"", 0x000000},
        {"#", 0x000000},
        // Past 32 bits the number saturates: every channel full.
        {"#123456789ABC", 0xFFFFFF},
        {"#80FF0000", 0xFF0000},
    };
    for (const auto& c : cases) {
        const KVColor color = KVHex(c.text);
        EXPECT_EQ(rgbOf(color), c.rgb) << c.text;
        EXPECT_EQ(color.alpha, 1) << c.text;
    }
}

// The tables' own entries are their data; what a key outside them gets is behaviour.
TEST(DrawingTest, ColourTablesFallBackForKeysOutsideThem) {
    EXPECT_EQ(KVGradeColor("A"), KVGradeColor("A+"));
    EXPECT_NE(KVGradeColor("A"), KVGradeColor("A-"));
    for (const char* unknown : {"", "E", "a", "?", "A++"}) {
        EXPECT_EQ(rgbOf(KVGradeColor(unknown)), 0x90A4AEu) << unknown;
    }
    const auto bars = [](const std::vector<std::string>& letters) {
        std::vector<uint32_t> rgb;
        for (const KVColor& color : KVBarColors(letters)) {
            rgb.push_back(rgbOf(color));
        }
        return rgb;
    };
    // In WUBRG order whatever order they come in; nothing known is one neutral bar.
    EXPECT_EQ(bars({"G", "W"}), (std::vector<uint32_t>{0xd8d0b4, 0x5cae72}));
    EXPECT_EQ(bars({"R", "U", "B", "W", "G"}),
              (std::vector<uint32_t>{0xd8d0b4, 0x5f9bd6, 0x8c7aa3, 0xd3644a, 0x5cae72}));
    EXPECT_EQ(bars({}), (std::vector<uint32_t>{0x3a4351}));
    EXPECT_EQ(bars({"C", "w", "Multi"}), (std::vector<uint32_t>{0x3a4351}));
    EXPECT_EQ(rgbOf(TierColor("WIDE")), rgbOf(TierColor("")));
    EXPECT_NE(rgbOf(TierColor("wide")), rgbOf(TierColor("")));
}

TEST(DrawingTest, DrawTextCentresInATallBoxAndReturnsTheTextsHeight) {
    KVRecordingCanvas canvas;
    EXPECT_EQ(KVDrawText(canvas, "", KVFont(12, false), {}, 0, false, {0, 0, 100, 30}), 0);
    EXPECT_TRUE(canvas.draws.empty());

    // One line of 12-pixel text is 15 high on the recording canvas.
    EXPECT_EQ(KVDrawText(canvas, "Shock", KVFont(12, false), {}, 1, false, {10, 20, 100, 30}), 15);
    ASSERT_EQ(canvas.draws.size(), 1u);
    EXPECT_EQ(canvas.draws[0].rect, (KVRect{10, 27.5, 100, 15}));
    EXPECT_EQ(canvas.draws[0].attrs.alignment, 1);

    // A box too small for the text gets it at its own size, from the box's top.
    canvas.draws.clear();
    const double height =
        KVDrawText(canvas, "a few words that wrap", KVFont(10, false), {}, 7, true, {0, 5, 40, 10});
    EXPECT_EQ(height, 50); // four lines of 12.5
    EXPECT_EQ(canvas.draws[0].rect, (KVRect{0, 5, 40, 10}));
    EXPECT_EQ(canvas.draws[0].attrs.alignment, 0) << "an unknown alignment code is left";

    EXPECT_EQ(KVTextWidth(canvas, "abc", KVFont(10, false)), 18);
    EXPECT_EQ(KVTextWidth(canvas, "é€", KVFont(10, false)), 12) << "UTF-16 units, not bytes";
}

TEST(DrawingTest, QtFontsArePixelSizedAndTheSerifFallsBackToTheBoldSystemFace) {
    OffscreenQt();
    const QFont sans = KVQtCanvas::qtFont(KVFont(12.4, false));
    EXPECT_EQ(sans.pixelSize(), 12);
    EXPECT_FALSE(sans.bold());
    const QFont serif = KVQtCanvas::qtFont(KVSerif(16));
    EXPECT_EQ(serif.pixelSize(), 16);
    EXPECT_TRUE(serif.bold());
    if (QFontInfo(serif).family() != "Georgia") {
        EXPECT_EQ(serif.family(), KVQtCanvas::qtFont(KVFont(16, true)).family());
    }
}

QRect paintedBounds(const QImage& image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

TEST(DrawingTest, TheQtCanvasDrawsAWrappedTextInTheHeightItMeasured) {
    OffscreenQt();
    const std::string texts[] = {
        "Arena only writes the pack data Korvane reads when Detailed Logs is on.",
        "Averyveryveryveryverylongwordthatcannotwrapatanyspaceatall and more",
        "Two\n\nparagraphs",
    };
    for (const std::string& text : texts) {
        QImage image(200, 400, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        KVQtCanvas canvas(&painter);
        const KVFontSpec font = KVFont(12, false);
        const double measured = KVTextHeight(canvas, text, font, true, 120);
        EXPECT_GT(measured, 30) << "wraps onto several lines: " << text;
        EXPECT_EQ(
            KVDrawText(canvas, text, font, KVHex("#ffffff"), 0, true, {10, 10, 120, measured}),
            measured);
        painter.end();
        EXPECT_TRUE(canvas.overflows().empty()) << canvas.overflows().front();
        const QRect painted = paintedBounds(image);
        EXPECT_GE(painted.top(), 10) << text;
        EXPECT_LT(painted.bottom(), 10 + measured) << text;
        // The last line is drawn in the last line's height, not beyond and not missing.
        EXPECT_GT(painted.bottom(), 10 + measured - 16) << text;
    }
}

TEST(DrawingTest, OneLineTextIsCutWithAnEllipsisInsideItsBox) {
    OffscreenQt();
    QImage image(300, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    KVQtCanvas canvas(&painter);
    const std::string name(400, 'M');
    KVDrawText(canvas, name, KVFont(12, true), KVHex("#ffffff"), 0, false, {0, 0, 100, 22});
    painter.end();
    EXPECT_TRUE(canvas.overflows().empty());
    EXPECT_LE(paintedBounds(image).right(), 100) << "painted past the box";
}

} // namespace
