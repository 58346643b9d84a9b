#pragma once

#include "ui/canvas.hpp"

#include <QFont>
#include <QString>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

class QPainter;
class QTextLayout;

// The canvas over a QPainter (a window or a QImage), or, without one, a canvas that only
// measures. Fonts are sized in logical pixels; one QTextLayout path measures and draws, so a
// measured height is the height the drawn text takes.
class KVQtCanvas : public KVCanvas {
public:
    explicit KVQtCanvas(QPainter* painter = nullptr);
    ~KVQtCanvas() override;

    double textWidth(std::string_view text, const KVFontSpec& font) override;
    double textHeight(std::string_view text, const KVTextAttrs& attrs, double width) override;
    void drawText(std::string_view text, const KVTextAttrs& attrs, const KVRect& box) override;
    void roundedRect(const KVRect& rect, double radius, std::optional<KVColor> fill,
                     std::optional<KVColor> stroke, double lineWidth) override;
    void gradient(const KVRect& rect, const std::vector<KVColor>& colors) override;

    // The Qt font of a font choice.
    static QFont qtFont(const KVFontSpec& font);

    // Texts drawn into a box smaller than they need, as "text: why": what the gallery checks.
    const std::vector<std::string>& overflows() const { return overflows_; }

private:
    std::unique_ptr<QTextLayout> layOut(std::string_view text, const KVTextAttrs& attrs,
                                        double width, double* height, double* widest);

    QPainter* painter_;
    std::vector<std::string> overflows_;
    // Heights measured so far in this canvas: the measuring pass asks again what it asked.
    std::map<std::tuple<std::string, double, bool, bool, bool, double>, double> heights_;
};
