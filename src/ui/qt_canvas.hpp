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
    static QFont qtFont(const KVFontSpec& spec);

    // Texts drawn into a box smaller than they need, as "text: why": what the gallery checks.
    const std::vector<std::string>& overflows() const { return overflows_; }

    // Paints with `painter` from now on (none: measures only). A window keeps one canvas across
    // paints, so that texts it laid out before are not laid out again.
    void setPainter(QPainter* painter);

private:
    struct Laid {
        std::unique_ptr<QTextLayout> layout;
        double height = 0;
        double widest = 0;
    };
    // The text laid out in a box `width` wide; kept for the next measure or draw of it.
    const Laid& layOut(std::string_view text, const KVTextAttrs& attrs, double width);

    QPainter* painter_;
    std::vector<std::string> overflows_;
    using Key = std::tuple<std::string, double, bool, bool, bool, int, double>;
    std::map<Key, Laid> laid_;
};
